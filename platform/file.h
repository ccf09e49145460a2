// Files opened by the platform's own calls, where std::fstream lacks what is needed: reads and
// writes at an offset, sync to the disk, truncation, an exclusive lock, the file's identity.
// Errors are std::error_code values of the generic category (std::errc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/handle.h"

namespace ringolan::platform {

// What tells one state of a file from another: a replaced file has another identity, a
// rewritten one another size or modification time.
struct FileState {
    bool exists = false;  // and is a regular file
    uint64_t device = 0;
    uint64_t inode = 0;   // the file's identity on its device
    uint64_t size = 0;
    int64_t mtime_ns = 0;  // modification time, nanoseconds since 1970
    bool operator==(const FileState&) const = default;
};

// The state of the regular file at path; exists is false for anything else or nothing.
FileState file_state(const std::filesystem::path& path);

class File {
public:
    enum class Access {
        read,
        read_write,
        write_new,      // created or emptied; readable by all (rw-r--r--)
        write_private,  // created or emptied; for the owner alone (rw-------)
    };
    enum class Lock { taken, busy, failed };

    static File open(const std::filesystem::path& path, Access access, std::error_code& ec);
    // A new file for the owner alone, named prefix + a unique suffix, in folder; its path in created.
    static File create_unique(const std::filesystem::path& folder, const std::string& prefix,
                              std::filesystem::path& created, std::error_code& ec);

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool is_open() const { return handle_ != kNoHandle; }
    NativeHandle native() const { return handle_; }

    // The next bytes from the current position; 0 at the end.
    std::size_t read_some(void* out, std::size_t size, std::error_code& ec);
    // Exactly size bytes at offset; an error also when the file ends before.
    std::error_code read_exact_at(void* out, std::size_t size, uint64_t offset);
    std::error_code write_all(const void* data, std::size_t size);
    std::error_code write_all_at(const void* data, std::size_t size, uint64_t offset);
    std::error_code state(FileState& out) const;
    std::error_code truncate(uint64_t size);
    std::error_code sync();
    std::error_code set_permissions(std::filesystem::perms perms);
    // An exclusive lock between processes, held until the file is closed; never waits.
    Lock try_lock_exclusive(std::error_code& ec);
    // Closes now, with the error of the close (a write the system could not finish).
    std::error_code close();

private:
    explicit File(NativeHandle handle) : handle_(handle) {}
    NativeHandle handle_ = kNoHandle;
};

// Makes the entries of folder (a file created, renamed or removed in it) durable.
std::error_code sync_folder(const std::filesystem::path& folder);

// A new empty folder for this process alone, named prefix + a unique suffix, in the system's
// folder for temporary files. Throws std::system_error when none can be made.
std::filesystem::path create_temporary_folder(const std::string& prefix);

}  // namespace ringolan::platform
