// Jet semantics on SQLite connections: the text collation and the LIKE operator.
#pragma once

#include <sqlite3.h>

namespace ringolan::db {

// Name of the collation every text column of a snapshot is declared with.
inline constexpr const char* kJetCollation = "JET";

// Registers on the connection:
//  - collation JET: Jet's General sort order (ICU, German, letter case ignored, umlauts sorted
//    with their base letter); used by =, <, ORDER BY, GROUP BY and DISTINCT on text columns;
//  - like(pattern, text): "%" any run, "_" one character, letter case ignored as in JET.
// Throws std::runtime_error when ICU or SQLite refuses.
void register_jet_functions(sqlite3* db);

}  // namespace ringolan::db
