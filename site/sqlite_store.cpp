#include "site/sqlite_store.h"

#include "common/cp1252.h"
#include "common/sqlite.h"
#include "site/gunzip.h"
#include "site/sqlite_load.h"
#include "site/statement_parser.h"
#include "site/tables.h"

#include <sqlite3.h>

#include <chrono>
#include <fstream>

namespace ringolan::site {

using sqlite::quote_identifier;
using namespace sqlite_load;

namespace fs = std::filesystem;

namespace {

constexpr const char* kUploadFile = "upload.sql.gz";

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!in || ec) throw StoreError("cannot read " + file.string());
    std::string bytes(size, '\0');
    in.read(bytes.data(), std::streamsize(size));
    if (std::size_t(in.gcount()) != size)
        throw StoreError("cannot read " + file.string());
    return bytes;
}

}  // namespace

SqliteStore::SqliteStore(fs::path data_dir)
    : dir_(std::move(data_dir)),
      last_version_(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::system_clock::now().time_since_epoch()).count()) {
    fs::create_directories(dir_);
}

void SqliteStore::changed(const std::string& account) {
    {
        std::lock_guard guard(locks_mutex_);
        versions_[account] = ++last_version_;
    }
    if (listener_) listener_(account);
}

std::int64_t SqliteStore::version(const std::string& account) {
    {
        std::lock_guard guard(locks_mutex_);
        if (auto it = versions_.find(account); it != versions_.end()) return it->second;
    }
    auto guard = lock(account);
    std::lock_guard versions_guard(locks_mutex_);
    std::int64_t& v = versions_[account];
    if (v == 0 && fs::exists(account_dir(account) / kDatabaseFile)) v = ++last_version_;
    return v;
}

void SqliteStore::on_change(std::function<void(const std::string& account)> changed) {
    listener_ = std::move(changed);
}

fs::path SqliteStore::account_dir(const std::string& account) const { return dir_ / account; }

std::unique_lock<std::mutex> SqliteStore::lock(const std::string& account) {
    std::mutex* m;
    {
        std::lock_guard guard(locks_mutex_);
        auto& slot = locks_[account];
        if (!slot) slot = std::make_unique<std::mutex>();
        m = slot.get();
    }
    return std::unique_lock(*m);
}

void SqliteStore::delete_all(const std::string& account) {
    auto guard = lock(account);
    const fs::path d = account_dir(account);
    for (const char* name : {kDatabaseFile, "results.sqlite-journal", kUploadFile}) fs::remove(d / name);
    changed(account);
}

void SqliteStore::store_upload(const std::string& account, std::string_view gzip_bytes) {
    auto guard = lock(account);
    const fs::path d = account_dir(account);
    fs::create_directories(d);
    const fs::path part = d / "upload.sql.gz.part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(gzip_bytes.data(), std::streamsize(gzip_bytes.size()));
        out.close();
        if (!out) {
            fs::remove(part);
            throw StoreError("cannot write the uploaded file");
        }
    }
    fs::rename(part, d / kUploadFile);
}

