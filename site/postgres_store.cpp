#include "site/postgres_store.h"

#include "site/gunzip.h"
#include "site/pg_rows.h"
#include "site/pg_schema.h"
#include "site/pg_writer.h"
#include "site/tables.h"

#include <limits>

namespace ringolan::site {

using pg::exec;
using pg::Result;
using pg::Transaction;

namespace {

// Takes the account's lock for the rest of the transaction.
void lock_account(PGconn* c, const std::string& account) {
    exec(c, "SELECT pg_advisory_xact_lock(" + std::to_string(pg::kAccountLockSpace) + ", hashtext($1))", {{account}});
}

struct AccountRow {
    std::int64_t next_seq = 1;
    LiveState live;
};

AccountRow account_row(PGconn* c, const std::string& account) {
    const Result r =
        exec(c, "SELECT next_seq, live_stream, live_sequence FROM site_accounts WHERE account = $1", {{account}});
    AccountRow row;
    if (r.rows() == 0) return row;
    row.next_seq = r.integer(0, 0);
    row.live = {std::string(r.text(0, 1)), r.integer(0, 2)};
    return row;
}

// Records a change of the account's tables: a new version, the next row sequence and the live
// state; announces it when the transaction commits.
void record_change(PGconn* c, const std::string& account, std::int64_t next_seq, const LiveState& live) {
    const std::string seq = std::to_string(next_seq), sequence = std::to_string(live.sequence);
    exec(c,
         "INSERT INTO site_accounts (account, version, next_seq, live_stream, live_sequence) "
         "VALUES ($1, 1, $2, $3, $4) ON CONFLICT (account) DO UPDATE SET version = site_accounts.version + 1, "
         "next_seq = excluded.next_seq, live_stream = excluded.live_stream, live_sequence = excluded.live_sequence",
         {{account}, {seq}, {live.stream}, {sequence}});
    exec(c, std::string("SELECT pg_notify('") + pg::kChangeChannel + "', $1)", {{account}});
}

// Removes a posted file not yet loaded, and the rows read from it.
void drop_upload(PGconn* c, const std::string& account) {
    exec(c, "DELETE FROM site_rows WHERE table_id IN (SELECT table_id FROM site_staged WHERE account = $1)",
         {{account}});
    exec(c, "DELETE FROM site_staged WHERE account = $1", {{account}});
    exec(c, "DELETE FROM site_uploads WHERE account = $1", {{account}});
}

struct TableInfo {
    std::int64_t id = 0;
    std::size_t width = 0;
};

std::optional<TableInfo> table_info(PGconn* c, const std::string& account, std::string_view name) {
    const Result r =
        exec(c, "SELECT id, width FROM site_tables WHERE account = $1 AND tbl = $2", {{account}, {name}});
    if (r.rows() == 0) return std::nullopt;
    return TableInfo{r.integer(0, 0), std::size_t(r.integer(0, 1))};
}

// The rows of a table in arrival order, each padded to the table's width.
std::vector<std::vector<StoredValue>> table_rows(PGconn* c, const TableInfo& t, std::size_t limit) {
    const std::string id = std::to_string(t.id);
    const std::string max = std::to_string(std::min<std::size_t>(limit, std::numeric_limits<std::int64_t>::max()));
    const Result r = exec(c, "SELECT vals FROM site_rows WHERE table_id = $1 ORDER BY seq LIMIT $2", {{id}, {max}});
    std::vector<std::vector<StoredValue>> rows;
    rows.reserve(std::size_t(r.rows()));
    for (int i = 0; i < r.rows(); ++i) rows.push_back(pg::parse_row(r.text(i, 0), t.width));
    return rows;
}

std::vector<std::string> column_names(const TableDef& def, std::size_t width) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < width; ++i) names.push_back(column_name(def, i));
    return names;
}

