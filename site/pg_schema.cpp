#include "site/pg_schema.h"

#include "site/pg_conn.h"

#include <string>
#include <vector>

namespace ringolan::site::pg {

namespace {

using Migration = std::vector<std::string>;

// Applied in order; ringolan_schema.version counts those applied. Never change one that has
// shipped: add another.
const std::vector<Migration>& migrations() {
    static const std::vector<Migration> all = {
        {
            // Per account: its data version, the next row sequence, its live publishing state.
            "CREATE TABLE site_accounts (account text PRIMARY KEY, version bigint NOT NULL, "
            "next_seq bigint NOT NULL DEFAULT 1, live_stream text NOT NULL DEFAULT '', "
            "live_sequence bigint NOT NULL DEFAULT 0)",
            // The uploaded tables that exist, with their width (column count) and row count.
            "CREATE TABLE site_tables (id bigserial PRIMARY KEY, account text NOT NULL, tbl text NOT NULL, "
            "width int NOT NULL, row_count bigint NOT NULL DEFAULT 0, UNIQUE (account, tbl))",
            // Rows in arrival order (seq); the values in one text (see pg_rows.h).
            "CREATE TABLE site_rows (table_id bigint NOT NULL, seq bigint NOT NULL, vals text NOT NULL, "
            "PRIMARY KEY (table_id, seq))",
            // A gzip file posted and not yet loaded; stored as it is, as it does not compress.
            "CREATE TABLE site_uploads (account text PRIMARY KEY, data bytea NOT NULL)",
            "ALTER TABLE site_uploads ALTER COLUMN data SET STORAGE EXTERNAL",
        },
        {
            // A posted file read into rows at once, under table ids of their own, which its load
            // hands to the account's tables (then the upload's data is empty and `staged` true).
            "CREATE TABLE site_staged (account text NOT NULL, tbl text NOT NULL, table_id bigint NOT NULL, "
            "width int NOT NULL, row_count bigint NOT NULL, PRIMARY KEY (account, tbl))",
            "ALTER TABLE site_uploads ADD COLUMN staged boolean NOT NULL DEFAULT false",
        },
    };
    return all;
}

}  // namespace

void migrate(PGconn* c) {
    Transaction tx(c);
    exec(c, "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLockSpace) + ", 0)");
    exec(c, "CREATE TABLE IF NOT EXISTS ringolan_schema (version int NOT NULL)");
    const Result r = exec(c, "SELECT version FROM ringolan_schema");
    std::size_t version = 0;
    if (r.rows() == 0) exec(c, "INSERT INTO ringolan_schema VALUES (0)");
    else version = std::size_t(r.integer(0, 0));
    const std::size_t known = migrations().size();
    if (version > known)
        throw StoreError("PostgreSQL: the database's schema version " + std::to_string(version) +
                         " is newer than this program's (" + std::to_string(known) + ")");
    if (version == known) return;  // rolled back: nothing was changed
    for (std::size_t i = version; i < known; ++i)
        for (const std::string& sql : migrations()[i]) exec(c, sql);
    exec(c, "UPDATE ringolan_schema SET version = " + std::to_string(known));
    tx.commit();
}

}  // namespace ringolan::site::pg
