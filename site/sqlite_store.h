// The site's data in SQLite: per account a folder holding the last uploaded gzip file and an
// SQLite database with one table per uploaded table. Every operation on an account holds that
// account's lock, so requests for one account never interleave. One process uses a folder.
//
// Live batches (sqlite_live.cpp): the live state is a row in the account's database, so
// delete_all clears it. A batch that starts a stream empties every table first, named or not.
// A deleted row that is not held makes the batch a conflict (it does not build on these
// tables), and nothing is changed. A classic load clears the live state in its transaction:
// the stream's next batch conflicts and its client starts a new stream on what was loaded.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "site/store.h"

namespace ringolan::site {

class SqliteStore : public SiteStore {
public:
    // `data_dir` is created when missing.
    explicit SqliteStore(std::filesystem::path data_dir);

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

    std::filesystem::path account_dir(const std::string& account) const;

private:
    std::unique_lock<std::mutex> lock(const std::string& account);
    // Gives the account a new version and tells the listener; the account's lock is held.
    void changed(const std::string& account);

    std::filesystem::path dir_;
    std::mutex locks_mutex_;
    std::map<std::string, std::unique_ptr<std::mutex>> locks_;
    // Versions start at the process's start time in microseconds, so they grow across restarts.
    std::atomic<std::int64_t> last_version_;
    std::map<std::string, std::int64_t> versions_;  // under locks_mutex_
    std::function<void(const std::string&)> listener_;
};

}  // namespace ringolan::site
