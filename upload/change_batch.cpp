#include "upload/change_batch.h"

#include <algorithm>
#include <map>
#include <random>
#include <span>
#include <string_view>

#include "common/cp1252.h"

namespace ringolan::upload {

namespace {

std::vector<std::string_view> sorted(std::span<const std::string> lines) {
    std::vector<std::string_view> out(lines.begin(), lines.end());
    std::sort(out.begin(), out.end());
    return out;
}

TableDiff diff_table(const std::string& code, const std::vector<std::string>& before,
                     const std::vector<std::string>& after, double replace_share) {
    TableDiff diff{code, false, {}, {}};
    if (before == after) return diff;
    // Lines equal at the same place from either end cancel out; only the rest is sorted (a
    // change to a few rows of a large table leaves most lines where they were).
    std::size_t head = 0, tail = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    const std::span<const std::string> old_rest(before.data() + head, before.size() - head - tail);
    const std::span<const std::string> new_rest(after.data() + head, after.size() - head - tail);
    const std::vector<std::string_view> a = sorted(old_rest), b = sorted(new_rest);
    std::map<std::string_view, std::size_t> added;  // line -> how many more in after
    std::size_t i = 0, j = 0, inserted = 0;
    while (i < a.size() || j < b.size()) {
        if (j == b.size() || (i < a.size() && a[i] < b[j])) {
            diff.deletes.emplace_back(a[i++]);
        } else if (i == a.size() || b[j] < a[i]) {
            ++added[b[j++]];
            ++inserted;
        } else {
            ++i, ++j;
        }
    }
    const std::size_t changed = diff.deletes.size() + inserted;
    if (changed > 0 && double(changed) > replace_share * double(std::max(before.size(), after.size()))) {
        diff.replace = true;
        diff.deletes.clear();
        diff.inserts = after;
        return diff;
    }
    for (const std::string& line : new_rest) {  // the inserts in dump order
        const auto it = added.find(line);
        if (it == added.end() || it->second == 0) continue;
        --it->second;
        diff.inserts.push_back(line);
    }
    return diff;
}

}  // namespace

std::vector<TableDiff> diff_tables(const TablesDump& before, const TablesDump& after, double replace_share) {
    static const std::vector<std::string> none;
    std::vector<TableDiff> out;
    for (const TableLines& table : after) {
        const auto old = std::find_if(before.begin(), before.end(), [&](const auto& t) { return t.code == table.code; });
        TableDiff diff = diff_table(table.code, old == before.end() ? none : old->lines, table.lines, replace_share);
        if (diff.replace || !diff.deletes.empty() || !diff.inserts.empty()) out.push_back(std::move(diff));
    }
    for (const TableLines& table : before)
        if (std::none_of(after.begin(), after.end(), [&](const auto& t) { return t.code == table.code; }))
            out.push_back({table.code, true, {}, {}});
    return out;
}

std::vector<TableDiff> full_tables(const TablesDump& after) {
    std::vector<TableDiff> out;
    for (const TableLines& table : after) out.push_back({table.code, true, {}, table.lines});
    return out;
}

std::size_t OutgoingBatch::deleted() const {
    std::size_t n = 0;
    for (const TableDiff& t : tables) n += t.deletes.size();
    return n;
}

std::size_t OutgoingBatch::inserted() const {
    std::size_t n = 0;
    for (const TableDiff& t : tables) n += t.inserts.size();
    return n;
}

namespace {

// Appends a Windows-1252 text as a JSON string in UTF-8.
void append_json_text(std::string& out, std::string_view cp1252) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t plain = 0;  // start of the bytes not yet appended
    for (std::size_t i = 0; i < cp1252.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(cp1252[i]);
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') continue;
        out.append(cp1252.substr(plain, i - plain));
        plain = i + 1;
        if (c >= 0x80) {
            out += text::cp1252_to_utf8(cp1252.substr(i, 1));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out.append(cp1252.substr(plain));
    out += '"';
}

void append_lines(std::string& out, const char* name, const std::vector<std::string>& lines) {
    out += ",\"";
    out += name;
    out += "\":[";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += ',';
        append_json_text(out, lines[i]);
    }
    out += ']';
}

}  // namespace

std::string batch_json(const OutgoingBatch& batch) {
    std::size_t size = 128 + batch.stream.size();
    for (const TableDiff& t : batch.tables) {
        size += 64;
        for (const std::string& line : t.deletes) size += line.size() + line.size() / 8 + 3;
        for (const std::string& line : t.inserts) size += line.size() + line.size() / 8 + 3;
    }
    std::string out;
    out.reserve(size);
    out += "{\"stream\":";
    append_json_text(out, batch.stream);
    out += ",\"base\":" + std::to_string(batch.base) + ",\"sequence\":" + std::to_string(batch.sequence);
    out += ",\"tables\":[";
    for (std::size_t i = 0; i < batch.tables.size(); ++i) {
        const TableDiff& t = batch.tables[i];
        out += i ? ",{\"code\":" : "{\"code\":";
        append_json_text(out, t.code);
        out += t.replace ? ",\"replace\":true" : ",\"replace\":false";
        if (!t.deletes.empty()) append_lines(out, "deletes", t.deletes);
        if (!t.inserts.empty()) append_lines(out, "inserts", t.inserts);
        out += '}';
    }
    out += "]}";
    return out;
}

std::string new_stream_id() {
    std::random_device device;
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 32; ++i) id += digits[device() & 15];
    return id;
}

}  // namespace ringolan::upload
