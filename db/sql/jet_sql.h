// Translation of the program's Jet SQL statements to SQLite.
#pragma once

#include <string>
#include <string_view>

#include "db/sql/query_error.h"

namespace ringolan::db {

// Translates one Jet statement (Windows-1252) to SQLite SQL (UTF-8):
//  - "text" and 'text' literals become 'text' (inner quotes handled);
//  - true/false (any case) become -1/0, the values of Jet's yes/no columns;
//  - [name] and names SQLite reserves become "name"; other names pass unchanged;
//  - Count( ... ), distinct, is [not] null, like, in, between, <>, INNER/LEFT JOIN ... ON,
//    comma joins, AS aliases (also "_option"), ORDER BY ... ASC/DESC and "?" pass through;
//  - blanks and line breaks collapse, one trailing ";" is dropped.
// Anything else (other functions, #dates#, "&", UNION, TOP, several statements, ...) throws
// QueryError naming what was not understood.
std::string translate_jet_sql(std::string_view jet);

}  // namespace ringolan::db
