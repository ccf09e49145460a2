// Reads the user tables of a Jet (.mdb) file through libmdb.
//
// libmdb finds the tables, columns, rows and fields; the values are decoded here from the
// field bytes, so they are exact:
//   Boolean -> bool; Byte, Integer, Long -> int64_t; Single -> double (the float32 widened);
//   Double -> double; Currency -> jet::Currency; DateTime -> jet::DateTime; NULL -> jet::Null;
//   Text, Memo -> UTF-8 std::string of any length, "" and NULL told apart (Jet 4: UCS-2 with
//   or without compression, an unpaired surrogate becomes "?"; Jet 3: the file's code page,
//   converted by libmdb).
// Other column types keep their type code in ColumnInfo::type and read as text: Numeric
// (decimal), Replication ID ({GUID}) and Complex (its number) in libmdb's own formatting;
// Binary and OLE as lower-case hex of their bytes; any other type as hex of its field bytes.
//
// Table and column names come from libmdb, which converts them with iconv to the charset
// named by the environment variable MDBICONV (UTF-8 when unset; keep it unset).
// Every call opens its own libmdb handle, so calls may run on several threads at once.
// libmdb prints warnings about damaged files to stderr.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/jet/value.h"

namespace ringolan::mdbread {

struct ColumnInfo {
    std::string name;      // UTF-8
    jet::ColumnType type;  // may hold a type code that has no enumerator (see above)
    int size;              // text: maximum length in characters; otherwise as libmdb reports
};

struct TableData {
    std::string name;  // as stored in the catalog
    std::vector<ColumnInfo> columns;
    std::vector<jet::Row> rows;  // each row has one value per column, in column order
};

// Names of the user tables in catalog order.
std::vector<std::string> table_names(const std::filesystem::path& file);
// Every user table, in catalog order.
std::vector<TableData> read_all(const std::filesystem::path& file);
// One table; the name is matched without regard to case (ASCII and Latin-1 letters).
TableData read_table(const std::filesystem::path& file, const std::string& name);

// Reads every user table in catalog order, one row at a time, through one open file:
// on_table(name, columns) before a table's rows, then on_row(row) for each of them (the same
// Row object is refilled for every row). Returns the number of tables.
size_t scan_all(const std::filesystem::path& file,
                const std::function<void(const std::string&, const std::vector<ColumnInfo>&)>& on_table,
                const std::function<void(const jet::Row&)>& on_row);

// All functions throw Error naming the file when it cannot be opened, is not a
// Jet database, has an unreadable catalog or table, or (read_table) lacks the table.

}  // namespace ringolan::mdbread