StatementView view_of(const Statement& s) {
    StatementView v{s.code, {}, s.line};
    for (const Value& value : s.values) v.values.push_back(site::view_of(value));
    return v;
}

}  // namespace

PostgresStore::PostgresStore(std::string uri) : pool_(std::move(uri)) {
    const auto lease = pool_.take();
    pg::migrate(lease.get());
}

PostgresStore::~PostgresStore() = default;

void PostgresStore::on_change(std::function<void(const std::string& account)> changed) {
    listener_.reset();
    if (changed) listener_ = std::make_unique<pg::ChangeListener>(pool_.uri(), std::move(changed));
}

void PostgresStore::delete_all(const std::string& account) {
    pool_.run([&](PGconn* c) {
        Transaction tx(c);
        lock_account(c, account);
        exec(c, "DELETE FROM site_rows WHERE table_id IN (SELECT id FROM site_tables WHERE account = $1)", {{account}});
        exec(c, "DELETE FROM site_tables WHERE account = $1", {{account}});
        drop_upload(c, account);
        record_change(c, account, 1, {});
        tx.commit();
    });
}

namespace {

// Unpacks a posted file piece by piece and inserts its statements.
void insert_file(pg::AccountWriter& writer, std::string_view gzip_bytes) {
    GzipReader unpacked(gzip_bytes);
    parse_dump_views([&](char* out, std::size_t size) { return unpacked.read(out, size); },
                     [&](const StatementView& s) { writer.insert(s); });
}

// Reads a posted file into rows that no account table holds yet (see AccountWriter::Staging),
// so that its load only hands them over. False, with nothing staged, for a file that does not
// unpack or read: it is then kept as posted, and its load reports the fault.
bool stage_upload(PGconn* c, const std::string& account, std::string_view gzip_bytes) {
    exec(c, "SAVEPOINT staging");
    try {
        pg::AccountWriter writer(c, account, pg::AccountWriter::Staging{});
        insert_file(writer, gzip_bytes);
        writer.finish();
        for (const pg::AccountWriter::StagedTable& t : writer.staged())
            exec(c, "INSERT INTO site_staged (account, tbl, table_id, width, row_count) VALUES ($1, $2, $3, $4, $5)",
                 {{account}, {t.name}, {std::to_string(t.id)}, {std::to_string(t.width)}, {std::to_string(t.rows)}});
        exec(c, "INSERT INTO site_uploads (account, data, staged) VALUES ($1, '', true)", {{account}});
        exec(c, "RELEASE SAVEPOINT staging");
        return true;
    } catch (const GzipError&) {
    } catch (const DumpError&) {
    }
    exec(c, "ROLLBACK TO SAVEPOINT staging");
    return false;
}

// Hands the staged rows to the account's tables: a table that is new or empty takes the staged
// rows' table id (nothing is copied); rows for a table that has rows are copied after them.
// Returns the rows added per table name and moves `next_seq` past every sequence now held.
std::map<std::string, std::int64_t> load_staged(PGconn* c, const std::string& account, std::int64_t& next_seq) {
    std::map<std::string, std::int64_t> added;
    // Staged sequences count from 1 over the whole file: a table's may have gaps (rows of other
    // tables between), so its highest is asked for.
    const Result staged = exec(c,
                               "SELECT s.tbl, s.table_id, s.width, s.row_count, "
                               "(SELECT max(r.seq) FROM site_rows r WHERE r.table_id = s.table_id) "
                               "FROM site_staged s WHERE s.account = $1",
                               {{account}});
    for (int i = 0; i < staged.rows(); ++i) {
        const std::string name(staged.text(i, 0)), id(staged.text(i, 1)), width(staged.text(i, 2));
        const std::int64_t rows = staged.integer(i, 3), last_seq = staged.integer(i, 4);
        const std::string count = std::to_string(rows);
        const Result held =
            exec(c, "SELECT id, row_count FROM site_tables WHERE account = $1 AND tbl = $2", {{account}, {name}});
        if (held.rows() == 0 || held.integer(0, 1) == 0) {
            if (held.rows() == 0)
                exec(c, "INSERT INTO site_tables (id, account, tbl, width, row_count) VALUES ($1, $2, $3, $4, $5)",
                     {{id}, {account}, {name}, {width}, {count}});
            else
                exec(c, "UPDATE site_tables SET id = $2, width = GREATEST(width, $3), row_count = $4 WHERE id = $1",
                     {{std::string(held.text(0, 0))}, {id}, {width}, {count}});
            next_seq = std::max(next_seq, last_seq + 1);
        } else {
            const std::string target(held.text(0, 0)), offset = std::to_string(next_seq - 1);
            exec(c, "INSERT INTO site_rows (table_id, seq, vals) SELECT $1, seq + $3, vals FROM site_rows "
                    "WHERE table_id = $2", {{target}, {id}, {offset}});
            exec(c, "DELETE FROM site_rows WHERE table_id = $1", {{id}});
            exec(c, "UPDATE site_tables SET width = GREATEST(width, $2), row_count = row_count + $3 WHERE id = $1",
                 {{target}, {width}, {count}});
            next_seq += last_seq;
        }
        added[name] = rows;
    }
    return added;
}

}  // namespace

