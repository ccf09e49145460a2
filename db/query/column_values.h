// What Query and RowCursor share: the statement cache, preparing with bound values, the columns'
// types and the decoding of one SQLite value into the texts and numbers a field reads as.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "common/sqlite.h"
#include "db/query/query.h"

namespace ringolan::db::values {

using Value = std::variant<std::monostate, int64_t, double, std::string>;
using Statement = sqlite::StmtHandle;

// "Datenbankfehler: <what> in der Abfrage: <command>".
QueryError failure(const std::string& command, const std::string& what);
// The engine's last message on db, Windows-1252.
std::string engine_message(sqlite3* db);

// The statement translated (cached per text), prepared on db and its "?" bound in order.
// Throws QueryError as failure() words it.
Statement prepare(sqlite3* db, const std::string& jet_command, const std::vector<Param>& params);

// One column of a result as the statement declares it.
struct Column {
    std::string name;      // Windows-1252
    FieldType type;        // Null for a computed column until a value decides it
    std::string declared;  // first word of the declared type, upper case; empty when computed
    bool computed = false;
};
std::vector<Column> columns(sqlite3_stmt* stmt);

// The value of column c of the current row; blob is set when it is a BLOB.
Value read(sqlite3_stmt* stmt, int c, bool& blob);
// The type a computed column takes from its first non-NULL value.
FieldType value_type(const Value& v, bool blob);

// A value as Field::as_text, as_real and as_int read it; name goes into error messages.
std::string text(const Value& v, FieldType type);
double real(const Value& v, const std::string& name);
int64_t whole(const Value& v, const std::string& name);

}  // namespace ringolan::db::values
