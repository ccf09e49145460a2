#include "db/mdbread/mdb_read.h"

// glib must come first: mdbtools.h includes it inside extern "C".
#include <glib.h>
#include <mdbtools.h>

#include <cstring>
#include <functional>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "common/cp1252.h"
#include "common/error.h"
#include "db/jet/header.h"
#include "db/mdbread/field_decode.h"

namespace ringolan::mdbread {
namespace {

namespace fs = std::filesystem;

struct HandleClose {
    void operator()(MdbHandle* h) const { mdb_close(h); }
};
using Handle = std::unique_ptr<MdbHandle, HandleClose>;

struct TableFree {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using TablePtr = std::unique_ptr<MdbTableDef, TableFree>;

[[noreturn]] void fail(const fs::path& file, const std::string& what) {
    throw Error(file.string() + ": " + what);
}

// libmdb accepts nearly any file whose first byte is 0; check the page-0 signature first.
void check_file(const fs::path& file) {
    std::error_code ec;
    auto st = fs::status(file, ec);
    if (ec || !fs::exists(st)) fail(file, "cannot open: no such file");
    if (!fs::is_regular_file(st)) fail(file, "cannot open: not a regular file");
    std::ifstream in(file, std::ios::binary);
    if (!in) fail(file, "cannot open: " + std::string(std::strerror(errno)));
    char head[20] = {};
    in.read(head, sizeof head);
    const bool jet = in.gcount() == sizeof head && head[0] == 0 &&
                     (std::memcmp(head + jet::kHeaderSignature, jet::kJetSignature, 16) == 0 ||
                      std::memcmp(head + jet::kHeaderSignature, "Standard ACE DB", 16) == 0);
    if (!jet) fail(file, "not a Jet database file");
}

Handle open_database(const fs::path& file) {
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

int column_size(const MdbHandle* mdb, const MdbColumn& col) {
    if (col.col_type == MDB_TEXT && mdb->f->jet_version != MDB_VER_JET3) return col.col_size / 2;
    return col.col_size;
}

using ColumnsFn = std::function<void(const std::string&, const std::vector<ColumnInfo>&)>;
using RowFn = std::function<void(const jet::Row&)>;

// Reads one table: its columns first, then each row into the same Row object.
void scan_entry(const fs::path& file, MdbHandle* mdb, MdbCatalogEntry* entry, const ColumnsFn& on_table,
                const RowFn& on_row) {
    const std::string name = entry->object_name;
    const std::string where = "table " + name;

    TablePtr table(mdb_read_table(entry));
    if (!table) fail(file, where + ": cannot read its definition");
    if (!mdb_read_columns(table.get())) fail(file, where + ": cannot read its columns");

    std::vector<MdbColumn*> cols;
    std::vector<ColumnInfo> infos;
    for (guint i = 0; i < table->columns->len; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        cols.push_back(col);
        infos.push_back({col->name, static_cast<jet::ColumnType>(col->col_type), column_size(mdb, *col)});
    }
    on_table(name, infos);

    // mdb_fetch_row finds the next live row and leaves its page in mdb->pg_buf with cur_row
    // just past it; cracking the row again yields the null flags and field positions.
    std::vector<MdbField> fields(cols.size());
    jet::Row row(cols.size());
    size_t row_no = 0;
    mdb_rewind_table(table.get());
    while (mdb_fetch_row(table.get())) {
        int start = 0;
        size_t len = 0;
        if (table->cur_row == 0 || mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &len) != 0) {
            fail(file, where + ": cannot locate row " + std::to_string(row_no));
        }
        start &= 0x1FFF;  // strip the row flags
        if (mdb_crack_row(table.get(), start, len, fields.data()) < 0) {
            fail(file, where + ": cannot split row " + std::to_string(row_no));
        }
        for (size_t i = 0; i < cols.size(); ++i) {
            const MdbColumn& col = *cols[fields[i].colnum];
            try {
                row[i] = detail::decode_field(mdb, col, fields[i]);
            } catch (const std::runtime_error& e) {
                fail(file, where + ", row " + std::to_string(row_no) + ", column " + col.name + ": " + e.what());
            }
        }
        on_row(row);
        ++row_no;
    }
}

TableData read_entry(const fs::path& file, MdbHandle* mdb, MdbCatalogEntry* entry) {
    TableData data;
    scan_entry(
        file, mdb, entry,
        [&](const std::string& name, const std::vector<ColumnInfo>& columns) {
            data.name = name;
            data.columns = columns;
        },
        [&](const jet::Row& row) { data.rows.push_back(row); });
    return data;
}

// Lower-cases ASCII and Latin-1 letters, as the engine compares names.
std::u16string fold(const std::string& utf8) {
    std::u16string u = text::utf8_to_utf16(utf8);
    for (char16_t& c : u) {
        if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c += 0x20;
    }
    return u;
}

}  // namespace

std::vector<std::string> table_names(const std::filesystem::path& file) {
    Handle mdb = open_database(file);
    std::vector<std::string> names;
    for (MdbCatalogEntry* entry : user_tables(mdb.get())) names.emplace_back(entry->object_name);
    return names;
}

std::vector<TableData> read_all(const std::filesystem::path& file) {
    Handle mdb = open_database(file);
    std::vector<TableData> tables;
    for (MdbCatalogEntry* entry : user_tables(mdb.get())) tables.push_back(read_entry(file, mdb.get(), entry));
    return tables;
}

size_t scan_all(const std::filesystem::path& file, const ColumnsFn& on_table, const RowFn& on_row) {
    Handle mdb = open_database(file);
    const auto entries = user_tables(mdb.get());
    for (MdbCatalogEntry* entry : entries) scan_entry(file, mdb.get(), entry, on_table, on_row);
    return entries.size();
}

TableData read_table(const std::filesystem::path& file, const std::string& name) {
    Handle mdb = open_database(file);
    const auto entries = user_tables(mdb.get());
    for (MdbCatalogEntry* entry : entries) {
        if (name == entry->object_name) return read_entry(file, mdb.get(), entry);
    }
    const std::u16string wanted = fold(name);
    for (MdbCatalogEntry* entry : entries) {
        if (fold(entry->object_name) == wanted) return read_entry(file, mdb.get(), entry);
    }
    fail(file, "no table named \"" + name + "\"");
}

}  // namespace ringolan::mdbread
