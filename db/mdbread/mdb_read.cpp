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
#include "db/mdbread/mdb_open.h"

namespace ringolan::mdbread {
namespace {

namespace fs = std::filesystem;
using namespace detail;

using ColumnsFn = std::function<void(const std::string&, const std::vector<ColumnInfo>&)>;
using RowFn = std::function<void(const jet::Row&)>;

// Reads one table: its columns first, then each row into the same Row object.
void scan_entry(const fs::path& file, MdbHandle* mdb, MdbCatalogEntry* entry, const ColumnsFn& on_table,
                const RowFn& on_row) {
    const std::string name = entry->object_name;
    const std::string where = "table " + name;

    TablePtr table = read_definition(file, entry);
    std::vector<MdbColumn*> cols;
    for (guint i = 0; i < table->columns->len; ++i) cols.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i)));
    on_table(name, column_infos(mdb, table.get()));

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
