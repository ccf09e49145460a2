// Jet semantics on SQLite connections: the text collation and the LIKE operator.
#pragma once

#include <sqlite3.h>

namespace ringolan::db {

// Name of the collation every text column of a snapshot is declared with.
inline constexpr const char* kJetCollation = "JET";

// Registers on the connection:
//  - collation JET: Jet's General sort order (ICU, German, letter case ignored, umlauts sorted
//    with their base letter but distinct from it, "ß" equal to "ss"); used by =, <, ORDER BY,
//    GROUP BY and DISTINCT on text columns; one collator per connection, freed with it;
//  - like(pattern, text): "%" any run, "_" one character, letter case ignored (simple case
//    folding, so "ß" does not match "ss"), umlauts distinct, no escape character and no
//    character lists ("[" is itself); NULL on either side gives NULL; LIKE ... ESCAPE fails;
//  - double-quoted names are never taken as strings (SQLITE_DBCONFIG_DQS_* off).
// Throws std::runtime_error when ICU or SQLite refuses.
void register_jet_functions(sqlite3* db);

}  // namespace ringolan::db
