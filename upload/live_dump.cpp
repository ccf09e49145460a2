#include "upload/live_dump.h"

#include <sstream>

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

TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum) {
    const auto connection = snapshot.connect();
    TablesDump out;
    for (const UploadTable& t : upload_tables(filter))
        out.push_back({std::string(t.code), split_dump(dump_text(connection.get(), t, itdatum))});
    return out;
}

}  // namespace ringolan::upload
