#include "platform/memory_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace ringolan::platform {

NativeHandle create_memory_file(const char* name) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    return fd < 0 ? kNoHandle : NativeHandle(fd);
}

bool seal_memory_file(NativeHandle file) {
    return ::fcntl(int(file), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0;
}

bool is_sealed_memory_file(NativeHandle file) {
    const int seals = ::fcntl(int(file), F_GET_SEALS);
    const int wanted = F_SEAL_WRITE | F_SEAL_SHRINK;
    return seals >= 0 && (seals & wanted) == wanted;
}

void close_memory_file(NativeHandle file) {
    if (file != kNoHandle) ::close(int(file));
}

std::shared_ptr<const MemoryFile> MemoryFile::of(const char* name, std::string_view bytes) {
    const NativeHandle handle = create_memory_file(name);
    if (handle == kNoHandle) return nullptr;
    std::shared_ptr<const MemoryFile> file(new MemoryFile(handle, bytes.size()));
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(int(handle), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return nullptr;  // out of memory: closed with file
        done += std::size_t(n);
    }
    return file;
}

}  // namespace ringolan::platform
