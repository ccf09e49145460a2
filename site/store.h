// The site's data, behind one interface with two implementations: SqliteStore (a folder per
// account with an SQLite file, the default) and PostgresStore (one PostgreSQL database shared by
// any number of site processes). Uploads of one account are serialised by the store: by a lock
// in the process for SQLite, by the database for PostgreSQL.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "site/statement_parser.h"

namespace ringolan::site {

class StoreError : public Error {
public:
    using Error::Error;
};

// The insert request came without a file posted before it.
class NoUploadError : public StoreError {
public:
    NoUploadError() : StoreError("no file has been uploaded for this account") {}
};

struct TableRows {
    std::vector<std::string> columns;
    std::vector<std::vector<std::optional<std::string>>> rows;  // UTF-8 text; nullopt for NULL
};

// A value as stored: the statement line's number is kept as a whole number or a real.
struct StoredValue {
    enum class Kind { null, integer, real, text };
    Kind kind = Kind::null;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;  // UTF-8
    bool operator==(const StoredValue&) const = default;
};

struct StoredTable {
    std::string name;  // as in upload_tables()
    std::vector<std::string> columns;
    std::vector<std::vector<StoredValue>> rows;  // in the order they arrived
};

// A stored value as read, its text valid only while the row is visited.
struct StoredValueView {
    StoredValue::Kind kind = StoredValue::Kind::null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view text;

    StoredValue held() const { return {kind, integer, real, std::string(text)}; }
};

// Receives an account's tables as they are read: each table's name and columns, then its rows.
class TableVisitor {
public:
    virtual ~TableVisitor() = default;
    virtual void table(const std::string& name, const std::vector<std::string>& columns) = 0;
    virtual void row(const std::vector<StoredValueView>& values) = 0;
};

// Every table held for an account, and the account's data version it was read at.
struct AccountData {
    std::int64_t version = 0;
    std::vector<StoredTable> tables;  // only the tables that exist, in upload order
};

// One table's part of a change batch. Rows are statement lines as the classic upload sends
// them, parsed; a deleted row is removed once (one of several equal rows), matched on every
// value as it would be stored.
struct TableChange {
    std::string code;                  // the table's code, as in the statement lines
    bool replace = false;              // every row of the table is removed before the inserts
    std::vector<Statement> deletes;
    std::vector<Statement> inserts;
    // Further rows inserted after `inserts`, as statement lines (Windows-1252) each ending in
    // "\r\n": a large batch is held as its text, not as one Statement per row.
    std::string insert_lines = {};
};

// Hands each row a change inserts to `sink`: `inserts`, then the rows of `insert_lines`. Throws
// DumpError for a row of another table than the change's or a line that does not parse.
void for_each_insert(const TableChange& change, const std::function<void(const StatementView&)>& sink);

// A batch of live publishing. A stream is one run of the publishing client; its batches are
// numbered from 1 and each builds on the one before. A batch with base 0 starts a stream: every
// table of the account is emptied before its changes.
struct ChangeBatch {
    std::string stream;          // the client's id of its run: 1..64 of [0-9A-Za-z-]
    std::int64_t base = 0;       // the sequence this batch builds on (0: starts the stream)
    std::int64_t sequence = 0;   // base + 1
    std::vector<TableChange> tables;
};

// Where an account's live publishing stands.
struct LiveState {
    std::string stream;          // empty when no stream is applied (or a classic upload came after)
    std::int64_t sequence = 0;
};

enum class ChangeOutcome {
    applied,    // the batch was applied in one transaction
    duplicate,  // stream and sequence equal the state: applied before, nothing done
    conflict,   // the batch does not build on the state; nothing done (the client starts a stream)
};

struct ChangeResult {
    ChangeOutcome outcome = ChangeOutcome::conflict;
    LiveState state;  // the state after the call
};

// Throws StoreError unless the stream is 1..64 of [0-9A-Za-z-], base >= 0 and sequence = base + 1.
void check_batch(const ChangeBatch& batch);

// What a well-formed batch meets in a state: duplicate (same stream and sequence), applied (a
// new stream's start, or the next batch of the stream held) or conflict (anything else: an old
// start of the stream held, a gap, another stream's batch). Applying may still end in conflict
// when a deleted row is not held.
ChangeOutcome judge_batch(const ChangeBatch& batch, const LiveState& state);

class SiteStore {
public:
    virtual ~SiteStore() = default;

    // Removes everything held for the account: its tables, a file not yet loaded and its live state.
    virtual void delete_all(const std::string& account) = 0;

    // Keeps `gzip_bytes` as the account's file to load, replacing one not yet loaded. A store
    // may read it into rows at once, held apart until the load; a file that does not read is
    // then kept as it is, and its load reports the fault.
    virtual void store_upload(const std::string& account, std::string_view gzip_bytes) = 0;

    // Loads the account's uploaded file in one transaction, unpacking and reading it piece by
    // piece, and removes the file. Returns the rows added per table name. On any failure
    // (NoUploadError, GzipError, DumpError for a line that does not parse or names an unknown
    // table, StoreError) nothing is changed and the file stays.
    virtual std::map<std::string, std::int64_t> load_upload(const std::string& account) = 0;

    // Rows held of a table of the upload list (name in any letter case); nullopt for a name
    // that is not one of them.
    virtual std::optional<std::int64_t> count(const std::string& account, std::string_view table) = 0;

    // Up to `limit` rows of a table in the order they arrived; nullopt for an unknown name.
    virtual std::optional<TableRows> rows(const std::string& account, std::string_view table,
                                          std::size_t limit) = 0;

    // A number that grows with every change of the account's tables (loads, deletes, batches),
    // whichever process made it; 0 for an account never written.
    virtual std::int64_t version(const std::string& account) = 0;

    // Every table of the account with typed values, read in one transaction and passed to the
    // visitor table by table and row by row, without holding them; returns the version read at.
    virtual std::int64_t read_each(const std::string& account, TableVisitor& visitor) = 0;

    // The same held whole.
    AccountData read_all(const std::string& account);

    virtual LiveState live_state(const std::string& account) = 0;

    // Applies a batch all or nothing (see judge_batch). Throws DumpError for a statement of an
    // unknown table code or of another table than its entry's, StoreError for a malformed batch
    // (check_batch) or when the database fails; nothing is changed then.
    virtual ChangeResult apply_changes(const std::string& account, const ChangeBatch& batch) = 0;

    // `changed(account)` is called, on a thread of the store's, after any process changed the
    // account's tables. One listener; set it before serving. It must not call the store.
    // on_change({}) ends the calls: when it returns, none is under way or will come.
    virtual void on_change(std::function<void(const std::string& account)> changed) = 0;
};

// "" or "sqlite" (with `data_dir`) or a "postgresql://" / "postgres://" connection URI.
// Throws StoreError when the database cannot be used.
std::unique_ptr<SiteStore> open_store(const std::string& database, const std::filesystem::path& data_dir);

}  // namespace ringolan::site
