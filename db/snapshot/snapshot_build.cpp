#include "db/snapshot/snapshot_build.h"

#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <variant>

#include "common/ascii.h"
#include "common/error.h"
#include "common/sqlite.h"
#include "db/mdbread/mdb_read.h"
#include "db/sql/jet_functions.h"

namespace ringolan::db {

using sqlite::quote_identifier;

namespace {

namespace fs = std::filesystem;

[[noreturn]] void sqlite_fail(const fs::path& file, sqlite3* db, const std::string& what) {
    throw Error(file.string() + ": " + what + ": " + sqlite3_errmsg(db));
}

bool is_text(jet::ColumnType t) { return t == jet::ColumnType::Text || t == jet::ColumnType::Memo; }

void exec(const fs::path& file, sqlite3* db, const std::string& sql) {
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) sqlite_fail(file, db, sql);
}

void bind(sqlite3_stmt* st, int index, const jet::Value& value) {
    struct Binder {
        sqlite3_stmt* st;
        int i;
        int operator()(jet::Null) const { return sqlite3_bind_null(st, i); }
        int operator()(bool b) const { return sqlite3_bind_int(st, i, b ? -1 : 0); }
        int operator()(int64_t v) const { return sqlite3_bind_int64(st, i, v); }
        int operator()(double v) const { return sqlite3_bind_double(st, i, v); }
        int operator()(jet::Currency c) const { return sqlite3_bind_double(st, i, double(c.scaled) / 10000.0); }
        int operator()(jet::DateTime d) const { return sqlite3_bind_double(st, i, d.days); }
        int operator()(const std::string& s) const {
            return sqlite3_bind_text64(st, i, s.data(), s.size(), SQLITE_STATIC, SQLITE_UTF8);
        }
    };
    std::visit(Binder{st, index}, value);
}

// Creates one table and fills it row by row as the reader delivers them.
class TableLoader {
public:
    TableLoader(const fs::path& file, sqlite3* db, const std::string& table,
                const std::vector<mdbread::ColumnInfo>& columns)
        : file_(file), db_(db), table_(table), columns_(columns) {
        const std::string name = quote_identifier(table);
        std::string create = "CREATE TABLE " + name + " (";
        std::string insert = "INSERT INTO " + name + " VALUES (";
        for (size_t i = 0; i < columns.size(); ++i) {
            const auto& col = columns[i];
            if (i) {
                create += ", ";
                insert += ',';
            }
            create += quote_identifier(col.name) + ' ' + declared_type(col.type);
            if (is_text(col.type)) create += std::string(" COLLATE ") + kJetCollation;
            insert += '?';
        }
        if (sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite_fail(file, db, "table " + table + ": cannot create it");  // e.g. a damaged column name
        }
        sqlite3_stmt* raw = nullptr;
        insert += ')';
        if (sqlite3_prepare_v3(db, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
            sqlite_fail(file, db, "cannot prepare the insert into " + table);
        }
        insert_.reset(raw);
    }

    void add(const jet::Row& row) {
        sqlite3_stmt* st = insert_.get();
        for (size_t i = 0; i < row.size(); ++i) bind(st, int(i) + 1, row[i]);
        if (sqlite3_step(st) != SQLITE_DONE) sqlite_fail(file_, db_, "cannot insert into " + table_);
        sqlite3_reset(st);
    }

    void add_indexes() {
        for (const auto& col : columns_) {
            for (const std::string& wanted : indexed_columns()) {
                if (!text::equal_ignoring_case(col.name, wanted)) continue;
                exec(file_, db_,
                     "CREATE INDEX " + quote_identifier("ix_" + table_ + "_" + col.name) + " ON " +
                         quote_identifier(table_) + " (" + quote_identifier(col.name) + ")");
            }
        }
    }

private:
    const fs::path& file_;
    sqlite3* db_;
    std::string table_;
    std::vector<mdbread::ColumnInfo> columns_;
    sqlite::StmtHandle insert_;
};

}  // namespace

std::string declared_type(jet::ColumnType type) {
    switch (type) {
    case jet::ColumnType::Boolean: return "BOOLEAN";
    case jet::ColumnType::Byte: return "BYTE";
    case jet::ColumnType::Integer: return "SMALLINT";
    case jet::ColumnType::Long: return "LONG";
    case jet::ColumnType::Currency: return "CURRENCY";
    case jet::ColumnType::Single: return "SINGLE";
    case jet::ColumnType::Double: return "DOUBLE";
    case jet::ColumnType::DateTime: return "DATETIME";
    case jet::ColumnType::Text: return "TEXT";
    case jet::ColumnType::Memo: return "MEMO TEXT";
    case jet::ColumnType::Ole: return "OLE TEXT";
    }
    switch (static_cast<int>(type)) {
    case 0x09: return "BINARY TEXT";
    case 0x0F: return "GUID TEXT";
    case 0x10: return "NUMERIC TEXT";
    default: return "TYPE" + std::to_string(static_cast<int>(type)) + " TEXT";
    }
}

const std::vector<std::string>& indexed_columns() {
    static const std::vector<std::string> columns = {"Startnr", "Vereinsnr", "Erg_id", "Scheiben_id", "Sch_id",
                                                     "ErglistID", "Mann_id", "Wettb_id", "DP_ID", "ID"};
    return columns;
}

std::vector<uint8_t> build_snapshot_image(const fs::path& mdb) { return build_snapshot_image(mdb, BuildOptions{}); }

std::vector<uint8_t> build_snapshot_image(const fs::path& mdb, const BuildOptions& options) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite::DbHandle guard(raw);
        throw Error(mdb.string() + ": cannot create an in-memory SQLite database");
    }
    sqlite::DbHandle db(raw);
    register_jet_functions(raw);
    exec(mdb, raw, "PRAGMA journal_mode=OFF");
    exec(mdb, raw, "PRAGMA synchronous=OFF");
    exec(mdb, raw, "PRAGMA temp_store=MEMORY");  // index sorts stay off the disk
    // Writing the header gives even a file without tables a page, so the image is never empty.
    exec(mdb, raw, "PRAGMA application_id=" + std::to_string(kSnapshotApplicationId));
    exec(mdb, raw, "BEGIN");
    // Rows go into SQLite as the reader delivers them; no table is held in memory.
    std::unique_ptr<TableLoader> loader;
    auto finish_table = [&] {
        if (loader && options.indexes) loader->add_indexes();
        loader.reset();
    };
    const size_t tables = mdbread::scan_all(
        mdb,
        [&](const std::string& name, const std::vector<mdbread::ColumnInfo>& columns) {
            finish_table();
            loader = std::make_unique<TableLoader>(mdb, raw, name, columns);
        },
        [&](const jet::Row& row) { loader->add(row); });
    finish_table();
    // libmdb lists no tables when it cannot read the catalog's pages (a file cut short).
    if (tables == 0) throw Error(mdb.string() + ": no tables (damaged or incomplete file)");
    // Statistics of the indexes let the planner start a join at its most selective condition
    // (a club's teams from mannschaft, not every rank of the competition).
    if (options.indexes) exec(mdb, raw, "ANALYZE");
    exec(mdb, raw, "COMMIT");

    sqlite3_int64 size = 0;
    unsigned char* bytes = sqlite3_serialize(raw, "main", &size, 0);
    if (!bytes) throw Error(mdb.string() + ": cannot serialize the snapshot (out of memory)");
    std::vector<uint8_t> image(bytes, bytes + size);
    sqlite3_free(bytes);
    return image;
}

}  // namespace ringolan::db