std::map<std::string, std::int64_t> SqliteStore::load_upload(const std::string& account) {
    auto guard = lock(account);
    const fs::path d = account_dir(account);
    if (!fs::exists(d / kUploadFile)) throw NoUploadError();
    const std::string packed = read_file(d / kUploadFile);
    GzipReader unpacked(packed);  // read piece by piece while loading

    Database db(d / kDatabaseFile, true);
    db.exec("BEGIN IMMEDIATE");
    std::map<std::string, std::int64_t> added;
    try {
        Loader loader(db);
        parse_dump_views([&](char* out, std::size_t size) { return unpacked.read(out, size); },
                         [&](const StatementView& s) { loader.add(s); });
        added = loader.added();
        // A classic load replaces what a stream built on: its next batch conflicts.
        forget_live_state(db);
        db.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    fs::remove(d / kUploadFile);
    changed(account);
    return added;
}

std::optional<std::int64_t> SqliteStore::count(const std::string& account, std::string_view table) {
    const TableDef* def = table_by_name(table);
    if (!def) return std::nullopt;
    auto guard = lock(account);
    const fs::path file = account_dir(account) / kDatabaseFile;
    if (!fs::exists(file)) return 0;
    Database db(file, false);
    if (db.column_count(def->name) == 0) return 0;
    const sqlite::StmtHandle st = prepare(db.get(), "SELECT COUNT(*) FROM " + quote_identifier(def->name));
    if (sqlite3_step(st.get()) != SQLITE_ROW) throw StoreError(std::string("database: ") + sqlite3_errmsg(db.get()));
    return sqlite3_column_int64(st.get(), 0);
}

std::optional<TableRows> SqliteStore::rows(const std::string& account, std::string_view table, std::size_t limit) {
    const TableDef* def = table_by_name(table);
    if (!def) return std::nullopt;
    auto guard = lock(account);
    TableRows out;
    const fs::path file = account_dir(account) / kDatabaseFile;
    if (!fs::exists(file)) return out;
    Database db(file, false);
    if (db.column_count(def->name) == 0) return out;
    const sqlite::StmtHandle st =
        prepare(db.get(), "SELECT * FROM " + quote_identifier(def->name) + " ORDER BY rowid LIMIT " + std::to_string(limit));
    const int n = sqlite3_column_count(st.get());
    for (int i = 0; i < n; ++i) out.columns.emplace_back(sqlite3_column_name(st.get(), i));
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
        auto& row = out.rows.emplace_back();
        for (int i = 0; i < n; ++i) {
            if (sqlite3_column_type(st.get(), i) == SQLITE_NULL) {
                row.emplace_back(std::nullopt);
            } else {
                const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), i));
                row.emplace_back(std::string(t, std::size_t(sqlite3_column_bytes(st.get(), i))));
            }
        }
    }
    if (rc != SQLITE_DONE) throw StoreError(std::string("database: ") + sqlite3_errmsg(db.get()));
    return out;
}

}  // namespace ringolan::site

namespace ringolan::site {

namespace {

StoredValueView stored_value(sqlite3_stmt* st, int i) {
    StoredValueView v;
    switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER:
            v.kind = StoredValue::Kind::integer;
            v.integer = sqlite3_column_int64(st, i);
            break;
        case SQLITE_FLOAT:
            v.kind = StoredValue::Kind::real;
            v.real = sqlite3_column_double(st, i);
            break;
        case SQLITE_NULL:
            break;
        default:
            v.kind = StoredValue::Kind::text;
            v.text = {reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                      std::size_t(sqlite3_column_bytes(st, i))};
    }
    return v;
}

}  // namespace

std::int64_t SqliteStore::read_each(const std::string& account, TableVisitor& visitor) {
    auto guard = lock(account);
    std::int64_t version;
    {
        std::lock_guard versions_guard(locks_mutex_);
        version = versions_[account];
    }
    const fs::path file = account_dir(account) / kDatabaseFile;
    if (fs::exists(file)) {
        Database db(file, false);
        db.exec("BEGIN");
        std::vector<std::string> columns;
        std::vector<StoredValueView> values;
        for (const TableDef& def : upload_tables()) {
            if (db.column_count(def.name) == 0) continue;
            const sqlite::StmtHandle st =
                prepare(db.get(), "SELECT * FROM " + quote_identifier(def.name) + " ORDER BY rowid");
            const int n = sqlite3_column_count(st.get());
            columns.clear();
            for (int i = 0; i < n; ++i) columns.emplace_back(sqlite3_column_name(st.get(), i));
            visitor.table(std::string(def.name), columns);
            int rc;
            while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
                values.clear();
                for (int i = 0; i < n; ++i) values.push_back(stored_value(st.get(), i));
                visitor.row(values);
            }
            if (rc != SQLITE_DONE) throw StoreError(std::string("database: ") + sqlite3_errmsg(db.get()));
        }
        db.exec("COMMIT");
    }
    if (version == 0) {
        guard.unlock();
        version = this->version(account);
    }
    return version;
}

}  // namespace ringolan::site
