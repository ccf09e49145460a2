// The tables a piece of work reads from snapshots, learnt from SQLite's authorizer: SQLite asks
// it about every table column a statement uses while the statement is prepared. Query and
// RowCursor prepare every statement they run, so all their reads are seen; a statement prepared
// before a recorder started and only stepped under it would not be.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/snapshot/change_keys.h"

namespace ringolan::db {

// Rows of a table read only where a column holds one value.
struct KeyedRead {
    std::string table;   // ASCII lower case
    std::string column;  // ASCII lower case
    int64_t value = 0;
    bool operator==(const KeyedRead&) const = default;
};

// What an answer read: some tables whole, some only by key, or not known (it may depend on
// anything in the state).
struct ReadSet {
    bool known = false;
    std::vector<std::string> tables;  // read whole; ASCII lower case, sorted, unique
    std::vector<KeyedRead> keyed;     // of tables not read whole; sorted, unique

    // Whether a state differing only in the changed tables (any letter case) reads the same;
    // keys tells, for some of them, the keys of the rows that changed.
    bool unaffected_by(const std::vector<std::string>& changed, const std::vector<TableKeys>& keys = {}) const;
};

// Records the tables read by statements prepared on the calling thread while it lives.
// Recorders nest: what an inner one records reaches the outer one too.
class ReadRecorder {
public:
    ReadRecorder();
    ~ReadRecorder();
    ReadRecorder(const ReadRecorder&) = delete;
    ReadRecorder& operator=(const ReadRecorder&) = delete;

    ReadSet result() const;

    // For the calling thread's recorder, if there is one. The work depends on this table
    // without reading it (it looked for it among the snapshot's tables); an internal table
    // (the catalog, "sqlite_...") counts as the whole state.
    static void note_table(std::string_view name);
    // The work depends on more than tables: the state's number, or a statement that failed.
    static void note_whole_state();
    // The work depends on what another piece of work read (a value it made and kept).
    static void note_reads(const ReadSet& reads);
    // A statement being prepared reads the table: by key under a KeyedScope naming it.
    static void note_statement_read(std::string_view name);

    // While it lives, statements prepared on the calling thread read table only in rows whose
    // column equals value, or one of values (a condition "table.column = value" of each of
    // them, not inside an OR or an outer join, or one that follows from their conditions on
    // rows read by key themselves): recorders note such reads by key. Only for statements known
    // to read so; a statement reading other rows of the table must be prepared outside.
    class KeyedScope {
    public:
        KeyedScope(std::string_view table, std::string_view column, int64_t value);
        KeyedScope(std::string_view table, std::string_view column, const std::vector<int64_t>& values);
        ~KeyedScope();
        KeyedScope(const KeyedScope&) = delete;
        KeyedScope& operator=(const KeyedScope&) = delete;

    private:
        friend class ReadRecorder;
        KeyedScope* outer_;
        std::vector<KeyedRead> reads_;  // of one table and column
        uint64_t noted_by_ = 0;         // the recorder that has them (SQLite asks once per column)
    };

private:
    void add(std::string_view name);
    void add_keyed(const KeyedRead& read);
    ReadRecorder* outer_;
    uint64_t id_;  // never reused on a thread
    std::vector<std::string> tables_;
    std::vector<KeyedRead> keyed_;
    bool whole_state_ = false;
};

// Lets recorders see what statements prepared on db read: installs db's authorizer.
void watch_reads(sqlite3* db);

}  // namespace ringolan::db
