// A small non-cryptographic hash for validators (ETags) of bytes held in memory.
#pragma once

#include <cstdint>
#include <string_view>

namespace ringolan::text {

inline constexpr uint64_t kFnv1aBasis = 1469598103934665603ull;

// FNV-1a over the bytes, continuing from hash (chain calls to hash several pieces).
inline uint64_t fnv1a(std::string_view bytes, uint64_t hash = kFnv1aBasis) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

}  // namespace ringolan::text
