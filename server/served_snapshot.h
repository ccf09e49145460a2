// The snapshot the pages are answered from. A new state of the same file is taken over only
// after the most requested pages of the served state have been generated from it (on one
// thread, bounded by count and time) and put into the page cache, so that requests keep
// getting the old state's cached pages meanwhile and the first requests on the new state hit.
// Pages that carry over to the new state (page_cache.h) are not generated again. Every page
// still equals a fresh generation from the snapshot it is served for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "db/snapshot/snapshot.h"
#include "server/dispatcher.h"
#include "server/limits.h"
#include "server/page_cache.h"

namespace ringolan::server {

class ServedSnapshot {
public:
    using Source = std::function<std::shared_ptr<const db::Snapshot>()>;
    using Render = std::function<PageResult(const std::shared_ptr<const db::Snapshot>&, const PageAddress&)>;

    struct Options {
        std::size_t max_pages = kWarmPages;
        std::chrono::milliseconds max_time = kWarmTime;  // pages are started until then
        std::chrono::milliseconds hold = kWarmHold;      // a new state waits no longer than this
        // Both for a state made page by page from the served one.
        std::chrono::milliseconds max_time_incremental = kWarmTimeIncremental;
        std::chrono::milliseconds hold_incremental = kWarmHoldIncremental;
        Render render = nullptr;                         // nullptr: the product's pages
        // Told of every snapshot taken over for serving (nullptr: none); called with the
        // served state's lock held, so it must return at once and not call back.
        std::function<void(const std::shared_ptr<const db::Snapshot>&)> on_served;
    };

    // latest: the newest snapshot (the data module's); cache: where warmed pages go.
    ServedSnapshot(Source latest, std::shared_ptr<PageCache> cache);
    ServedSnapshot(Source latest, std::shared_ptr<PageCache> cache, Options options);
    // Stops the warming thread after the page it is generating.
    ~ServedSnapshot();
    ServedSnapshot(const ServedSnapshot&) = delete;
    ServedSnapshot& operator=(const ServedSnapshot&) = delete;

    // The snapshot to answer a request from. The newest one at once when it is the first, of
    // another file or none; a newer state of the served file once it is warmed or held for
    // Options::hold.
    std::shared_ptr<const db::Snapshot> current();
    // Looks for a new state now (after the follower read one) instead of at the next request.
    void poke() { current(); }

    struct Stats {
        uint64_t warmed_states = 0;  // states taken over after warming
        uint64_t warmed_pages = 0;
        uint64_t held_out = 0;  // states taken over by the hold limit before warming finished
        uint64_t carried_pages = 0;  // cached pages kept for a new state instead of made again
    };
    Stats stats() const;

private:
    void run();
    void serve(std::shared_ptr<const db::Snapshot> snapshot);  // with mutex_ held
    // Whether a is a newer state of b's file.
    static bool newer_state(const db::Snapshot& a, const db::Snapshot& b);
    // Whether a was made page by page from b.
    static bool made_from(const db::Snapshot& a, const db::Snapshot& b);

    const Source latest_;
    const std::shared_ptr<PageCache> cache_;
    const Options options_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<const db::Snapshot> served_;
    std::shared_ptr<const db::Snapshot> pending_;  // a newer state of the served file, not yet served
    std::chrono::steady_clock::time_point pending_since_{};
    bool stop_ = false;
    Stats stats_;
    std::thread thread_;
};

}  // namespace ringolan::server
