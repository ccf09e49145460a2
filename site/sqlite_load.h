// The SQLite pieces of the site's store shared by the classic load and live batches: a
// connection, prepared statements, binding a statement line's value as stored, and the loader
// that inserts statement lines into their tables.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/sqlite.h"
#include "site/statement_parser.h"
#include "site/store.h"
#include "site/tables.h"

namespace ringolan::site::sqlite_load {

using sqlite::quote_identifier;

// The account's database in its folder.
inline constexpr const char* kDatabaseFile = "results.sqlite";

// Throws StoreError with SQLite's message when the statement does not compile.
sqlite::StmtHandle prepare(sqlite3* db, const std::string& sql);

class Database {
public:
    Database(const std::filesystem::path& file, bool create) {
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

// Steps a statement that returns no rows; throws StoreError when it fails.
void step_done(sqlite3* db, sqlite3_stmt* st);

// Binds a value of a statement line without a copy where it can: ASCII text without escapes as
// it stands in the dump, other text decoded and converted into room. The text and room must stay
// unchanged until the statement has been stepped.
void bind_value(sqlite3_stmt* st, int index, const ValueView& v, std::string& room);

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

// The live state is a row of its own table in the account's database, so delete_all clears
// it with the tables (sqlite_live.cpp).
LiveState read_live_state(Database& db);
void write_live_state(Database& db, const LiveState& state);
// Called by a classic load in its transaction: the stream's next batch then conflicts and
// the client starts a new one on what was loaded.
void forget_live_state(Database& db);

}  // namespace ringolan::site::sqlite_load
