// Unpacking of one uploaded gzip file, in pieces or whole.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/error.h"

namespace ringolan::site {

class GzipError : public Error {
public:
    using Error::Error;
};

// Largest unpacked size accepted.
inline constexpr std::size_t kMaxUnpackedBytes = std::size_t(1) << 30;

// True when the bytes begin like a gzip member (1F 8B, method 8).
bool looks_like_gzip(std::string_view bytes);

// Reads the contents of exactly one gzip member held in memory. Throws GzipError for data
// that is not gzip (at construction), and while reading for a member cut short, a damaged
// stream or check value, bytes after the member, or more than `max_size` unpacked bytes.
class GzipReader {
public:
    explicit GzipReader(std::string_view bytes, std::size_t max_size = kMaxUnpackedBytes);
    ~GzipReader();
    GzipReader(const GzipReader&) = delete;
    GzipReader& operator=(const GzipReader&) = delete;

    // Up to `size` further bytes into `out`; 0 once the member has ended (and was whole).
    std::size_t read(char* out, std::size_t size);

    // A likely unpacked size from the member's trailer, bounded by what deflate can reach.
    std::size_t size_hint() const { return size_hint_; }

private:
    struct Stream;
    std::unique_ptr<Stream> stream_;
    std::size_t max_size_;
    std::size_t produced_ = 0;
    std::size_t size_hint_ = 0;
    bool done_ = false;
};

// The whole contents of one gzip member (GzipReader read to its end).
std::string gunzip(std::string_view bytes, std::size_t max_size = kMaxUnpackedBytes);

}  // namespace ringolan::site
