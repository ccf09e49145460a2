// The SQLite database a snapshot image is taken from, kept by a reader that follows a file:
// built once from every page, then brought up to date page by page. Every row's rowid is its
// position in the file (mdbread::row_position), so a table's rows stay in the file's order and
// a changed page replaces exactly the rows it held.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "db/mdbread/page_reader.h"
#include "db/snapshot/change_keys.h"
#include "db/snapshot/snapshot_build.h"

namespace ringolan::db {

// A page whose bytes differ from the last state, with its kind (byte 0) and owner (bytes 4-7)
// before and after.
struct ChangedPage {
    uint32_t page = 0;
    uint8_t old_type = 0, new_type = 0;
    uint32_t old_owner = 0, new_owner = 0;
};

// What an update changed: the tables whose rows differ (catalog names), and for those of them
// with a key column the keys of the rows deleted and inserted, when known.
struct TableChanges {
    std::vector<std::string> tables;
    std::vector<TableKeys> keys;
};

// A change that cannot be applied page by page; the file is read whole instead.
struct NeedsFullRead : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class SnapshotDatabase {
public:
    explicit SnapshotDatabase(BuildOptions options = {});
    ~SnapshotDatabase();
    SnapshotDatabase(const SnapshotDatabase&) = delete;
    SnapshotDatabase& operator=(const SnapshotDatabase&) = delete;

    // A new database with every table of the reader's file. Throws Error naming file.
    void rebuild(mdbread::PageReader& reader, const std::filesystem::path& file);
    // Brings the database from the file of the last rebuild or update to the reader's file,
    // given every page that differs. Returns what changed.
    // Throws NeedsFullRead when a table was added, dropped or redefined, when the file's header
    // changed or nothing was built yet; Error on damaged data (the database is then
    // unusable until the next rebuild).
    TableChanges update(mdbread::PageReader& reader, const std::vector<ChangedPage>& changed);
    // Drops the database: the next update needs a rebuild.
    void discard();
    bool built() const { return db_ != nullptr; }
    // The serialized database, valid until the next rebuild or update.
    std::span<const uint8_t> image();

    // The built database (tests).
    sqlite3* connection() const;

private:
    struct Table;
    struct SideTable;
    void open_fresh(const std::string& uri);
    void build_all(mdbread::PageReader& reader, const std::filesystem::path& file);
    void build_alone(mdbread::PageReader& reader, size_t index, const std::stop_token& stop);
    void take_side_table(SideTable& side, Table& table);
    TableChanges apply(mdbread::PageReader& reader, const std::vector<ChangedPage>& changed);
    // Inserts the rows of the pages; stops between pages once stop is requested.
    void load_pages(Table& table, mdbread::PageReader& reader, size_t index, const std::vector<uint32_t>& pages,
                    const std::stop_token& stop = {});
    void insert_row(Table& table, int64_t position, const jet::Value* values, size_t count);
    std::unique_ptr<Table> create_table(const mdbread::TableLayout& layout);
    bool indexed(const std::string& table, const std::string& column) const;
    bool with_statistics() const;
    void create_indexes(const Table& table);
    void exec(const std::string& sql);

    BuildOptions options_;
    std::filesystem::path file_;
    struct Db;
    std::unique_ptr<Db> db_;
    std::vector<std::unique_ptr<Table>> tables_;
    std::vector<uint8_t> copy_;  // the image when SQLite cannot lend its own memory
};

}  // namespace ringolan::db
