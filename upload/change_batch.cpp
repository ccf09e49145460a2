#include "upload/change_batch.h"

#include <algorithm>
#include <map>
#include <random>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/cp1252.h"

namespace ringolan::upload {

namespace {

std::vector<std::string_view> sorted(const std::vector<std::string>& lines) {
    std::vector<std::string_view> out(lines.begin(), lines.end());
    std::sort(out.begin(), out.end());
    return out;
}

TableDiff diff_table(const std::string& code, const std::vector<std::string>& before,
                     const std::vector<std::string>& after, double replace_share) {
    TableDiff diff{code, false, {}, {}};
    if (before == after) return diff;
    const std::vector<std::string_view> a = sorted(before), b = sorted(after);
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
    for (const std::string& line : after) {  // the inserts in dump order
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

std::string batch_json(const OutgoingBatch& batch) {
    using nlohmann::json;
    auto utf8_lines = [](const std::vector<std::string>& lines) {
        json out = json::array();
        for (const std::string& line : lines) out.push_back(text::cp1252_to_utf8(line));
        return out;
    };
    json tables = json::array();
    for (const TableDiff& t : batch.tables) {
        json entry = {{"code", text::cp1252_to_utf8(t.code)}, {"replace", t.replace}};
        if (!t.deletes.empty()) entry["deletes"] = utf8_lines(t.deletes);
        if (!t.inserts.empty()) entry["inserts"] = utf8_lines(t.inserts);
        tables.push_back(std::move(entry));
    }
    const json doc = {{"stream", batch.stream}, {"base", batch.base}, {"sequence", batch.sequence},
                      {"tables", std::move(tables)}};
    return doc.dump();
}

std::string new_stream_id() {
    std::random_device device;
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 32; ++i) id += digits[device() & 15];
    return id;
}

}  // namespace ringolan::upload
