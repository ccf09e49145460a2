#include "site/sqlite_store.h"

#include "common/cp1252.h"
#include "common/sqlite.h"
#include "site/gunzip.h"
#include "site/statement_parser.h"
#include "site/tables.h"

#include <sqlite3.h>

#include <chrono>
#include <charconv>
#include <fstream>

namespace ringolan::site {

using sqlite::quote_identifier;

namespace fs = std::filesystem;

namespace {

constexpr const char* kDatabaseFile = "results.sqlite";
constexpr const char* kUploadFile = "upload.sql.gz";

sqlite::StmtHandle prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
    sqlite::StmtHandle st(raw);
    if (rc != SQLITE_OK) throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
    return st;
}

class Database {
public:
    Database(const fs::path& file, bool create) {
        // One thread at a time uses a connection (the account's lock), so SQLite needs no mutex.
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
        db_.reset(raw);
        if (rc != SQLITE_OK)
            throw StoreError("cannot open " + file.string() + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
    }

    sqlite3* get() const { return db_.get(); }

    void exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(get(), sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            const std::string msg = err ? err : sqlite3_errmsg(get());
            sqlite3_free(err);
            throw StoreError("database: " + msg);
        }
    }

    // Column count of a table; 0 when it does not exist.
    std::size_t column_count(std::string_view table) {
        const sqlite::StmtHandle st = prepare(get(), "PRAGMA table_info(" + quote_identifier(table) + ")");
        std::size_t n = 0;
        while (sqlite3_step(st.get()) == SQLITE_ROW) ++n;
        return n;
    }

private:
    sqlite::DbHandle db_;
};

void step_done(sqlite3* db, sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
}

bool is_ascii(std::string_view t) {
    for (const char c : t)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Binds a value of a statement line without a copy where it can: ASCII text without escapes as
// it stands in the dump, other text decoded and converted into room. The text and room must stay
// unchanged until the statement has been stepped.
void bind_value(sqlite3_stmt* st, int index, const ValueView& v, std::string& room) {
    int rc = SQLITE_OK;
    switch (v.kind) {
        case Value::Kind::null:
            rc = sqlite3_bind_null(st, index);
            break;
        case Value::Kind::text:
            // The dump writes a NULL and an empty text alike; both are kept as NULL.
            if (v.text.empty()) {
                rc = sqlite3_bind_null(st, index);
            } else {
                std::string_view text = v.text;
                if (v.escaped) text = room = v.decoded();
                if (!is_ascii(text)) text = room = text::cp1252_to_utf8(text);
                rc = sqlite3_bind_text(st, index, text.data(), int(text.size()), SQLITE_STATIC);
            }
            break;
        case Value::Kind::number: {
            const char* b = v.text.data();
            const char* e = b + v.text.size();
            if (*b == '+') ++b;
            std::int64_t whole = 0;
            auto [p, ec] = std::from_chars(b, e, whole);
            if (ec == std::errc() && p == e) {
                rc = sqlite3_bind_int64(st, index, whole);
            } else {
                double real = 0;
                std::from_chars(b, e, real);
                rc = sqlite3_bind_double(st, index, real);
            }
            break;
        }
    }
    if (rc != SQLITE_OK) throw StoreError("database: a value could not be bound");
}

// Inserts statements into their tables, widening a table when a row brings more values.
class Loader {
public:
    explicit Loader(Database& db) : db_(db) {}

    void add(const StatementView& s) {
        // Rows of one table with as many values as the row before go straight to its statement.
        if (!insert_ || s.code != code_ || s.values.size() != values_) start_rows_like(s);
        sqlite3_reset(insert_);
        if (utf8_.size() < s.values.size()) utf8_.resize(s.values.size());
        for (std::size_t i = 0; i < s.values.size(); ++i) bind_value(insert_, int(i + 1), s.values[i], utf8_[i]);
        step_done(db_.get(), insert_);
        ++*added_rows_;
    }

    std::map<std::string, std::int64_t> added() const { return added_; }

private:
    // Finds the table of s, creates or widens it for the values of s and chooses its insert.
    void start_rows_like(const StatementView& s) {
        const TableDef* table = table_by_code(s.code);
        if (!table) throw DumpError(s.line, "unknown table code \"" + std::string(s.code) + "\"");
        auto known = column_counts_.find(table->name);
        if (known == column_counts_.end())
            known = column_counts_.emplace(table->name, db_.column_count(table->name)).first;
        std::size_t& columns = known->second;
        const std::size_t wanted = std::max(s.values.size(), std::max<std::size_t>(table->columns.size(), 1));
        if (columns == 0) {
            std::string sql = "CREATE TABLE " + quote_identifier(table->name) + " (";
            for (std::size_t i = 0; i < wanted; ++i) sql += (i ? ", " : "") + quote_identifier(column_name(*table, i));
            db_.exec(sql + ")");
            columns = wanted;
        }
        for (; columns < s.values.size(); ++columns)
            db_.exec("ALTER TABLE " + quote_identifier(table->name) + " ADD COLUMN " +
                     quote_identifier(column_name(*table, columns)));
        insert_ = insert_for(*table, s.values.size());
        added_rows_ = &added_[std::string(table->name)];
        code_ = s.code;
        values_ = s.values.size();
    }

    sqlite3_stmt* insert_for(const TableDef& table, std::size_t n) {
        auto key = std::make_pair(std::string(table.name), n);
        auto it = inserts_.find(key);
        if (it != inserts_.end()) return it->second.get();
        std::string sql = "INSERT INTO " + quote_identifier(table.name);
        if (n == 0) {
            sql += " DEFAULT VALUES";
        } else {
            std::string names, marks;
            for (std::size_t i = 0; i < n; ++i) {
                names += (i ? ", " : "") + quote_identifier(column_name(table, i));
                marks += i ? ", ?" : "?";
            }
            sql += " (" + names + ") VALUES (" + marks + ")";
        }
        return inserts_.emplace(key, prepare(db_.get(), sql)).first->second.get();
    }

    Database& db_;
    std::map<std::string_view, std::size_t> column_counts_;
    std::map<std::pair<std::string, std::size_t>, sqlite::StmtHandle> inserts_;
    std::map<std::string, std::int64_t> added_;
    std::vector<std::string> utf8_;  // converted text bound to the row being inserted
    // The table code and value count of the last row, its insert and its count of rows added.
    std::string code_;
    std::size_t values_ = 0;
    sqlite3_stmt* insert_ = nullptr;
    std::int64_t* added_rows_ = nullptr;
};

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

StoredValue stored_value(sqlite3_stmt* st, int i) {
    StoredValue v;
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
            v.text.assign(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                          std::size_t(sqlite3_column_bytes(st, i)));
    }
    return v;
}

}  // namespace

