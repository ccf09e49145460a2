#include "server/page_cache.h"

#include <algorithm>
#include <cstdint>

namespace ringolan::server {

namespace {

// What a page takes of the cache's bytes: key, body and its file.
std::size_t held_bytes(const std::string& key, const CachedPage& page) {
    return key.size() + page.body.size() + (page.file ? page.file->size() : 0);
}

}  // namespace

bool PageCache::made_from_held(const db::SnapshotInfo& next) const {
    return next.base_generation != 0 && next.base_generation == held_generation_ && next.source == held_source_;
}

PageCache::SharedPage PageCache::share(PageResult page, db::ReadSet reads) {
    auto shared = std::make_shared<CachedPage>();
    static_cast<PageResult&>(*shared) = std::move(page);
    if (shared->body.size() >= kBodyFileBytes) shared->file = make_body_file(shared->body);
    shared->reads = std::move(reads);
    return shared;
}

PageCache::PageCache(std::size_t max_bytes, std::size_t max_entries, std::chrono::milliseconds wait_limit)
    : max_bytes_(max_bytes), max_entries_(max_entries), wait_limit_(wait_limit) {}

std::string PageCache::key(const pages::StartSettings& start, std::string_view path, std::string_view query) {
    // Each part with its length in front, so that no two different addresses share a key
    // whatever bytes they hold.
    std::string k;
    for (std::string_view part : {path, query, std::string_view(start.StartPicture), std::string_view(start.LinkText),
                                  std::string_view(start.LinkTarget)}) {
        k += std::to_string(part.size());
        k += ':';
        k.append(part);
    }
    return k;
}

bool PageCache::hold(const std::shared_ptr<const db::Snapshot>& snapshot, Retired& retired) {
    const auto held = snapshot_.lock();
    if (held == snapshot) return true;
    // A request still working on an older state of the same file does not push the newer one out.
    if (held && held->info().source == snapshot->info().source && held->info().generation > snapshot->info().generation)
        return false;
    retired.pages.swap(pages_);
    retired.order.swap(order_);
    pages_.clear();
    order_.clear();
    bytes_ = 0;
    if (made_from_held(snapshot->info())) {
        carry_over(retired, snapshot->info());
        if (held) snapshot->carry_memos_from(*held);
    }
    snapshot_ = snapshot;
    held_source_ = snapshot->info().source;
    held_generation_ = snapshot->info().generation;
    return true;
}

void PageCache::carry_over(Retired& retired, const db::SnapshotInfo& next) {
    // Oldest first, so that the carried pages keep their order of use.
    for (auto it = retired.order.begin(); it != retired.order.end();) {
        const auto found = retired.pages.find(*it);
        if (!found->second.page->reads.unaffected_by(next.changed_tables, next.changed_keys)) {
            ++it;
            continue;
        }
        const auto next = std::next(it);
        order_.splice(order_.end(), retired.order, it);
        auto node = retired.pages.extract(found);
        node.mapped().hits /= 2;  // as for warmed pages
        node.mapped().age = std::prev(order_.end());
        bytes_ += held_bytes(node.key(), *node.mapped().page);
        pages_.insert(std::move(node));
        ++carried_;
        it = next;
    }
}

PageCache::SharedPage PageCache::find(const std::shared_ptr<const db::Snapshot>& snapshot,
                                      const pages::StartSettings& start, std::string_view document_path,
                                      std::string_view query) {
    if (!snapshot) return nullptr;
    const std::string k = key(start, document_path, query);
    Shared page;
    Retired retired;
    {
        std::lock_guard lock(mutex_);
        if (!hold(snapshot, retired)) return nullptr;
        const auto it = pages_.find(k);
        if (it == pages_.end()) return nullptr;
        ++it->second.hits;
        order_.splice(order_.end(), order_, it->second.age);  // most recently used last
        page = it->second.page;
    }
    return page;
}

void PageCache::evict_until_fits(std::size_t incoming) {
    while (!order_.empty() && (bytes_ + incoming > max_bytes_ || pages_.size() + 1 > max_entries_)) {
        const auto it = pages_.find(order_.front());
        bytes_ -= held_bytes(it->first, *it->second.page);
        pages_.erase(it);
        order_.pop_front();
    }
}

void PageCache::keep(std::string k, PageAddress address, Shared page, uint64_t hits) {
    const std::size_t size = held_bytes(k, *page);
    if (size > max_bytes_ / 4) return;  // one page never takes over the cache
    if (pages_.count(k)) return;        // another thread generated it at the same time
    evict_until_fits(size);
    order_.push_back(k);
    pages_.emplace(std::move(k), Entry{std::move(page), std::move(address), hits, std::prev(order_.end())});
    bytes_ += size;
}

void PageCache::store(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
                      std::string_view document_path, std::string_view query, const PageResult& page,
                      db::ReadSet reads) {
    if (!snapshot) return;
    std::string k = key(start, document_path, query);
    auto shared = share(page, std::move(reads));
    Retired retired;
    std::lock_guard lock(mutex_);
    // A page generated from an older snapshot than the stored ones is not kept.
    if (!hold(snapshot, retired)) return;
    keep(std::move(k), PageAddress{std::string(document_path), std::string(query), start}, std::move(shared), 1);
}

PageCache::SharedPage PageCache::get(const std::shared_ptr<const db::Snapshot>& snapshot,
                                     const pages::StartSettings& start, std::string_view document_path,
                                     std::string_view query, const std::function<PageResult()>& generate) {
    if (!snapshot) return share(generate());
    std::string k = key(start, document_path, query);
    // The snapshot's address tells flights of different states apart: it is alive, and so not
    // reused, while its flight is in the table.
    const std::string flight_key = std::to_string(reinterpret_cast<std::uintptr_t>(snapshot.get())) + '|' + k;
    std::shared_ptr<Flight> flight;
    Shared found;
    {
        Retired retired;  // freed after the lock is released
        std::unique_lock lock(mutex_);
        if (hold(snapshot, retired)) {
            if (const auto it = pages_.find(k); it != pages_.end()) {
                ++it->second.hits;
                order_.splice(order_.end(), order_, it->second.age);
                found = it->second.page;
            }
        }
        if (!found) {
            if (const auto it = flights_.find(flight_key); it != flights_.end()) {
                const auto joined = it->second;  // the entry is erased when the generation ends
                ++waiting_;
                const bool done = joined->done_signal.wait_for(lock, wait_limit_, [&] { return joined->done; });
                --waiting_;
                if (done) {
                    if (joined->error) std::rethrow_exception(joined->error);
                    found = joined->page;
                }
                // Taking too long: generate it here, without a flight of its own.
            } else {
                flight = std::make_shared<Flight>();
                flights_.emplace(flight_key, flight);
            }
        }
    }
    if (found) return found;

    Shared shared;
    std::exception_ptr error;
    try {
        db::ReadRecorder recorder;
        PageResult result = generate();
        shared = share(std::move(result), recorder.result());
    } catch (...) {
        error = std::current_exception();
    }
    Retired retired;
    std::lock_guard lock(mutex_);
    if (flight) {
        flights_.erase(flight_key);
        flight->done = true;
        flight->error = error;
        flight->page = shared;
        flight->done_signal.notify_all();
    }
    if (error) std::rethrow_exception(error);
    if (hold(snapshot, retired))
        keep(std::move(k), PageAddress{std::string(document_path), std::string(query), start}, shared, 1);
    return shared;
}

std::vector<PageCache::Hot> PageCache::hottest(std::size_t n, const db::Snapshot* next) const {
    std::lock_guard lock(mutex_);
    const bool carrying = next && made_from_held(next->info());
    // order_ runs from the least to the most recently used; walked backwards and sorted stably,
    // equal counts stay most recent first.
    std::vector<const Entry*> all;
    all.reserve(pages_.size());
    for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
        const Entry& entry = pages_.at(*it);
        if (!carrying || !entry.page->reads.unaffected_by(next->info().changed_tables, next->info().changed_keys))
            all.push_back(&entry);
    }
    std::stable_sort(all.begin(), all.end(), [](const Entry* a, const Entry* b) { return a->hits > b->hits; });
    n = std::min(n, all.size());
    std::vector<Hot> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back({all[i]->address, all[i]->hits});
    return out;
}

