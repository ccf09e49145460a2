// The dump of the options table with the run's itdatum row in it, whatever the competition file
// holds: the first row whose option is "itdatum" gets the new text in Wert_str; without one, a
// row is added after the others (ID one above the highest, the other values NULL). So the site
// always gets the upload's time stamp, also when the file itself could not be written.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "upload/sql_dump.h"

namespace ringolan::upload {

// Writes the lines of dump.query (the options statement, open) to out, each followed by
// "\r\n", as dump.dump_to does, with the itdatum row set to text (Windows-1252). Returns the
// number of lines. Throws std::runtime_error when the result has no "_option" or "Wert_str"
// column or the stream fails.
size_t dump_with_itdatum(SqlDump& dump, std::ostream& out, std::string_view table_code, const std::string& text);

}  // namespace ringolan::upload
