#include "upload/live_dump.h"

#include <algorithm>
#include <cctype>
#include <sstream>

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

}  // namespace

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
                       const TablesDump& previous, const std::vector<std::string>& changed) {
    const auto connection = snapshot.connect();
    TablesDump out;
    for (const UploadTable& t : upload_tables(filter)) {
        const auto old = std::find_if(previous.begin(), previous.end(), [&](const auto& p) { return p.code == t.code; });
        const bool same = old != previous.end() && t.code != "va" &&
                          std::none_of(changed.begin(), changed.end(),
                                       [&](const std::string& name) { return statement_reads(t.statement, name); });
        if (same)
            out.push_back(*old);
        else
            out.push_back({std::string(t.code), split_dump(dump_text(connection.get(), t, itdatum))});
    }
    return out;
}

}  // namespace ringolan::upload
