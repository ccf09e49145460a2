#include "platform/memory_map.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ringolan::platform {

std::shared_ptr<const MemoryMap> MemoryMap::of_handle(NativeHandle handle, std::size_t size) {
    if (handle == kNoHandle) return nullptr;
    struct stat st {};
    void* data = MAP_FAILED;
    if (size > 0 && ::fstat(int(handle), &st) == 0 && uint64_t(st.st_size) >= size)
        data = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, int(handle), 0);
    ::close(int(handle));
    if (data == MAP_FAILED) return nullptr;
    return std::shared_ptr<const MemoryMap>(new MemoryMap(static_cast<const uint8_t*>(data), size));
}

MemoryMap::~MemoryMap() { ::munmap(const_cast<uint8_t*>(data_), size_); }

}  // namespace ringolan::platform
