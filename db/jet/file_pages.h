// The pages of a Jet file opened for changes: read on demand and kept, changed pages held apart
// until the caller has written them.
#pragma once

#include <cstdint>
#include <map>

#include "common/error.h"
#include "db/jet/table_def.h"
#include "platform/file.h"

namespace ringolan::jet {

// The file is readable, but this code leaves it alone; the reason in plain words.
class Unsupported : public Error {
public:
    using Error::Error;
};

class FilePages {
public:
    FilePages(platform::File& file, uint64_t size) : file_(file), count_(uint32_t(size / kPageSize)) {}

    // Pages in the file before the pending changes.
    uint32_t count() const { return count_; }
    // The number a new page gets: after the file's pages and the new pages already taken.
    uint32_t end() const { return count_ + added_; }
    // A page as it is in the file. Throws LayoutError beyond the end, Error when unreadable.
    const Page& original(uint32_t n);
    // A page to change: a copy of the original, or a new empty page when n == end().
    Page& change(uint32_t n);
    PageSource source() {
        return [this](uint32_t n) -> const Page& { return original(n); };
    }
    const std::map<uint32_t, Page>& changed() const { return changed_; }

    // The changed pages have been written: they are the file's pages from now on.
    void commit();
    // Forgets the changes.
    void discard();
    // Drops the kept copies of unchanged pages (they are read again when needed).
    void forget_unchanged() { cache_.clear(); }

private:
    platform::File& file_;
    uint32_t count_;
    uint32_t added_ = 0;
    std::map<uint32_t, Page> cache_;
    std::map<uint32_t, Page> changed_;
};

}  // namespace ringolan::jet
