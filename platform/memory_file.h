// Anonymous files held in memory: written once, then sent to sockets by the system without a
// copy per answer (platform/send_file.h), or read back.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/handle.h"

namespace ringolan::platform {

// A new empty memory file (name is for diagnostics only), or kNoHandle when none can be made.
// The caller owns the handle and closes it with close_memory_file.
NativeHandle create_memory_file(const char* name);
void close_memory_file(NativeHandle file);
// Makes a memory file unchangeable for good (no write, no change of size); false when refused.
bool seal_memory_file(NativeHandle file);
// Whether nobody can write to the memory file or shorten it any more.
bool is_sealed_memory_file(NativeHandle file);

// A memory file holding bytes, never changed; closed when the last owner lets go.
class MemoryFile {
public:
    // nullptr when the file cannot be made or written (out of memory).
    static std::shared_ptr<const MemoryFile> of(const char* name, std::string_view bytes);
    ~MemoryFile() { close_memory_file(handle_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    NativeHandle handle() const { return handle_; }
    std::size_t size() const { return size_; }

private:
    MemoryFile(NativeHandle handle, std::size_t size) : handle_(handle), size_(size) {}
    NativeHandle handle_;
    std::size_t size_;
};

}  // namespace ringolan::platform
