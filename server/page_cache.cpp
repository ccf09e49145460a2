#include "server/page_cache.h"

namespace ringolan::server {

PageCache::PageCache(std::size_t max_bytes, std::size_t max_entries) : max_bytes_(max_bytes), max_entries_(max_entries) {}

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

bool PageCache::same_snapshot(const std::shared_ptr<const db::Snapshot>& snapshot) {
    const auto held = snapshot_.lock();
    if (held == snapshot) return true;
    // A request still working on an older state of the same file does not push the newer one out.
    if (held && held->info().source == snapshot->info().source && held->info().generation > snapshot->info().generation)
        return false;
    pages_.clear();
    order_.clear();
    bytes_ = 0;
    snapshot_ = snapshot;
    return false;
}

std::optional<PageResult> PageCache::find(const std::shared_ptr<const db::Snapshot>& snapshot,
                                          const pages::StartSettings& start, std::string_view document_path,
                                          std::string_view query) {
    if (!snapshot) return std::nullopt;
    const std::string k = key(start, document_path, query);
    std::lock_guard lock(mutex_);
    if (!same_snapshot(snapshot) || pages_.empty()) return std::nullopt;
    const auto it = pages_.find(k);
    if (it == pages_.end()) return std::nullopt;
    order_.splice(order_.end(), order_, it->second.age);  // most recently used last
    return it->second.page;
}

void PageCache::evict_until_fits(std::size_t incoming) {
    while (!order_.empty() && (bytes_ + incoming > max_bytes_ || pages_.size() + 1 > max_entries_)) {
        const auto it = pages_.find(order_.front());
        bytes_ -= it->second.page.body.size() + it->first.size();
        pages_.erase(it);
        order_.pop_front();
    }
}

void PageCache::store(const std::shared_ptr<const db::Snapshot>& snapshot, const pages::StartSettings& start,
                      std::string_view document_path, std::string_view query, const PageResult& page) {
    if (!snapshot) return;
    std::string k = key(start, document_path, query);
    const std::size_t size = page.body.size() + k.size();
    if (size > max_bytes_ / 4) return;  // one page never takes over the cache
    std::lock_guard lock(mutex_);
    // A page generated from an older snapshot than the stored ones is not kept.
    same_snapshot(snapshot);
    if (snapshot_.lock() != snapshot) return;
    if (pages_.count(k)) return;  // another thread generated it at the same time
    evict_until_fits(size);
    order_.push_back(k);
    pages_.emplace(std::move(k), Entry{page, std::prev(order_.end())});
    bytes_ += size;
}

std::size_t PageCache::entries() const {
    std::lock_guard lock(mutex_);
    return pages_.size();
}

std::size_t PageCache::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

}  // namespace ringolan::server
