// Converts a Jet (.mdb) file into a serialized in-memory SQLite database.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "db/jet/value.h"

namespace ringolan::db {

// One SQLite table per user table, same names and columns in the same order. Every column is
// declared so that sqlite3_column_decltype shows the Jet type as its first word:
//   BOOLEAN   -1 / 0 (INTEGER)            BYTE, SMALLINT, LONG   INTEGER
//   CURRENCY  REAL, the value (scaled / 10,000)
//   SINGLE, DOUBLE  REAL                  DATETIME  REAL, days since 1899-12-30
//   TEXT      UTF-8, COLLATE JET          MEMO TEXT  UTF-8, COLLATE JET
// Columns of CURRENCY, SINGLE and DATETIME have SQLite's NUMERIC affinity, so a whole value
// may come back with storage class INTEGER; readers go by the declared type. MEMO carries
// "TEXT" so that digits in a memo stay text. Other Jet types hold libmdb's text form and are
// declared NUMERIC TEXT, GUID TEXT, BINARY TEXT, OLE TEXT or "TYPE<n> TEXT" (binary collation).
// NULL stays NULL.
std::string declared_type(jet::ColumnType type);

// Stored in the image's header (PRAGMA application_id): "RgLn".
inline constexpr int32_t kSnapshotApplicationId = 0x52674C6E;

struct BuildOptions {
    bool indexes = true;  // indexes on the join columns the page statements use
    // Set: only these indexes ("table.column", without regard to case) and no statistics, for
    // a reader that runs a few known statements once (the upload).
    std::optional<std::vector<std::string>> only_indexes;
};

// Reads every user table of the file (libmdb) and returns the SQLite database image
// (sqlite3_serialize). The Jet collation is registered on the building connection.
// Throws std::runtime_error naming the file on any read error.
std::vector<uint8_t> build_snapshot_image(const std::filesystem::path& mdb);
std::vector<uint8_t> build_snapshot_image(const std::filesystem::path& mdb, const BuildOptions& options);

// Columns indexed when BuildOptions::indexes is set (matched without regard to case).
const std::vector<std::string>& indexed_columns();

}  // namespace ringolan::db
