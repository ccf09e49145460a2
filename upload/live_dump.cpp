#include "upload/live_dump.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>
#include <unordered_map>

#include "common/ascii.h"

#include "db/query/query.h"
#include "db/query/row_cursor.h"
#include "upload/itdatum_dump.h"
#include "upload/sql_dump.h"

namespace ringolan::upload {

namespace {

// The dump of one table as UploadRun writes it.
std::string dump_text(sqlite3* db, const UploadTable& t, const std::string& itdatum) {
    SqlDump dump;
    dump.string_delim = "'";
    dump.numeric_delim = "'";
    dump.table_name = std::string(t.name);
    std::ostringstream out;
    if (t.code == "va") {
        db::Query options;
        options.set_command(t.statement);
        options.open(db);
        dump.query = &options;
        dump_with_itdatum(dump, out, t.code, itdatum);
    } else {
        db::RowCursor rows(db, t.statement);
        dump.dump_to(rows, out, t.code);
    }
    return std::move(out).str();
}

// Tables whose statement lists the key column first and reads that table alone, so that the
// rows of some keys can be read on their own.
struct KeyedTable {
    std::string_view code, table, column;
};
constexpr KeyedTable kKeyedTables[] = {{"r", "raenge", "Startnr"}, {"sc", "scheiben", "Sch_id"}};

// The statement for the rows whose key is one of `keys` or NULL (a NULL key is in no key list).
std::string keyed_statement(std::string_view statement, std::string_view column, const std::vector<int64_t>& keys) {
    std::string where = " where " + std::string(column) + " in (";
    for (std::size_t i = 0; i < keys.size(); ++i) where += (i ? "," : "") + std::to_string(keys[i]);
    where += ") or " + std::string(column) + " is null ";
    const std::size_t order = text::ascii_lower(statement).find(" order by ");
    if (order == std::string_view::npos) return std::string(statement) + where;
    return std::string(statement.substr(0, order)) + where + std::string(statement.substr(order));
}

int64_t row_count(sqlite3* db, std::string_view table) {
    db::RowCursor count(db, "select count(*) from " + std::string(table));
    return count.at_end() ? -1 : count.field(0).as_int();
}

// The table's lines in the new state, from its lines in `before` and the rows of the changed
// keys read again: a line of an unchanged key stays where it was, a new line takes the place of
// an old one of its key as far as they go, the rest follow. nullopt when the lines do not add up
// to the table's rows (it is then read whole).
std::optional<std::vector<std::string>> keyed_lines(sqlite3* db, const UploadTable& t, const KeyedTable& k,
                                                    const std::vector<std::string>& before,
                                                    const std::vector<int64_t>& keys) {
    const std::string statement = keyed_statement(t.statement, k.column, keys);
    std::vector<std::string> fresh = split_dump(dump_text(db, {t.name, t.code, statement}, {}));
    std::unordered_map<int64_t, std::vector<std::size_t>> fresh_of;  // the fresh lines of each key
    for (std::size_t i = 0; i < fresh.size(); ++i)
        if (const auto key = first_value_number(fresh[i])) fresh_of[*key].push_back(i);
    std::vector<bool> placed(fresh.size());
    std::unordered_map<int64_t, std::size_t> used;
    std::vector<std::string> out;
    out.reserve(before.size() + fresh.size());
    for (const std::string& line : before) {
        const std::optional<int64_t> key = first_value_number(line);
        if (key && !std::binary_search(keys.begin(), keys.end(), *key)) {
            out.push_back(line);
            continue;
        }
        const auto of = key ? fresh_of.find(*key) : fresh_of.end();
        if (of == fresh_of.end() || used[*key] == of->second.size()) continue;  // the row is gone
        const std::size_t i = of->second[used[*key]++];
        placed[i] = true;
        out.push_back(std::move(fresh[i]));
    }
    for (std::size_t i = 0; i < fresh.size(); ++i)
        if (!placed[i]) out.push_back(std::move(fresh[i]));
    if (int64_t(out.size()) != row_count(db, k.table)) return std::nullopt;
    return out;
}

// The keys told for the keyed table of `code`, and that table; nullptr when there are none.
const std::vector<int64_t>* keys_for(std::string_view code, const std::vector<db::TableKeys>& changed_keys,
                                     const KeyedTable*& keyed) {
    for (const KeyedTable& k : kKeyedTables) {
        if (k.code != code) continue;
        for (const db::TableKeys& keys : changed_keys)
            if (text::equal_ignoring_case(keys.table, k.table) && text::equal_ignoring_case(keys.column, k.column)) {
                keyed = &k;
                return &keys.values;
            }
    }
    return nullptr;
}

std::optional<std::vector<std::string>> lines_by_keys(sqlite3* db, const UploadTable& t,
                                                      const std::vector<std::string>& before,
                                                      const std::vector<db::TableKeys>& changed_keys) {
    const KeyedTable* keyed = nullptr;
    const std::vector<int64_t>* keys = keys_for(t.code, changed_keys, keyed);
    if (!keys) return std::nullopt;
    return keyed_lines(db, t, *keyed, before, *keys);
}

}  // namespace

std::optional<std::int64_t> first_value_number(std::string_view line) {
    // "#*i<code>#*'<value>',..."
    const std::size_t start = line.find("#*", 2);
    if (start == std::string_view::npos || start + 3 >= line.size() || line[start + 2] != '\'') return std::nullopt;
    const char* end = line.data() + line.size();
    std::int64_t value = 0;
    const auto [stop, ec] = std::from_chars(line.data() + start + 3, end, value);
    if (ec != std::errc() || stop == end || *stop != '\'') return std::nullopt;
    return value;
}

std::optional<std::vector<std::string>> lines_by_keys(const db::Snapshot& snapshot, std::string_view code,
                                                      const std::vector<std::string>& before,
                                                      const std::vector<db::TableKeys>& changed_keys) {
    for (const UploadTable& t : upload_tables(StarterFilter::All)) {
        if (t.code != code) continue;
        const auto connection = snapshot.connect();
        return lines_by_keys(connection.get(), t, before, changed_keys);
    }
    return std::nullopt;
}

std::vector<std::string> split_dump(std::string_view dump) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < dump.size()) {
        std::size_t end = dump.find("\r\n", start);
        while (end != std::string_view::npos && end + 2 < dump.size() && dump.substr(end + 2, 3) != "#*i")
            end = dump.find("\r\n", end + 2);
        if (end == std::string_view::npos) end = dump.size();
        lines.emplace_back(dump.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool statement_reads(std::string_view statement, std::string_view table) {
    const std::string text = text::ascii_lower(statement), name = text::ascii_lower(table);
    auto word_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((at == 0 || !word_char(text[at - 1])) && (end == text.size() || !word_char(text[end]))) return true;
    }
    return false;
}

TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum) {
    return dump_tables(snapshot, filter, itdatum, {}, {});
}

TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum,
                       const TablesDump& previous, const std::vector<std::string>& changed,
                       const std::vector<db::TableKeys>& changed_keys) {
    const auto connection = snapshot.connect();
    TablesDump out;
    for (const UploadTable& t : upload_tables(filter)) {
        const auto old = std::find_if(previous.begin(), previous.end(), [&](const auto& p) { return p.code == t.code; });
        const bool same = old != previous.end() && t.code != "va" &&
                          std::none_of(changed.begin(), changed.end(),
                                       [&](const std::string& name) { return statement_reads(t.statement, name); });
        if (same) {
            out.push_back(*old);
            continue;
        }
        std::optional<std::vector<std::string>> lines;
        if (old != previous.end()) lines = lines_by_keys(connection.get(), t, old->lines, changed_keys);
        if (!lines) lines = split_dump(dump_text(connection.get(), t, itdatum));
        out.push_back({std::string(t.code), std::move(*lines)});
    }
    return out;
}

}  // namespace ringolan::upload
