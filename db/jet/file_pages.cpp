#include "db/jet/file_pages.h"

#include <string>

namespace ringolan::jet {

const Page& FilePages::original(uint32_t n) {
    if (n >= count_) throw LayoutError("page " + std::to_string(n) + " lies beyond the end of the file");
    auto it = cache_.find(n);
    if (it != cache_.end()) return it->second;
    Page& p = cache_[n];
    if (const std::error_code ec = file_.read_exact_at(p.data(), kPageSize, uint64_t(n) * kPageSize)) {
        cache_.erase(n);
        throw Error("cannot read the file: " + ec.message());
    }
    return p;
}

Page& FilePages::change(uint32_t n) {
    auto it = changed_.find(n);
    if (it != changed_.end()) return it->second;
    if (n == end()) {
        ++added_;
        return changed_[n] = Page{};
    }
    return changed_[n] = original(n);
}

void FilePages::commit() {
    for (auto& [n, page] : changed_) cache_[n] = page;
    count_ += added_;
    added_ = 0;
    changed_.clear();
}

void FilePages::discard() {
    added_ = 0;
    changed_.clear();
}

}  // namespace ringolan::jet
