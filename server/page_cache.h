// Generated pages of the current snapshot, kept so that a popular page is generated once per
// state of the competition file. A page is a function of the snapshot, its address and the
// start page's settings; the cache is emptied whenever the snapshot changes, so every answer
// equals a fresh generation from the current snapshot.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db/snapshot/snapshot.h"
#include "pages/page_context.h"
#include "server/dispatcher.h"
#include "server/limits.h"

namespace ringolan::server {

class PageCache {
public:
    explicit PageCache(std::size_t max_bytes = kPageCacheBytes, std::size_t max_entries = kPageCacheEntries);

    // The cached page for this snapshot and address, if any.
    std::optional<PageResult> find(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
                                   std::string_view document_path, std::string_view query);
    // Keeps a generated page; the oldest pages give way when a bound is reached. Pages of any
    // other snapshot than the newest one stored are dropped.
    void store(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
               std::string_view document_path, std::string_view query, const PageResult& page);

    std::size_t entries() const;
    std::size_t bytes() const;

private:
    static std::string key(const pages::StartSettings& start, std::string_view path, std::string_view query);
    // True when the cache holds pages of this snapshot. Otherwise it is emptied and switched to
    // this snapshot, unless it holds a newer state of the same file. Under the lock.
    bool same_snapshot(const std::shared_ptr<const db::Snapshot>& snapshot);
    void evict_until_fits(std::size_t incoming);

    struct Entry {
        PageResult page;
        std::list<std::string>::iterator age;  // position in order_, oldest first
    };

    const std::size_t max_bytes_;
    const std::size_t max_entries_;
    mutable std::mutex mutex_;
    std::weak_ptr<const db::Snapshot> snapshot_;
    std::unordered_map<std::string, Entry> pages_;
    std::list<std::string> order_;
    std::size_t bytes_ = 0;
};

}  // namespace ringolan::server
