#include "server/served_snapshot.h"

#include <utility>
#include <vector>

#include "pages/page_context.h"
#include "server/live_routes.h"

namespace ringolan::server {

namespace {

using Clock = std::chrono::steady_clock;

PageResult render_page(const std::shared_ptr<const db::Snapshot>& snapshot, const PageAddress& address) {
    pages::PageContext ctx;
    ctx.snapshot = snapshot;
    ctx.start = address.start;
    return RenderAddress(ctx, address.path, address.query);
}

}  // namespace

ServedSnapshot::ServedSnapshot(Source latest, std::shared_ptr<PageCache> cache)
    : ServedSnapshot(std::move(latest), std::move(cache), Options{}) {}

ServedSnapshot::ServedSnapshot(Source latest, std::shared_ptr<PageCache> cache, Options options)
    : latest_(std::move(latest)), cache_(std::move(cache)), options_(std::move(options)) {
    thread_ = std::thread([this] { run(); });
}

ServedSnapshot::~ServedSnapshot() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool ServedSnapshot::newer_state(const db::Snapshot& a, const db::Snapshot& b) {
    return a.info().source == b.info().source && a.info().generation > b.info().generation;
}

bool ServedSnapshot::made_from(const db::Snapshot& a, const db::Snapshot& b) {
    return a.info().source == b.info().source && a.info().base_generation != 0 &&
           a.info().base_generation == b.info().generation;
}

std::shared_ptr<const db::Snapshot> ServedSnapshot::current() {
    auto latest = latest_();
    std::lock_guard lock(mutex_);
    if (latest == served_) return served_;
    if (!latest || !served_ || !newer_state(*latest, *served_)) {
        // Nothing to warm from, or the pages of the served state must not be shown any longer.
        serve(std::move(latest));
        pending_.reset();
        if (cache_) cache_->forget();
        return served_;
    }
    const auto now = Clock::now();
    if (pending_ != latest) {
        if (!pending_) pending_since_ = now;
        pending_ = std::move(latest);
        wake_.notify_all();
    }
    const auto hold = made_from(*pending_, *served_) ? options_.hold_incremental : options_.hold;
    if (now - pending_since_ >= hold) {
        serve(std::move(pending_));
        pending_.reset();
        ++stats_.held_out;
    }
    return served_;
}

void ServedSnapshot::serve(std::shared_ptr<const db::Snapshot> snapshot) {
    served_ = std::move(snapshot);
    if (options_.on_served) options_.on_served(served_);
}

ServedSnapshot::Stats ServedSnapshot::stats() const {
    Stats stats;
    {
        std::lock_guard lock(mutex_);
        stats = stats_;
    }
    if (cache_) stats.carried_pages = cache_->carried();
    return stats;
}

void ServedSnapshot::run() {
    const Render& render = options_.render ? options_.render : Render(render_page);
    std::weak_ptr<const db::Snapshot> tried;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || (pending_ && pending_ != tried.lock()); });
        if (stop_) return;
        const auto target = pending_;
        tried = target;
        const bool incremental = served_ && made_from(*target, *served_);
        lock.unlock();

        const auto deadline = Clock::now() + (incremental ? options_.max_time_incremental : options_.max_time);
        std::vector<PageCache::Warmed> warmed;
        // Pages that carry over to the new state need no generation.
        for (auto& hot : cache_ ? cache_->hottest(options_.max_pages, target.get()) : std::vector<PageCache::Hot>{}) {
            if (Clock::now() >= deadline) break;
            {
                std::lock_guard check(mutex_);
                if (stop_) return;
            }
            try {
                db::ReadRecorder recorder;
                PageResult page = render(target, hot.address);
                warmed.push_back({hot.address, std::move(page), hot.hits, recorder.result()});
            } catch (...) {
                // Left to the requests, which answer the error.
            }
        }

        lock.lock();
        if (stop_) return;
        const std::size_t count = warmed.size();
        if (served_ && newer_state(*target, *served_)) {
            if (cache_) cache_->install(target, std::move(warmed));
            serve(target);
            if (pending_ == target)
                pending_.reset();
            else
                pending_since_ = Clock::now();  // a still newer state came meanwhile: its turn
            ++stats_.warmed_states;
            stats_.warmed_pages += count;
        } else if (served_ == target && cache_) {
            cache_->install(target, std::move(warmed));  // the hold limit took it over meanwhile
        }
    }
}

}  // namespace ringolan::server
