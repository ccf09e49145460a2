// The site's data in PostgreSQL, shared by any number of site processes: every change of an
// account runs in one transaction under the account's advisory lock, bumps the account's
// version and announces it with NOTIFY. The posted gzip file is kept in the database too, as
// the post and the load may reach different processes.
#pragma once

#include <memory>
#include <string>

#include "site/pg_conn.h"
#include "site/pg_listener.h"
#include "site/store.h"

namespace ringolan::site {

class PostgresStore : public SiteStore {
public:
    // Connects to `uri` and creates or migrates the schema; throws StoreError.
    explicit PostgresStore(std::string uri);
    ~PostgresStore() override;

    void delete_all(const std::string& account) override;
    void store_upload(const std::string& account, std::string_view gzip_bytes) override;
    std::map<std::string, std::int64_t> load_upload(const std::string& account) override;
    std::optional<std::int64_t> count(const std::string& account, std::string_view table) override;
    std::optional<TableRows> rows(const std::string& account, std::string_view table, std::size_t limit) override;
    std::int64_t version(const std::string& account) override;
    std::int64_t read_each(const std::string& account, TableVisitor& visitor) override;
    LiveState live_state(const std::string& account) override;
    ChangeResult apply_changes(const std::string& account, const ChangeBatch& batch) override;
    void on_change(std::function<void(const std::string& account)> changed) override;

private:
    pg::Pool pool_;
    std::unique_ptr<pg::ChangeListener> listener_;
};

}  // namespace ringolan::site
