// The tables a piece of work reads from snapshots, learnt from SQLite's authorizer: SQLite asks
// it about every table column a statement uses while the statement is prepared. Query and
// RowCursor prepare every statement they run, so all their reads are seen; a statement prepared
// before a recorder started and only stepped under it would not be.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

namespace ringolan::db {

// What an answer read: some tables, or not known (it may depend on anything in the state).
struct ReadSet {
    bool known = false;
    std::vector<std::string> tables;  // ASCII lower case, sorted, unique

    // Whether a state differing only in the changed tables (any letter case) reads the same.
    bool unaffected_by(const std::vector<std::string>& changed) const;
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

private:
    void add(std::string_view name);
    ReadRecorder* outer_;
    std::vector<std::string> tables_;
    bool whole_state_ = false;
};

// Lets recorders see what statements prepared on db read: installs db's authorizer.
void watch_reads(sqlite3* db);

}  // namespace ringolan::db
