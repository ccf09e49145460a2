// Live batches in the SQLite store: the live state is one row of "ringolan_live" in the
// account's database; a batch is checked against it and applied in the same transaction.
#include "site/sqlite_load.h"
#include "site/sqlite_store.h"

#include <tuple>

namespace ringolan::site {

using namespace sqlite_load;
namespace fs = std::filesystem;

namespace sqlite_load {

namespace {
constexpr const char* kLiveTable = "ringolan_live";
}  // namespace

LiveState read_live_state(Database& db) {
    LiveState state;
    if (db.column_count(kLiveTable) == 0) return state;
    const sqlite::StmtHandle st = prepare(db.get(), std::string("SELECT stream, sequence FROM ") + kLiveTable);
    if (sqlite3_step(st.get()) == SQLITE_ROW) {
        if (const auto* t = sqlite3_column_text(st.get(), 0))
            state.stream.assign(reinterpret_cast<const char*>(t), std::size_t(sqlite3_column_bytes(st.get(), 0)));
        state.sequence = sqlite3_column_int64(st.get(), 1);
    }
    return state;
}

void write_live_state(Database& db, const LiveState& state) {
    db.exec(std::string("CREATE TABLE IF NOT EXISTS ") + kLiveTable + " (stream TEXT, sequence INTEGER)");
    db.exec(std::string("DELETE FROM ") + kLiveTable);
    const sqlite::StmtHandle st = prepare(db.get(), std::string("INSERT INTO ") + kLiveTable + " VALUES (?, ?)");
    sqlite3_bind_text(st.get(), 1, state.stream.data(), int(state.stream.size()), SQLITE_STATIC);
    sqlite3_bind_int64(st.get(), 2, state.sequence);
    step_done(db.get(), st.get());
}

void forget_live_state(Database& db) {
    if (db.column_count(kLiveTable) != 0) db.exec(std::string("DELETE FROM ") + kLiveTable);
}

}  // namespace sqlite_load

namespace {

StatementView view_of(const Statement& s) {
    StatementView v;
    v.code = s.code;
    v.line = s.line;
    v.values.reserve(s.values.size());
    for (const Value& value : s.values) v.values.push_back({value.kind, value.text, false});
    return v;
}

// Removes one row per statement that equals it on every value as the load would have stored it
// (compared with IS, so NULL matches NULL; columns beyond its values must be NULL).
class RowDeleter {
public:
    explicit RowDeleter(Database& db) : db_(db) {}

    // The table's rows are about to be matched: its width is read once, and its first column
    // indexed so that a match does not scan the table (the classic upload deletes the whole
    // database file first, indexes included).
    void prepare_table(const TableDef& table) {
        columns_ = db_.column_count(table.name);
        if (columns_ == 0) return;
        db_.exec("CREATE INDEX IF NOT EXISTS " + quote_identifier("live_" + std::string(table.name)) + " ON " +
                 quote_identifier(table.name) + " (" + quote_identifier(column_name(table, 0)) + ")");
    }

    // False when no such row is held.
    bool remove(const TableDef& table, const Statement& s) {
        const std::size_t columns = columns_;
        if (columns == 0 || s.values.size() > columns) return false;
        sqlite3_stmt* st = statement_for(table, s.values.size(), columns);
        sqlite3_reset(st);
        if (room_.size() < s.values.size()) room_.resize(s.values.size());
        const StatementView v = view_of(s);
        for (std::size_t i = 0; i < v.values.size(); ++i) bind_value(st, int(i + 1), v.values[i], room_[i]);
        step_done(db_.get(), st);
        return sqlite3_changes(db_.get()) == 1;
    }

private:
    sqlite3_stmt* statement_for(const TableDef& table, std::size_t values, std::size_t columns) {
        const auto key = std::make_tuple(std::string(table.name), values, columns);
        if (auto it = deletes_.find(key); it != deletes_.end()) return it->second.get();
        const std::string name = quote_identifier(table.name);
        std::string where;
        for (std::size_t i = 0; i < columns; ++i) {
            where += i ? " AND " : "";
            where += quote_identifier(column_name(table, i));
            where += i < values ? " IS ?" + std::to_string(i + 1) : " IS NULL";
        }
        if (columns == 0) where = "1";
        const std::string sql = "DELETE FROM " + name + " WHERE rowid = (SELECT rowid FROM " + name + " WHERE " +
                                where + " LIMIT 1)";
        return deletes_.emplace(key, prepare(db_.get(), sql)).first->second.get();
    }

    Database& db_;
    std::map<std::tuple<std::string, std::size_t, std::size_t>, sqlite::StmtHandle> deletes_;
    std::vector<std::string> room_;
    std::size_t columns_ = 0;
};

void empty_table(Database& db, const TableDef& table) {
    if (db.column_count(table.name) != 0) db.exec("DELETE FROM " + quote_identifier(table.name));
}

// Applies the changes of an accepted batch; false when a deleted row is not held (the batch does
// not build on these tables). Throws DumpError for an unknown table code.
bool apply_tables(Database& db, const ChangeBatch& batch) {
    std::vector<const TableDef*> defs;
    for (const TableChange& change : batch.tables) {
        const TableDef* def = table_by_code(change.code);
        if (!def) throw DumpError(0, "unknown table code \"" + change.code + "\"");
        defs.push_back(def);
    }
    if (batch.base == 0)
        for (const TableDef& def : upload_tables()) empty_table(db, def);
    RowDeleter deleter(db);
    Loader loader(db);
    for (std::size_t i = 0; i < batch.tables.size(); ++i) {
        const TableChange& change = batch.tables[i];
        if (change.replace) empty_table(db, *defs[i]);
        if (!change.deletes.empty()) deleter.prepare_table(*defs[i]);
        for (const Statement& s : change.deletes)
            if (!deleter.remove(*defs[i], s)) return false;
        for_each_insert(change, [&](const StatementView& v) { loader.add(v); });
    }
    return true;
}

}  // namespace

LiveState SqliteStore::live_state(const std::string& account) {
    auto guard = lock(account);
    const fs::path file = account_dir(account) / kDatabaseFile;
    if (!fs::exists(file)) return {};
    Database db(file, false);
    return read_live_state(db);
}

ChangeResult SqliteStore::apply_changes(const std::string& account, const ChangeBatch& batch) {
    check_batch(batch);
    auto guard = lock(account);
    const fs::path d = account_dir(account);
    fs::create_directories(d);
    Database db(d / kDatabaseFile, true);
    db.exec("BEGIN IMMEDIATE");
    ChangeResult result;
    try {
        result.state = read_live_state(db);
        result.outcome = judge_batch(batch, result.state);
        if (result.outcome == ChangeOutcome::applied && !apply_tables(db, batch))
            result.outcome = ChangeOutcome::conflict;
        if (result.outcome == ChangeOutcome::applied) {
            result.state = {batch.stream, batch.sequence};
            write_live_state(db, result.state);
            db.exec("COMMIT");
        } else {
            db.exec("ROLLBACK");
        }
    } catch (...) {
        sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (result.outcome == ChangeOutcome::applied) changed(account);
    return result;
}

}  // namespace ringolan::site
