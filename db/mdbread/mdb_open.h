// Opening a Jet file through libmdb (internal to ringolan_mdbread).
#pragma once

// glib must come first: mdbtools.h includes it inside extern "C".
#include <glib.h>
#include <mdbtools.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/mdbread/mdb_read.h"

namespace ringolan::mdbread::detail {

struct HandleClose {
    void operator()(MdbHandle* h) const { mdb_close(h); }
};
using Handle = std::unique_ptr<MdbHandle, HandleClose>;

struct TableFree {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using TablePtr = std::unique_ptr<MdbTableDef, TableFree>;

[[noreturn]] void fail(const std::filesystem::path& file, const std::string& what);

// The file opened with its catalog read; throws Error when it is no readable Jet file.
Handle open_database(const std::filesystem::path& file);

// The catalog's user tables in catalog order.
std::vector<MdbCatalogEntry*> user_tables(MdbHandle* mdb);

// A table's definition with its columns read; throws Error naming the table.
TablePtr read_definition(const std::filesystem::path& file, MdbCatalogEntry* entry);

// The columns as this library describes them, in table order.
std::vector<ColumnInfo> column_infos(MdbHandle* mdb, MdbTableDef* table);

}  // namespace ringolan::mdbread::detail