void PageCache::install(const std::shared_ptr<const db::Snapshot>& snapshot, std::vector<Warmed> pages) {
    if (!snapshot) return;
    std::vector<std::pair<std::string, Shared>> shared;  // built outside the lock, pages moved in
    shared.reserve(pages.size());
    for (auto& w : pages)
        shared.emplace_back(key(w.address.start, w.address.path, w.address.query),
                            share(std::move(w.page), std::move(w.reads)));
    Retired retired;
    std::lock_guard lock(mutex_);
    if (!hold(snapshot, retired)) return;
    for (std::size_t i = 0; i < pages.size(); ++i)
        keep(std::move(shared[i].first), std::move(pages[i].address), std::move(shared[i].second), pages[i].hits / 2);
}

std::size_t PageCache::entries() const {
    std::lock_guard lock(mutex_);
    return pages_.size();
}

std::size_t PageCache::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::size_t PageCache::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

void PageCache::forget() {
    Retired retired;
    std::lock_guard lock(mutex_);
    retired.pages.swap(pages_);
    retired.order.swap(order_);
    bytes_ = 0;
    snapshot_.reset();
    held_source_.clear();
    held_generation_ = 0;
}

uint64_t PageCache::carried() const {
    std::lock_guard lock(mutex_);
    return carried_;
}

}  // namespace ringolan::server
