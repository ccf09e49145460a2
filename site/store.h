// The site's data: per account a folder holding the last uploaded gzip file and an SQLite
// database with one table per uploaded table. Every operation on an account holds that
// account's lock, so requests for one account never interleave.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

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

class SiteStore {
public:
    // `data_dir` is created when missing.
    explicit SiteStore(std::filesystem::path data_dir);

    // Removes everything held for the account: its tables and a file not yet loaded.
    void delete_all(const std::string& account);

    // Keeps `gzip_bytes` as the account's file to load, replacing one not yet loaded.
    void store_upload(const std::string& account, std::string_view gzip_bytes);

    // Loads the account's uploaded file in one transaction, unpacking and reading it piece by
    // piece, and removes the file. Returns the rows added per table name. On any failure
    // (NoUploadError, GzipError, DumpError for a line that does not parse or names an unknown
    // table, StoreError) nothing is changed and the file stays.
    std::map<std::string, std::int64_t> load_upload(const std::string& account);

    // Rows held of a table of the upload list (name in any letter case); nullopt for a name
    // that is not one of them.
    std::optional<std::int64_t> count(const std::string& account, std::string_view table);

    // Up to `limit` rows of a table in the order they arrived; nullopt for an unknown name.
    std::optional<TableRows> rows(const std::string& account, std::string_view table, std::size_t limit);

    std::filesystem::path account_dir(const std::string& account) const;

private:
    std::unique_lock<std::mutex> lock(const std::string& account);

    std::filesystem::path dir_;
    std::mutex locks_mutex_;
    std::map<std::string, std::unique_ptr<std::mutex>> locks_;
};

}  // namespace ringolan::site
