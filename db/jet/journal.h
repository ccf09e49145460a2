// Rollback journal for in-place page writes: the original pages are saved beside the file
// and synced before any page of the file changes, so an interrupted write can be undone.
// Layout: "RGLNJRN1", the file's size before the write (u64), the page count (u32), per page its
// number (u32) and 4096 bytes, then "DONE" and the FNV-1a 64 hash of all bytes before it; all
// little-endian. A journal of any other length or hash is incomplete: no page was written yet.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/jet/page.h"
#include "platform/file.h"

namespace ringolan::jet {

struct PageImage {
    uint32_t number = 0;
    Page bytes{};
};

// Called after each durable step of a write (journal pieces, syncs, page writes), with the
// step's name; tests use it to stop a process at every point.
using StepHook = std::function<void(const char* step)>;

// "<file>-journal" beside the database file.
std::filesystem::path journal_path(const std::filesystem::path& db);

// Writes the journal (original file size and page images), syncs it and its folder.
// Throws std::runtime_error on I/O failure.
void write_journal(const std::filesystem::path& db, uint64_t original_size, const std::vector<PageImage>& originals,
                   const StepHook& hook);

// Removes the journal once the file holds the new pages, and syncs the folder.
void remove_journal(const std::filesystem::path& db, const StepHook& hook);

enum class Recovery {
    Nothing,           // no journal
    RolledBack,        // a complete journal was put back: the file is as before the write
    DiscardedPartial,  // an incomplete journal was removed: the file had not been touched
    Busy,              // another process holds the file's write lock; nothing done
};

// Undoes an interrupted write of `db` (the caller already holds the lock of file, db opened).
Recovery recover_locked(const std::filesystem::path& db, platform::File& file);

// Takes the file's write lock and undoes an interrupted write. Call before reading a file
// that may have been written in place. Throws std::runtime_error on I/O failure.
Recovery recover(const std::filesystem::path& db);

// fsync of a folder, so that a created, renamed or removed entry is durable.
void sync_folder(const std::filesystem::path& folder);

}  // namespace ringolan::jet