AccountData SqliteStore::read_all(const std::string& account) {
    auto guard = lock(account);
    AccountData data;
    {
        std::lock_guard versions_guard(locks_mutex_);
        data.version = versions_[account];
    }
    const fs::path file = account_dir(account) / kDatabaseFile;
    if (!fs::exists(file)) return data;
    Database db(file, false);
    db.exec("BEGIN");
    for (const TableDef& def : upload_tables()) {
        if (db.column_count(def.name) == 0) continue;
        StoredTable& table = data.tables.emplace_back();
        table.name = std::string(def.name);
        const sqlite::StmtHandle st = prepare(db.get(), "SELECT * FROM " + quote_identifier(def.name) + " ORDER BY rowid");
        const int n = sqlite3_column_count(st.get());
        for (int i = 0; i < n; ++i) table.columns.emplace_back(sqlite3_column_name(st.get(), i));
        int rc;
        while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
            auto& row = table.rows.emplace_back();
            row.reserve(std::size_t(n));
            for (int i = 0; i < n; ++i) row.push_back(stored_value(st.get(), i));
        }
        if (rc != SQLITE_DONE) throw StoreError(std::string("database: ") + sqlite3_errmsg(db.get()));
    }
    db.exec("COMMIT");
    if (data.version == 0) {
        guard.unlock();
        data.version = version(account);
    }
    return data;
}

LiveState SqliteStore::live_state(const std::string&) {
    throw StoreError("live publishing is not available with this store yet");
}

ChangeResult SqliteStore::apply_changes(const std::string&, const ChangeBatch&) {
    throw StoreError("live publishing is not available with this store yet");
}

}  // namespace ringolan::site