// The file is read into rows as it is posted, while the client waits for the answer anyway; its
// load then hands those rows over, which takes milliseconds however large the table. Kept
// whole instead (and read by its load) only when it does not read.
void PostgresStore::store_upload(const std::string& account, std::string_view gzip_bytes) {
    pool_.run([&](PGconn* c) {
        Transaction tx(c);
        lock_account(c, account);
        drop_upload(c, account);
        if (!stage_upload(c, account, gzip_bytes))
            exec(c, "INSERT INTO site_uploads (account, data) VALUES ($1, $2)", {{account}, {gzip_bytes, true}});
        tx.commit();
    });
}

std::map<std::string, std::int64_t> PostgresStore::load_upload(const std::string& account) {
    return pool_.run([&](PGconn* c) {
        Transaction tx(c);
        lock_account(c, account);
        const Result upload = exec(c, "SELECT staged FROM site_uploads WHERE account = $1", {{account}});
        if (upload.rows() == 0) throw NoUploadError();
        std::int64_t next_seq = account_row(c, account).next_seq;
        std::map<std::string, std::int64_t> added;
        if (upload.text(0, 0) == "t") {
            added = load_staged(c, account, next_seq);
        } else {
            const Result file = exec(c, "SELECT data FROM site_uploads WHERE account = $1", {{account}}, true);
            pg::AccountWriter writer(c, account, next_seq);
            insert_file(writer, file.text(0, 0));
            next_seq = writer.finish();
            added = writer.added();
        }
        // The staged rows are the account's now: only the notes of them go.
        exec(c, "DELETE FROM site_staged WHERE account = $1", {{account}});
        exec(c, "DELETE FROM site_uploads WHERE account = $1", {{account}});
        record_change(c, account, next_seq, {});  // a classic load ends live publishing's stream
        tx.commit();
        return added;
    });
}

std::optional<std::int64_t> PostgresStore::count(const std::string& account, std::string_view table) {
    const TableDef* def = table_by_name(table);
    if (!def) return std::nullopt;
    return pool_.run([&](PGconn* c) {
        const Result r = exec(c, "SELECT row_count FROM site_tables WHERE account = $1 AND tbl = $2",
                              {{account}, {def->name}});
        return r.rows() == 0 ? 0 : r.integer(0, 0);
    });
}

