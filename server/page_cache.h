// Generated pages of the current snapshot, kept so that a popular page is generated once per
// state of the competition file. A page is a function of the snapshot, its address and the
// start page's settings; the cache holds the pages of one snapshot at a time, so every answer
// equals a fresh generation from the snapshot the request works on. A new state made from the
// held one keeps the pages that read none of the tables it changed: generated from the new
// state they would be the same.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/snapshot/read_recorder.h"
#include "db/snapshot/snapshot.h"
#include "pages/page_context.h"
#include "server/body_file.h"
#include "server/dispatcher.h"
#include "server/limits.h"

namespace ringolan::server {

// Everything a page depends on besides the snapshot.
struct PageAddress {
    std::string path;
    std::string query;
    pages::StartSettings start;
};

// A page as the cache keeps it: the result and, for a long body, the same bytes in a file to send.
struct CachedPage : PageResult {
    std::shared_ptr<const BodyFile> file;
    db::ReadSet reads;  // the tables its generation read; not known: it never carries over
};

class PageCache {
public:
    explicit PageCache(std::size_t max_bytes = kPageCacheBytes, std::size_t max_entries = kPageCacheEntries,
                       std::chrono::milliseconds wait_limit = kPageWaitLimit);

    // Pages are immutable once generated and shared with the answers that send them.
    using SharedPage = std::shared_ptr<const CachedPage>;
    // The page ready to keep and to share: a body of at least kBodyFileBytes also gets its file.
    static SharedPage share(PageResult page, db::ReadSet reads = {});

    // The cached page for this snapshot and address; nullptr when there is none.
    SharedPage find(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
                                   std::string_view document_path, std::string_view query);
    // Keeps a generated page; the oldest pages give way when a bound is reached. Pages of any
    // other snapshot than the newest one stored are dropped.
    void store(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
               std::string_view document_path, std::string_view query, const PageResult& page,
               db::ReadSet reads = {});

    // The cached page, or the result of generate(), which is kept with the tables it read
    // (db::ReadRecorder on the calling thread). Requests missing the same
    // page of the same snapshot while it is being generated wait for that one generation (at
    // most wait_limit, then they generate it themselves) and get its page or its exception;
    // a page whose generation threw is not kept.
    SharedPage get(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
                   std::string_view document_path, std::string_view query,
                   const std::function<PageResult()>& generate);

    struct Hot {
        PageAddress address;
        uint64_t hits = 0;
    };
    // Up to n addresses of the held snapshot's pages, most requested first (then most recent),
    // leaving out those that would carry over to next.
    std::vector<Hot> hottest(std::size_t n, const db::Snapshot* next = nullptr) const;

    struct Warmed {
        PageAddress address;
        PageResult page;
        uint64_t hits = 0;  // of the old state; halved, so that a page stays hot for a while
        db::ReadSet reads;
    };
    // Switches the cache to this snapshot with these pages, all generated from it. Nothing
    // happens when the cache holds a newer state of the same file.
    void install(const std::shared_ptr<const db::Snapshot>& snapshot, std::vector<Warmed> pages);

    std::size_t entries() const;
    std::size_t bytes() const;
    // Requests waiting for a generation in progress.
    std::size_t waiting() const;
    // Pages carried over to new states so far.
    uint64_t carried() const;
    // Drops every page and what the cache knows of the state they came from, for a state that
    // does not follow the held one (another file, or the file opened again: its states are
    // numbered anew, so a number no longer names the state it named).
    void forget();

private:
    static std::string key(const pages::StartSettings& start, std::string_view path, std::string_view query);
    using Shared = SharedPage;
    struct Entry {
        Shared page;
        PageAddress address;
        uint64_t hits = 0;
        std::list<std::string>::iterator age;  // position in order_, oldest first
    };
    // Pages given up under the lock, freed after it: declared before the lock guard.
    struct Retired {
        std::unordered_map<std::string, Entry> pages;
        std::list<std::string> order;
    };

    // True when the cache holds pages of this snapshot, switching to it if need be: the pages
    // of the old one go to retired but for those carried over. False when it holds a newer
    // state of the same file. Under the lock.
    bool hold(const std::shared_ptr<const db::Snapshot>& snapshot, Retired& retired);
    // Moves the pages that read nothing next changed from retired into the empty cache.
    void carry_over(Retired& retired, const db::SnapshotInfo& next);
    // Whether next was made from the state the pages came from and names the tables that differ.
    bool made_from_held(const db::SnapshotInfo& next) const;
    void evict_until_fits(std::size_t incoming);
    // store() under the lock, for a snapshot that hold() accepted.
    void keep(std::string k, PageAddress address, Shared page, uint64_t hits);
    // One generation in progress, shared by the requests waiting for it.
    struct Flight {
        std::condition_variable done_signal;
        bool done = false;
        Shared page;
        std::exception_ptr error;
    };

    const std::size_t max_bytes_;
    const std::size_t max_entries_;
    const std::chrono::milliseconds wait_limit_;
    mutable std::mutex mutex_;
    std::weak_ptr<const db::Snapshot> snapshot_;
    // The state the pages came from, known after its snapshot is gone.
    std::filesystem::path held_source_;
    uint64_t held_generation_ = 0;
    std::unordered_map<std::string, Entry> pages_;
    std::list<std::string> order_;
    std::size_t bytes_ = 0;
    // Keyed by snapshot and page key; a flight's snapshot is alive while the flight is here.
    std::unordered_map<std::string, std::shared_ptr<Flight>> flights_;
    std::size_t waiting_ = 0;
    uint64_t carried_ = 0;
};

}  // namespace ringolan::server
