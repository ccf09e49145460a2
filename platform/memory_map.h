// A file's bytes mapped read-only into memory (an image handed over by another process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/handle.h"

namespace ringolan::platform {

class MemoryMap {
public:
    // Maps the first size bytes of the file behind handle, which is closed in any case; nullptr
    // when the file is shorter or cannot be mapped. The caller makes sure the file cannot
    // shrink while mapped (a sealed memory file): reading a page cut off would kill the process.
    static std::shared_ptr<const MemoryMap> of_handle(NativeHandle handle, std::size_t size);
    ~MemoryMap();
    MemoryMap(const MemoryMap&) = delete;
    MemoryMap& operator=(const MemoryMap&) = delete;

    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MemoryMap(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    const uint8_t* data_;
    std::size_t size_;
};

}  // namespace ringolan::platform