std::optional<TableRows> PostgresStore::rows(const std::string& account, std::string_view table, std::size_t limit) {
    const TableDef* def = table_by_name(table);
    if (!def) return std::nullopt;
    return pool_.run([&](PGconn* c) {
        Transaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        TableRows out;
        const std::optional<TableInfo> info = table_info(c, account, def->name);
        if (!info) return out;
        out.columns = column_names(*def, info->width);
        for (const auto& row : table_rows(c, *info, limit)) {
            auto& texts = out.rows.emplace_back();
            for (const StoredValue& v : row) texts.push_back(sqlite_text(v));
        }
        tx.commit();
        return out;
    });
}

std::int64_t PostgresStore::version(const std::string& account) {
    return pool_.run([&](PGconn* c) {
        const Result r = exec(c, "SELECT version FROM site_accounts WHERE account = $1", {{account}});
        return r.rows() == 0 ? 0 : r.integer(0, 0);
    });
}

std::int64_t PostgresStore::read_each(const std::string& account, TableVisitor& visitor) {
    bool shown = false;
    return pool_.run([&](PGconn* c) {
        // The pool runs this again on a fresh connection when the connection broke; the visitor
        // cannot take the rows twice.
        if (shown) throw StoreError("PostgreSQL: the connection broke while the tables were read");
        Transaction tx(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        const Result v = exec(c, "SELECT version FROM site_accounts WHERE account = $1", {{account}});
        const std::int64_t version = v.rows() == 0 ? 0 : v.integer(0, 0);
        std::vector<StoredValueView> values;
        for (const TableDef& def : upload_tables()) {
            const std::optional<TableInfo> info = table_info(c, account, def.name);
            if (!info) continue;
            shown = true;
            visitor.table(std::string(def.name), column_names(def, info->width));
            // In pieces: a large table's rows whole in one result cost more in fresh memory than
            // the round trips of a cursor.
            exec(c, "DECLARE table_rows NO SCROLL CURSOR FOR SELECT vals FROM site_rows WHERE table_id = $1 "
                    "ORDER BY seq", {{std::to_string(info->id)}});
            for (;;) {
                const Result r = exec(c, "FETCH 8192 FROM table_rows");
                for (int i = 0; i < r.rows(); ++i) {
                    pg::parse_row(r.text(i, 0), info->width, values);
                    visitor.row(values);
                }
                if (r.rows() < 8192) break;
            }
            exec(c, "CLOSE table_rows");
        }
        tx.commit();
        return version;
    });
}

LiveState PostgresStore::live_state(const std::string& account) {
    return pool_.run([&](PGconn* c) { return account_row(c, account).live; });
}

namespace {

// A statement of a batch entry, refused when it belongs to another table than the entry's.
StatementView of_entry(const TableChange& change, const Statement& s) {
    if (s.code != change.code) throw DumpError(s.line, "row of table \"" + s.code + "\" under \"" + change.code + "\"");
    return view_of(s);
}

}  // namespace

ChangeResult PostgresStore::apply_changes(const std::string& account, const ChangeBatch& batch) {
    check_batch(batch);
    return pool_.run([&](PGconn* c) -> ChangeResult {
        Transaction tx(c);
        lock_account(c, account);
        const AccountRow before = account_row(c, account);
        const ChangeOutcome outcome = judge_batch(batch, before.live);
        if (outcome != ChangeOutcome::applied) return {outcome, before.live};

        pg::AccountWriter writer(c, account, before.next_seq);
        if (batch.base == 0)
            for (const TableDef& def : upload_tables()) writer.clear(def.code);
        for (const TableChange& change : batch.tables) {
            if (change.replace) writer.clear(change.code);
            std::vector<StatementView> deletes;
            for (const Statement& s : change.deletes) deletes.push_back(of_entry(change, s));
            if (!writer.remove(deletes)) return {ChangeOutcome::conflict, before.live};  // rolled back
            for_each_insert(change, [&](const StatementView& v) { writer.insert(v); });
        }
        const LiveState after{batch.stream, batch.sequence};
        record_change(c, account, writer.finish(), after);
        tx.commit();
        return {ChangeOutcome::applied, after};
    });
}

}  // namespace ringolan::site
