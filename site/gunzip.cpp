#include "site/gunzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace ringolan::site {

bool looks_like_gzip(std::string_view bytes) {
    return bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B && bytes[2] == 8;
}

std::string gunzip(std::string_view bytes, std::size_t max_size) {
    if (!looks_like_gzip(bytes)) throw GzipError("the file is not gzip-compressed");
    if (bytes.size() > UINT_MAX) throw GzipError("the gzip file is too large");

    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw GzipError("zlib could not be initialised");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());

    // The member's last four bytes give the unpacked size (modulo 2^32): a hint for the buffer.
    std::size_t hint = 0;
    if (bytes.size() >= 18) {
        const auto* tail = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
        hint = std::size_t(tail[0]) | std::size_t(tail[1]) << 8 | std::size_t(tail[2]) << 16 |
               std::size_t(tail[3]) << 24;
    }
    std::string out;
    out.reserve(std::min({hint, max_size, bytes.size() * 1032}));  // deflate packs at most 1032:1
    char chunk[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = sizeof chunk - z.avail_out;
        if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && produced > 0)) {
            const bool cut = rc == Z_BUF_ERROR && z.avail_in == 0;
            const std::string detail = z.msg ? z.msg : "";
            inflateEnd(&z);
            if (cut) throw GzipError("the gzip file is truncated");
            throw GzipError("the gzip file is damaged" + (detail.empty() ? "" : " (" + detail + ")"));
        }
        if (out.size() + produced > max_size) {
            inflateEnd(&z);
            throw GzipError("the unpacked file is larger than " + std::to_string(max_size) + " bytes");
        }
        out.append(chunk, produced);
    }
    const bool trailing = z.avail_in != 0;
    inflateEnd(&z);
    if (trailing) throw GzipError("the gzip file has data after its end");
    return out;
}

}  // namespace ringolan::site
