// SQLite helpers shared by the snapshot, the query layer and the site (header only: the user
// links SQLite): owners of connections and statements, and quoted names.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

namespace ringolan::sqlite {

struct CloseConnection {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};

using DbHandle = std::unique_ptr<sqlite3, CloseConnection>;
using StmtHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// A name between double quotes, inner double quotes doubled.
inline std::string quote_identifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

}  // namespace ringolan::sqlite
