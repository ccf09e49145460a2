// The statement lines of every upload table of a snapshot, held in memory, exactly as the
// classic upload writes them into its files (the options table with the itdatum row set).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/snapshot/snapshot.h"
#include "upload/change_batch.h"
#include "upload/upload_run.h"

namespace ringolan::upload {

// Throws the query layer's errors (a table missing from the file among them).
TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum);

// The same, taking the lines of `previous` (a dump of an earlier state) for each table whose
// statement reads none of the `changed` tables of the file (names in any letter case). The
// options table is always read again for its itdatum row. Ranks and targets, whose statements
// list their key first, are read only for the keys in `changed_keys` (the keys of every row
// that differs) when it has them: their other lines are taken from `previous`.
TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum,
                       const TablesDump& previous, const std::vector<std::string>& changed,
                       const std::vector<db::TableKeys>& changed_keys = {});

// The lines of the ranks ("r") or targets ("sc") in the snapshot's state, made from their
// lines `before` in an earlier state and the rows whose keys `changed_keys` lists for the table
// (every row that differs must be among them) or whose key is NULL: lines of other keys stay
// where they were. nullopt for another table, without keys for it, or when the lines do not add
// up to the table's rows.
std::optional<std::vector<std::string>> lines_by_keys(const db::Snapshot& snapshot, std::string_view code,
                                                      const std::vector<std::string>& before,
                                                      const std::vector<db::TableKeys>& changed_keys);

// The whole number a statement line's first value is, if it is one.
std::optional<std::int64_t> first_value_number(std::string_view line);

// Whether the statement names the table as a whole word (letter case ignored).
bool statement_reads(std::string_view statement, std::string_view table);

// One line per statement of a dump as the upload writes it ("\r\n" after each); a line end
// inside a quoted value stays in its line unless "#*i" follows it.
std::vector<std::string> split_dump(std::string_view dump);

}  // namespace ringolan::upload
