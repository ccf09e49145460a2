#include "db/snapshot/file_mirror.h"

#include <cstring>

namespace ringolan::db {
namespace {

using platform::File;

constexpr std::size_t kPage = 4096;      // Jet 4; Jet 3 pages are 2,048 bytes
constexpr std::size_t kChunk = 1 << 20;  // read at once

uint32_t owner_of(const uint8_t* page) {
    uint32_t v;
    std::memcpy(&v, page + 4, 4);
    return v;  // little-endian machines; the header says which Jet
}

// The size of the file's pages from the start of the file (byte 0x14: 0 for Jet 3).
std::size_t page_size_of(const uint8_t* start, std::size_t size) {
    return size > 0x14 && start[0x14] == 0 ? 2048 : kPage;
}

}  // namespace

FileMirror::FileMirror(std::filesystem::path copy) : copy_(std::move(copy)) {}

void FileMirror::reset() {
    bytes_.clear();
    pending_.clear();
    unwritten_.clear();
    settled_ = false;
    whole_copy_ = true;
}

void FileMirror::note_change(uint32_t page, const uint8_t* old_bytes, const uint8_t* new_bytes) {
    auto [it, fresh] = pending_.try_emplace(page);
    ChangedPage& c = it->second;
    c.page = page;
    if (fresh) {  // the page as the last settled state had it
        c.old_type = old_bytes ? old_bytes[0] : 0;
        c.old_owner = old_bytes ? owner_of(old_bytes) : 0;
    }
    c.new_type = new_bytes[0];
    c.new_owner = owner_of(new_bytes);
}

std::vector<ChangedPage> FileMirror::pending() const {
    std::vector<ChangedPage> out;
    for (const auto& [page, change] : pending_) out.push_back(change);
    return out;
}

void FileMirror::settle() {
    pending_.clear();
    settled_ = true;
}

bool FileMirror::write_copy() {
    std::error_code ec;
    const bool whole = whole_copy_;
    File out = File::open(copy_, whole ? File::Access::write_private : File::Access::read_write, ec);
    if (!ec && whole) ec = out.write_all(bytes_.data(), bytes_.size());
    const std::size_t page_size = page_size_;
    for (auto it = unwritten_.begin(); !ec && !whole && it != unwritten_.end(); ++it) {
        const std::size_t at = std::size_t(*it) * page_size;
        if (at < bytes_.size()) ec = out.write_all_at(bytes_.data() + at, std::min(page_size, bytes_.size() - at), at);
    }
    if (!ec && !whole) ec = out.truncate(bytes_.size());
    if (ec) {
        error_ = copy_.string() + ": cannot write the private copy: " + ec.message();
        return false;
    }
    unwritten_.clear();
    whole_copy_ = false;
    return true;
}

// Takes the next bytes of the file at offset `at` into the mirror, noting the pages that differ.
void FileMirror::take(std::size_t at, const uint8_t* data, std::size_t size) {
    if (whole_copy_) {
        std::memcpy(bytes_.data() + at, data, size);
        return;
    }
    const std::size_t page_size = page_size_;
    for (std::size_t off = 0; off < size; off += page_size) {
        const std::size_t len = std::min(page_size, size - off);
        uint8_t* mine = bytes_.data() + at + off;
        if (std::memcmp(mine, data + off, len) == 0) continue;
        const auto page = uint32_t((at + off) / page_size);
        const bool known = at + off + len <= known_size_ && len >= 8;
        if (len >= 8) {
            uint8_t old_head[8];
            std::memcpy(old_head, mine, 8);
            std::memcpy(mine, data + off, len);
            note_change(page, known ? old_head : nullptr, mine);
        } else {
            std::memcpy(mine, data + off, len);
            pending_[page].page = page;
        }
        unwritten_.insert(page);
    }
}

FileMirror::Outcome FileMirror::refresh(const std::filesystem::path& source) {
    error_.clear();
    std::error_code ec;
    File in = File::open(source, File::Access::read, ec);
    if (ec == std::errc::no_such_file_or_directory) return Outcome::changing;  // replaced just now: look again
    platform::FileState before, after;
    if (ec || in.state(before) || !before.exists) {
        error_ = source.string() + (ec ? ": cannot open: " + ec.message() : ": not a regular file");
        return Outcome::failed;
    }
    if (bytes_.empty()) whole_copy_ = true;
    known_size_ = bytes_.size();
    if (before.size < bytes_.size()) pending_[0].page = 0;  // shorter: read whole
    // Pages beyond the old end start as zeros, so that a new page is seen as changed.
    bytes_.resize(before.size, 0);
    std::vector<uint8_t> chunk(std::min<std::size_t>(kChunk, before.size));
    for (std::size_t done = 0; done < before.size;) {
        const std::size_t want = std::min(chunk.size(), std::size_t(before.size) - done);
        if (in.read_exact_at(chunk.data(), want, done)) {
            if (platform::file_state(source) != before) return Outcome::changing;  // cut short meanwhile
            error_ = source.string() + ": read error";
            reset();
            return Outcome::failed;
        }
        if (done == 0) {
            // Pages of another size (another file under the name): the copy is written anew.
            const std::size_t page_size = page_size_of(chunk.data(), want);
            if (page_size != page_size_ && !whole_copy_) {
                whole_copy_ = true;
                pending_[0].page = 0;
            }
            page_size_ = page_size;
        }
        take(done, chunk.data(), want);
        done += want;
    }
    in.state(after);
    if (after != before || platform::file_state(source) != before) return Outcome::changing;
    state_ = before;
    if (!write_copy()) {
        reset();
        return Outcome::failed;
    }
    return Outcome::read;
}

}  // namespace ringolan::db
