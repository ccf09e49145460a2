// Test helpers that read a .mdb file back with three independent readers and compare the
// tables against what a test expects:
//   libmdb through ringolan_mdbread, the npm package mdb-reader (tests/readers/dump.mjs),
//   and the mdb-export / mdb-schema / mdb-tables commands.
// Every reader's result is turned into canonical text per cell, so one comparison serves all.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "db/jet/value.h"

namespace ringolan::readback {

// Canonical text of one value:
//   NULL -> "NULL"; bool -> "true" / "false"; integers -> decimal;
//   Single -> shortest round-trip text of the float32; Double -> shortest round-trip text;
//   Currency -> four decimals ("-12.3400"); DateTime -> "YYYY-MM-DD HH:MM:SS", rounded to the
//   nearest second (days * 86400, half away from zero; proleptic Gregorian, also before 1899);
//   text -> the UTF-8 text in double quotes, nothing escaped.
// The column type matters only for Single; a value of an unexpected kind still gets its
// own form, so a mismatch shows up in the comparison.
std::string canonical(const jet::Value& value, jet::ColumnType type);

struct CanonTable {
    std::string name;
    std::vector<std::string> column_names;
    std::vector<jet::ColumnType> column_types;  // raw type codes, also those without an enumerator
    std::vector<std::vector<std::string>> rows;
};

// A table as a test expects it.
struct ExpectedTable {
    std::string name;
    std::vector<jet::Column> columns;
    std::vector<jet::Row> rows;
};

std::vector<CanonTable> canon_expected(const std::vector<ExpectedTable>& tables);

// All user tables read with ringolan_mdbread (libmdb).
std::vector<CanonTable> canon_from_libmdb(const std::filesystem::path& file);

// All user tables read with mdb-reader: runs `node <dir>/dump.mjs FILE`, where dir is the
// environment variable RINGOLAN_NODE_READER_DIR or else the folder configured at build time.
// Dates come as mdb-reader's milliseconds and are rounded to the second from there (a time
// within half a millisecond of a half second may round the other way than the exact value).
// Throws std::runtime_error when node or the package is missing or the reader fails.
std::vector<CanonTable> canon_from_mdbreader(const std::filesystem::path& file);

// All user tables read with mdb-tables -1, mdb-schema (column types) and mdb-export (values,
// run as `mdb-export -Q -d '\x1f' -R '\x1e'` with -D and -T '%Y-%m-%d %H:%M:%S' under LC_ALL=C.UTF-8).
// mdb-export is lossy, so compare its result with mdb_export_view() of the expectation:
// it prints NULL and "" alike (both become "NULL" here), singles with %.8g, doubles with
// %.16g, memos cut after 199,999 bytes; a text holding byte 0x1E or 0x1F cannot be split.
// Dates before 1899-12-30 are not printed correctly by mdb-export.
std::vector<CanonTable> canon_from_mdb_export(const std::filesystem::path& file);

// The canonical tables as mdb-export would show them (see canon_from_mdb_export).
std::vector<CanonTable> mdb_export_view(std::vector<CanonTable> tables);

// Adds a GoogleTest failure for each table that differs: missing or extra tables, column
// names or types, row counts, and the first ten differing cells (table, row, column,
// expected and actual text; long texts are shortened in the message).
void expect_same_tables(const std::vector<CanonTable>& expected, const std::vector<CanonTable>& actual,
                        std::string_view reader);

// "This file must read back as exactly these tables", with all three readers.
void expect_file_reads_back(const std::filesystem::path& file, const std::vector<ExpectedTable>& expected);

}  // namespace ringolan::readback
