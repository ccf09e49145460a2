// The stores the site tests run on: SqliteStore always, PostgresStore when RINGOLAN_TEST_POSTGRES
// holds a database address (scripts/with-postgres.sh sets it). Each PostgreSQL test gets a schema
// of its own, dropped at its end, so tests running at once do not meet.
#pragma once

#include "site/pg_conn.h"
#include "site/postgres_store.h"
#include "site/sqlite_store.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "site_test_util.h"

namespace site_test {

enum class StoreKind { sqlite, postgres };

inline std::string kind_name(const ::testing::TestParamInfo<StoreKind>& info) {
    return info.param == StoreKind::sqlite ? "Sqlite" : "Postgres";
}

inline const char* postgres_base() {
    const char* uri = std::getenv("RINGOLAN_TEST_POSTGRES");
    return uri && *uri ? uri : nullptr;
}

inline constexpr const char* kNoPostgres =
    "RINGOLAN_TEST_POSTGRES is not set: the PostgreSQL case is skipped (run under scripts/with-postgres.sh)";

// A schema of the test database. Its address puts the schema first on the search path and names
// the connections' application after it.
class PgSchema {
public:
    PgSchema() {
        std::random_device rd;
        name_ = "t_" + std::to_string(::getpid()) + "_" + std::to_string(rd() % 1000000);
        const std::string base = postgres_base();
        uri_ = base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + name_ +
               "&application_name=" + name_;
        ringolan::site::pg::exec(admin(), "CREATE SCHEMA " + name_);
    }
    ~PgSchema() {
        try {
            ringolan::site::pg::exec(admin(), "DROP SCHEMA " + name_ + " CASCADE");
        } catch (...) {
        }
    }
    const std::string& name() const { return name_; }
    const std::string& uri() const { return uri_; }
    // A connection outside the schema's store, for looking on.
    PGconn* admin() {
        if (!admin_) admin_ = ringolan::site::pg::connect(postgres_base());
        return admin_.get();
    }

private:
    std::string name_, uri_;
    ringolan::site::pg::ConnHandle admin_;
};

// A fixture base giving a store of the parameter's kind; `open()` makes another instance on the
// same data, as another process would have.
class StoreFixture : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        if (GetParam() == StoreKind::postgres) {
            if (!postgres_base()) GTEST_SKIP() << kNoPostgres;
            schema = std::make_unique<PgSchema>();
        }
        store = open();
    }
    std::unique_ptr<ringolan::site::SiteStore> open() {
        if (schema) return std::make_unique<ringolan::site::PostgresStore>(schema->uri());
        return std::make_unique<ringolan::site::SqliteStore>(tmp.path() / "data");
    }

    TempDir tmp;
    std::unique_ptr<PgSchema> schema;
    std::unique_ptr<ringolan::site::SiteStore> store;
};

#define SITE_STORE_KINDS(suite)                                                                                  \
    INSTANTIATE_TEST_SUITE_P(Stores, suite,                                                                      \
                             ::testing::Values(site_test::StoreKind::sqlite, site_test::StoreKind::postgres), \
                             site_test::kind_name)

}  // namespace site_test
