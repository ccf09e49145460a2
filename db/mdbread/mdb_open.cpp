#include "db/mdbread/mdb_open.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "common/error.h"
#include "db/jet/header.h"

namespace ringolan::mdbread::detail {

[[noreturn]] void fail(const std::filesystem::path& file, const std::string& what) {
    throw Error(file.string() + ": " + what);
}

namespace {

// libmdb accepts nearly any file whose first byte is 0; check the page-0 signature first.
void check_file(const std::filesystem::path& file) {
    std::error_code ec;
    auto st = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(st)) fail(file, "cannot open: no such file");
    if (!std::filesystem::is_regular_file(st)) fail(file, "cannot open: not a regular file");
    std::ifstream in(file, std::ios::binary);
    if (!in) fail(file, "cannot open: " + std::string(std::strerror(errno)));
    char head[20] = {};
    in.read(head, sizeof head);
    const bool jet = in.gcount() == sizeof head && head[0] == 0 &&
                     (std::memcmp(head + jet::kHeaderSignature, jet::kJetSignature, 16) == 0 ||
                      std::memcmp(head + jet::kHeaderSignature, "Standard ACE DB", 16) == 0);
    if (!jet) fail(file, "not a Jet database file");
}

}  // namespace

Handle open_database(const std::filesystem::path& file) {
    check_file(file);
    Handle mdb(mdb_open(file.c_str(), MDB_NOFLAGS));
    if (!mdb) fail(file, "libmdb cannot open the database");
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) fail(file, "cannot read the catalog (MSysObjects)");
    return mdb;
}

std::vector<MdbCatalogEntry*> user_tables(MdbHandle* mdb) {
    std::vector<MdbCatalogEntry*> out;
    for (guint i = 0; i < mdb->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry && mdb_is_user_table(entry)) out.push_back(entry);
    }
    return out;
}

namespace {

int column_size(const MdbHandle* mdb, const MdbColumn& col) {
    if (col.col_type == MDB_TEXT && mdb->f->jet_version != MDB_VER_JET3) return col.col_size / 2;
    return col.col_size;
}


}  // namespace

TablePtr read_definition(const std::filesystem::path& file, MdbCatalogEntry* entry) {
    const std::string where = std::string("table ") + entry->object_name;
    TablePtr table(mdb_read_table(entry));
    if (!table) fail(file, where + ": cannot read its definition");
    if (!mdb_read_columns(table.get())) fail(file, where + ": cannot read its columns");
    return table;
}

std::vector<ColumnInfo> column_infos(MdbHandle* mdb, MdbTableDef* table) {
    std::vector<ColumnInfo> infos;
    for (guint i = 0; i < table->columns->len; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        infos.push_back({col->name, static_cast<jet::ColumnType>(col->col_type), column_size(mdb, *col)});
    }
    return infos;
}

}  // namespace ringolan::mdbread::detail
