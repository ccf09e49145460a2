// The reader's own copy of a followed file, kept up to date by writing only the pages that
// changed, and the list of those pages since the copy was last taken as read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "db/snapshot/snapshot_database.h"
#include "platform/file.h"

namespace ringolan::db {

class FileMirror {
public:
    // copy: where the private copy is kept (created or replaced by the first refresh).
    explicit FileMirror(std::filesystem::path copy);

    enum class Outcome {
        read,      // the copy equals the file as it was during the whole read
        changing,  // the file changed while it was read: read again when it is quiet
        failed,    // error() says why
    };
    // Reads the file and brings the copy to its bytes.
    Outcome refresh(const std::filesystem::path& source);

    const std::filesystem::path& copy() const { return copy_; }
    // The copy's bytes after a refresh that returned read (until the next refresh).
    std::span<const uint8_t> bytes() const { return bytes_; }
    const std::string& error() const { return error_; }
    // The state of the file the last read found.
    const platform::FileState& state() const { return state_; }
    // Pages that differ from the copy as of the last settle(), ascending; page 0 stands for any
    // change of the header and for a file that got shorter.
    std::vector<ChangedPage> pending() const;
    bool has_pending() const { return !pending_.empty() || !settled_; }
    // The copy as it is now counts as read.
    void settle();
    // Forgets what was read, so that the next refresh writes the whole copy anew.
    void reset();

private:
    void note_change(uint32_t page, const uint8_t* old_bytes, const uint8_t* new_bytes);
    void take(std::size_t at, const uint8_t* data, std::size_t size);
    bool write_copy();

    std::filesystem::path copy_;
    std::vector<uint8_t> bytes_;  // the copy's bytes
    std::size_t known_size_ = 0;   // of bytes_ before the refresh under way
    std::map<uint32_t, ChangedPage> pending_;
    std::set<uint32_t> unwritten_;  // pages of bytes_ not yet in the copy
    bool whole_copy_ = true;        // the copy is written whole next time
    std::size_t page_size_ = 4096;  // of the file last read (the header says which)
    bool settled_ = false;  // false until a first complete read is settled
    platform::FileState state_;
    std::string error_;
};

}  // namespace ringolan::db
