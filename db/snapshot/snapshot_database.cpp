#include "db/snapshot/snapshot_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <set>
#include <variant>

#include "common/ascii.h"
#include "common/error.h"
#include "common/sqlite.h"
#include "db/snapshot/decode_pipeline.h"
#include "db/sql/jet_functions.h"

namespace ringolan::db {

using sqlite::quote_identifier;

namespace {

constexpr uint8_t kDataPage = 0x01;
constexpr uint32_t kLongValuePage = 0x4C41564C;  // "LVAL" where a data page names its table

bool is_text(jet::ColumnType t) { return t == jet::ColumnType::Text || t == jet::ColumnType::Memo; }

int bind(sqlite3_stmt* st, int index, const jet::Value& value) {
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
    return std::visit(Binder{st, index}, value);
}

// The name under which the table's rowid can be set: one that no column takes.
std::string rowid_name(const std::vector<mdbread::ColumnInfo>& columns) {
    for (const char* name : {"rowid", "_rowid_", "oid"}) {
        const bool taken = std::any_of(columns.begin(), columns.end(),
                                       [&](const mdbread::ColumnInfo& c) { return text::equal_ignoring_case(c.name, name); });
        if (!taken) return name;
    }
    return {};
}

bool has_long_values(const mdbread::TableLayout& table) {
    return std::any_of(table.columns.begin(), table.columns.end(), [](const mdbread::ColumnInfo& c) {
        return c.type == jet::ColumnType::Memo || c.type == jet::ColumnType::Ole;
    });
}

bool same_definition(const mdbread::TableLayout& a, const mdbread::TableLayout& b) {
    return a.name == b.name && a.definition_page == b.definition_page && a.row_format == b.row_format &&
           a.columns.size() == b.columns.size() &&
           std::equal(a.columns.begin(), a.columns.end(), b.columns.begin(), [](const auto& x, const auto& y) {
               return x.name == y.name && x.type == y.type && x.size == y.size;
           });
}

constexpr const char* kPrivateUri = "file:ringolan-snapshot?vfs=memdb";

// The table built beside the others on a thread of its own: the one with the most pages, when
// it has enough of them to be worth a thread (the shots of a competition: 40 % of the work).
constexpr size_t kSidePages = 16;

std::optional<size_t> side_table_of(const mdbread::PageReader& reader) {
    const auto& tables = reader.tables();
    if (tables.size() < 2) return std::nullopt;
    size_t largest = 0;
    for (size_t t = 1; t < tables.size(); ++t)
        if (tables[t].data_pages.size() > tables[largest].data_pages.size()) largest = t;
    if (tables[largest].data_pages.size() < kSidePages) return std::nullopt;
    return largest;
}

// A memdb name that other connections of this process can attach.
std::string shared_uri() {
    static std::atomic<unsigned> counter{0};
    return "file:/ringolan-side-" + std::to_string(++counter) + "?vfs=memdb";
}

}  // namespace

struct SnapshotDatabase::Db {
    sqlite::DbHandle handle;
};

struct SnapshotDatabase::Table {
    mdbread::TableLayout layout;
    sqlite::StmtHandle insert;  // rowid first when the table has a usable rowid name
    sqlite::StmtHandle erase;   // the rows of one page: rowid in [?1, ?2)
    // Per key column of the table: its name and its keys in rowid [?1, ?2).
    std::vector<std::pair<std::string, sqlite::StmtHandle>> keys;
    bool positioned = false;    // rows carry their file position as rowid
    int64_t rows = 0;           // rows now
    int64_t analyzed_rows = 0;  // rows when the statistics were taken
};

SnapshotDatabase::SnapshotDatabase(BuildOptions options) : options_(options) {}
SnapshotDatabase::~SnapshotDatabase() {
    tables_.clear();  // statements before their connection
}

sqlite3* SnapshotDatabase::connection() const { return db_ ? db_->handle.get() : nullptr; }

void SnapshotDatabase::exec(const std::string& sql) {
    if (sqlite3_exec(connection(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw Error(file_.string() + ": " + sql + ": " + sqlite3_errmsg(connection()));
}

void SnapshotDatabase::open_fresh(const std::string& uri) {
    tables_.clear();
    db_.reset();
    sqlite3* raw = nullptr;
    // SQLite's memdb keeps the database in one buffer that sqlite3_serialize can lend.
    const int rc = sqlite3_open_v2(uri.c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    auto db = std::make_unique<Db>();
    db->handle.reset(raw);
    if (rc != SQLITE_OK) throw Error(file_.string() + ": cannot create an in-memory SQLite database");
    db_ = std::move(db);
    register_jet_functions(raw);
    sqlite3_int64 limit = sqlite3_int64(1) << 34;  // memdb's default of 1 GiB is too small for large files
    sqlite3_file_control(raw, "main", SQLITE_FCNTL_SIZE_LIMIT, &limit);
    exec("PRAGMA journal_mode=OFF");
    exec("PRAGMA synchronous=OFF");
    exec("PRAGMA temp_store=MEMORY");  // index sorts stay off the disk
    // 32 MiB: pages spill into memdb's buffer during the build instead of all at COMMIT, and the
    // process touches about 80 MB less fresh memory (measured at 50,000 shooters: hand-over
    // after a whole read 40 instead of 170 ms, the build not slower).
    exec("PRAGMA cache_size=-32768");
    // Writing the header gives even a file without tables a page, so the image is never empty.
    exec("PRAGMA application_id=" + std::to_string(kSnapshotApplicationId));
}

void SnapshotDatabase::insert_row(Table& table, int64_t position, const jet::Value* values, size_t count) {
    sqlite3_stmt* st = table.insert.get();
    const int first = table.positioned ? 2 : 1;
    if (table.positioned) sqlite3_bind_int64(st, 1, position);
    for (size_t i = 0; i < count; ++i) bind(st, first + int(i), values[i]);
    if (sqlite3_step(st) != SQLITE_DONE)
        throw Error(file_.string() + ": cannot insert into " + table.layout.name + ": " + sqlite3_errmsg(connection()));
    sqlite3_reset(st);
    ++table.rows;
}

void SnapshotDatabase::load_pages(Table& table, mdbread::PageReader& reader, size_t index,
                                  const std::vector<uint32_t>& pages, const std::stop_token& stop) {
    for (const uint32_t page : pages) {
        if (stop.stop_requested()) return;
        reader.decode_page(index, page, [&](uint32_t row_number, const jet::Row& row) {
            insert_row(table, mdbread::row_position(page, row_number), row.data(), row.size());
        });
    }
}

void SnapshotDatabase::rebuild(mdbread::PageReader& reader, const std::filesystem::path& file) {
    try {
        build_all(reader, file);
    } catch (...) {
        discard();
        throw;
    }
}

void SnapshotDatabase::discard() {
    tables_.clear();  // statements before their connection
    db_.reset();
    copy_.clear();
}

std::unique_ptr<SnapshotDatabase::Table> SnapshotDatabase::create_table(const mdbread::TableLayout& layout) {
    sqlite3* db = connection();
    auto table = std::make_unique<Table>();
    table->layout = layout;
    const std::string name = quote_identifier(layout.name);
    const std::string rowid = rowid_name(layout.columns);
    table->positioned = !rowid.empty();
    std::string create = "CREATE TABLE " + name + " (", columns, values;
    if (table->positioned) {
        columns = quote_identifier(rowid);
        values = "?";
    }
    for (const auto& col : layout.columns) {
        if (create.back() != '(') create += ", ";
        create += quote_identifier(col.name) + ' ' + declared_type(col.type);
        if (is_text(col.type)) create += std::string(" COLLATE ") + kJetCollation;
        columns += (columns.empty() ? "" : ", ") + quote_identifier(col.name);
        values += values.empty() ? "?" : ",?";
    }
    if (sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        throw Error(file_.string() + ": table " + layout.name + ": cannot create it: " + sqlite3_errmsg(db));
    sqlite3_stmt* raw = nullptr;
    const std::string insert = "INSERT INTO " + name + " (" + columns + ") VALUES (" + values + ")";
    if (sqlite3_prepare_v3(db, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
        throw Error(file_.string() + ": cannot prepare the insert into " + layout.name);
    table->insert.reset(raw);
    if (table->positioned) {
        const std::string erase = "DELETE FROM " + name + " WHERE " + quote_identifier(rowid) + " >= ?1 AND " +
                                  quote_identifier(rowid) + " < ?2";
        if (sqlite3_prepare_v3(db, erase.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
            throw Error(file_.string() + ": cannot prepare the delete from " + layout.name);
        table->erase.reset(raw);
        for (const KeyColumn& key : key_columns_of(layout.name)) {
            if (std::none_of(layout.columns.begin(), layout.columns.end(),
                             [&](const auto& c) { return text::equal_ignoring_case(c.name, key.column); }))
                continue;
            const std::string keys = "SELECT DISTINCT " + quote_identifier(std::string(key.column)) + " FROM " + name +
                                     " WHERE " + quote_identifier(rowid) + " >= ?1 AND " + quote_identifier(rowid) +
                                     " < ?2";
            if (sqlite3_prepare_v3(db, keys.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK)
                throw Error(file_.string() + ": cannot prepare the keys of " + layout.name);
            table->keys.emplace_back(std::string(key.column), sqlite::StmtHandle(raw));
        }
    }
    return table;
}

bool SnapshotDatabase::indexed(const std::string& table, const std::string& column) const {
    if (!options_.indexes) return false;
    if (!options_.only_indexes) {
        return std::any_of(indexed_columns().begin(), indexed_columns().end(),
                           [&](const std::string& wanted) { return text::equal_ignoring_case(column, wanted); });
    }
    const std::string name = table + "." + column;
    return std::any_of(options_.only_indexes->begin(), options_.only_indexes->end(),
                       [&](const std::string& wanted) { return text::equal_ignoring_case(name, wanted); });
}

bool SnapshotDatabase::with_statistics() const { return options_.indexes && !options_.only_indexes; }

void SnapshotDatabase::create_indexes(const Table& table) {
    const std::string name = quote_identifier(table.layout.name);
    for (const auto& col : table.layout.columns) {
        if (!indexed(table.layout.name, col.name)) continue;
        exec("CREATE INDEX " + quote_identifier("ix_" + table.layout.name + "_" + col.name) + " ON " + name + " (" +
             quote_identifier(col.name) + ")");
    }
}

// Builds one table into a database of its own, which the main database attaches and copies
// the table from at the end (SQLite copies a table's records and index entries as they are).
struct SnapshotDatabase::SideTable {
    SnapshotDatabase database;
    std::unique_ptr<mdbread::PageReader> reader;
    std::string uri = shared_uri();
    size_t index;
    std::exception_ptr error;
    std::jthread thread;  // last: joined before the rest goes

    SideTable(const mdbread::PageReader& main_reader, size_t table, const BuildOptions& options,
              const std::filesystem::path& file)
        : database(options), reader(main_reader.another()), index(table) {
        const auto& mine = reader->tables();
        const mdbread::TableLayout& wanted = main_reader.tables()[table];
        if (mine.size() <= table || !same_definition(mine[table], wanted) ||
            mine[table].data_pages != wanted.data_pages)
            throw Error(file.string() + ": the file changed while it was read");
        database.file_ = file;
        database.open_fresh(uri);
        thread = std::jthread([this](std::stop_token stop) {
            try {
                database.build_alone(*reader, index, stop);
            } catch (...) {
                error = std::current_exception();
            }
        });
    }
};

void SnapshotDatabase::build_alone(mdbread::PageReader& reader, size_t index, const std::stop_token& stop) {
    exec("BEGIN");
    std::unique_ptr<Table> table = create_table(reader.tables()[index]);
    load_pages(*table, reader, index, table->layout.data_pages, stop);
    if (stop.stop_requested()) return;
    create_indexes(*table);
    exec("COMMIT");
    tables_.push_back(std::move(table));
}

void SnapshotDatabase::take_side_table(SideTable& side, Table& table) {
    side.thread.join();
    if (side.error) std::rethrow_exception(side.error);
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(connection(), "ATTACH ?1 AS ringolan_side", -1, &raw, nullptr) != SQLITE_OK)
        throw Error(file_.string() + ": cannot attach the side database: " + sqlite3_errmsg(connection()));
    sqlite::StmtHandle attach(raw);
    sqlite3_bind_text(raw, 1, side.uri.c_str(), -1, SQLITE_STATIC);
    if (sqlite3_step(raw) != SQLITE_DONE)
        throw Error(file_.string() + ": cannot attach the side database: " + sqlite3_errmsg(connection()));
    const std::string name = quote_identifier(table.layout.name);
    exec("INSERT INTO main." + name + " SELECT * FROM ringolan_side." + name);
    exec("DETACH ringolan_side");
    table.rows = side.database.tables_.at(0)->rows;
}

void SnapshotDatabase::build_all(mdbread::PageReader& reader, const std::filesystem::path& file) {
    file_ = file;
    copy_.clear();
    const std::optional<size_t> side_index = side_table_of(reader);
    open_fresh(kPrivateUri);
    std::optional<SideTable> side;
    if (side_index) side.emplace(reader, *side_index, options_, file);
    exec("BEGIN");
    // Pages are decoded on a second thread while this one inserts their rows.
    DecodePipeline pipeline(reader, side_index);
    for (size_t t = 0; t < reader.tables().size(); ++t) {
        std::unique_ptr<Table> table = create_table(reader.tables()[t]);
        // The side table's indexes are made now, empty, to be filled with its rows at the end.
        if (t == side_index) create_indexes(*table);
        const size_t columns = table->layout.columns.size();
        while (DecodePipeline::Batch* batch = pipeline.next()) {
            const bool end = batch->end_of_table;
            for (size_t r = 0; r < batch->positions.size(); ++r)
                insert_row(*table, batch->positions[r], batch->values.data() + r * columns, columns);
            pipeline.recycle(batch);
            if (end) break;
        }
        if (t != side_index) create_indexes(*table);
        tables_.push_back(std::move(table));
    }
    exec("COMMIT");
    if (side) {  // outside a transaction: SQLite attaches and detaches only there
        take_side_table(*side, *tables_.at(*side_index));
        side.reset();
    }
    for (auto& table : tables_) table->analyzed_rows = table->rows;
    // libmdb lists no tables when it cannot read the catalog's pages (a file cut short).
    if (tables_.empty()) throw Error(file.string() + ": no tables (damaged or incomplete file)");
    // Statistics of the indexes let the planner start a join at its most selective condition
    // (a club's teams from mannschaft, not every rank of the competition). A thousand rows per
    // index are sample enough (the same plans for every statement at 50,000 shooters) and take
    // 1 ms instead of 56.
    if (with_statistics()) exec("PRAGMA analysis_limit=1000; ANALYZE main");
}

TableChanges SnapshotDatabase::update(mdbread::PageReader& reader, const std::vector<ChangedPage>& changed) {
    try {
        return apply(reader, changed);
    } catch (...) {
        discard();  // half applied: only a rebuild makes the database right again
        throw;
    }
}

TableChanges SnapshotDatabase::apply(mdbread::PageReader& reader, const std::vector<ChangedPage>& changed) {
    if (!db_ || tables_.empty()) throw NeedsFullRead("nothing read yet");
    const auto& layouts = reader.tables();
    if (layouts.size() != tables_.size()) throw NeedsFullRead("tables were added or dropped");
    for (size_t t = 0; t < layouts.size(); ++t) {
        if (!same_definition(layouts[t], tables_[t]->layout)) throw NeedsFullRead("table " + layouts[t].name + " was redefined");
        if (!tables_[t]->positioned) throw NeedsFullRead("table " + layouts[t].name + " has no row positions");
    }
    std::set<uint32_t> changed_pages;
    for (const ChangedPage& c : changed) {
        if (c.page == 0) throw NeedsFullRead("the file's header changed");
        changed_pages.insert(c.page);
    }
    const bool long_values_changed = std::any_of(changed.begin(), changed.end(), [](const ChangedPage& c) {
        return (c.old_type == kDataPage && c.old_owner == kLongValuePage) || (c.new_type == kDataPage && c.new_owner == kLongValuePage);
    });
    copy_.clear();
    TableChanges touched;
    exec("BEGIN");
    for (size_t t = 0; t < layouts.size(); ++t) {
        Table& table = *tables_[t];
        const std::vector<uint32_t>& before = table.layout.data_pages;
        const std::vector<uint32_t>& after = layouts[t].data_pages;
        auto listed = [](const std::vector<uint32_t>& pages, uint32_t p) { return std::binary_search(pages.begin(), pages.end(), p); };
        // Long values (memo, OLE) longer than a row holds live on pages of their own, which do
        // not name their table, and the rows that refer to them are elsewhere: a table with such
        // columns is read whole when any such page changed.
        const bool whole = long_values_changed && has_long_values(table.layout);
        std::vector<uint32_t> erase, load;
        if (whole) {
            erase = before;
            load = after;
        } else {
            for (uint32_t p : before)
                if (changed_pages.count(p) || !listed(after, p)) erase.push_back(p);
            for (uint32_t p : after)
                if (changed_pages.count(p) || !listed(before, p)) load.push_back(p);
        }
        if (erase.empty() && load.empty()) continue;
        // The keys of the rows on the pages, before they go and after they came.
        std::vector<KeyCollector> keys;
        for (const auto& [column, select] : table.keys) keys.emplace_back(select.get());
        auto collect_keys = [&](const std::vector<uint32_t>& pages) {
            for (KeyCollector& k : keys)
                for (uint32_t p : pages) k.add_rows(mdbread::row_position(p, 0), mdbread::row_position(p + 1, 0));
        };
        collect_keys(erase);
        sqlite3_stmt* st = table.erase.get();
        for (uint32_t p : erase) {
            sqlite3_bind_int64(st, 1, mdbread::row_position(p, 0));
            sqlite3_bind_int64(st, 2, mdbread::row_position(p + 1, 0));
            if (sqlite3_step(st) != SQLITE_DONE)
                throw Error(file_.string() + ": cannot delete from " + table.layout.name + ": " + sqlite3_errmsg(connection()));
            table.rows -= sqlite3_changes64(connection());
            sqlite3_reset(st);
        }
        load_pages(table, reader, t, load);
        collect_keys(load);
        table.layout = layouts[t];
        touched.tables.push_back(table.layout.name);
        for (size_t k = 0; k < keys.size(); ++k)
            if (keys[k].known()) touched.keys.push_back({table.layout.name, table.keys[k].first, keys[k].values()});
    }
    // The index statistics are taken again when a table's size has changed by a tenth since
    // they were taken (as a full read would take them): the planner's choices rest on row counts
    // and keys per value, which a few results do not move.
    if (with_statistics()) {
        for (auto& table : tables_) {
            const int64_t drift = table->rows - table->analyzed_rows;
            if ((drift < 0 ? -drift : drift) * 10 <= table->analyzed_rows) continue;
            exec("ANALYZE " + quote_identifier(table->layout.name));
            table->analyzed_rows = table->rows;
            // New statistics may change the plans, and with them the order of equal rows, of
            // statements on rows whose keys did not change.
            std::erase_if(touched.keys, [&](const TableKeys& k) { return k.table == table->layout.name; });
        }
    }
    exec("COMMIT");
    return touched;
}

std::span<const uint8_t> SnapshotDatabase::image() {
    sqlite3_int64 size = 0;
    if (unsigned char* lent = sqlite3_serialize(connection(), "main", &size, SQLITE_SERIALIZE_NOCOPY))
        return {lent, size_t(size)};
    if (copy_.empty()) {
        unsigned char* bytes = sqlite3_serialize(connection(), "main", &size, 0);
        if (!bytes) throw Error(file_.string() + ": cannot serialize the snapshot (out of memory)");
        copy_.assign(bytes, bytes + size);
        sqlite3_free(bytes);
    }
    return copy_;
}

}  // namespace ringolan::db
