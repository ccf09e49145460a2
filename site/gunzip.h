// Unpacking of one uploaded gzip file in memory.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ringolan::site {

class GzipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Largest unpacked size accepted.
inline constexpr std::size_t kMaxUnpackedBytes = std::size_t(1) << 30;

// True when the bytes begin like a gzip member (1F 8B, method 8).
bool looks_like_gzip(std::string_view bytes);

// The contents of exactly one gzip member. Throws GzipError for data that is not gzip, a
// member cut short, a damaged stream or check value, bytes after the member, or more than
// `max_size` unpacked bytes.
std::string gunzip(std::string_view bytes, std::size_t max_size = kMaxUnpackedBytes);

}  // namespace ringolan::site
