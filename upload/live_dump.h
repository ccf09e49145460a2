// The statement lines of every upload table of a snapshot, held in memory, exactly as the
// classic upload writes them into its files (the options table with the itdatum row set).
#pragma once

#include <string>

#include "db/snapshot/snapshot.h"
#include "upload/change_batch.h"
#include "upload/upload_run.h"

namespace ringolan::upload {

// Throws the query layer's errors (a table missing from the file among them).
TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum);

// The same, taking the lines of `previous` (a dump of an earlier state) for each table whose
// statement reads none of the `changed` tables of the file (names in any letter case). The
// options table is always read again for its itdatum row.
TablesDump dump_tables(const db::Snapshot& snapshot, StarterFilter filter, const std::string& itdatum,
                       const TablesDump& previous, const std::vector<std::string>& changed);

// Whether the statement names the table as a whole word (letter case ignored).
bool statement_reads(std::string_view statement, std::string_view table);

// One line per statement of a dump as the upload writes it ("\r\n" after each); a line end
// inside a quoted value stays in its line unless "#*i" follows it.
std::vector<std::string> split_dump(std::string_view dump);

}  // namespace ringolan::upload
