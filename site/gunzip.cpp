#include "site/gunzip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace ringolan::site {

struct GzipReader::Stream {
    z_stream z{};
};

bool looks_like_gzip(std::string_view bytes) {
    return bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B && bytes[2] == 8;
}

GzipReader::GzipReader(std::string_view bytes, std::size_t max_size) : max_size_(max_size) {
    if (!looks_like_gzip(bytes)) throw GzipError("the file is not gzip-compressed");
    if (bytes.size() > UINT_MAX) throw GzipError("the gzip file is too large");
    stream_ = std::make_unique<Stream>();
    z_stream& z = stream_->z;
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw GzipError("zlib could not be initialised");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    // The member's last four bytes give the unpacked size modulo 2^32; deflate packs at most 1032:1.
    if (bytes.size() >= 18) {
        const auto* tail = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
        const std::size_t stated = std::size_t(tail[0]) | std::size_t(tail[1]) << 8 |
                                   std::size_t(tail[2]) << 16 | std::size_t(tail[3]) << 24;
        size_hint_ = std::min({stated, max_size, bytes.size() * 1032});
    }
}

GzipReader::~GzipReader() {
    if (stream_) inflateEnd(&stream_->z);
}

std::size_t GzipReader::read(char* out, std::size_t size) {
    if (done_ || size == 0) return 0;
    z_stream& z = stream_->z;
    z.next_out = reinterpret_cast<Bytef*>(out);
    z.avail_out = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
    const std::size_t room = z.avail_out;
    for (;;) {
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t got = room - z.avail_out;
        if (got > max_size_ - produced_)
            throw GzipError("the unpacked file is larger than " + std::to_string(max_size_) + " bytes");
        if (rc == Z_STREAM_END) {
            done_ = true;
            if (z.avail_in != 0) throw GzipError("the gzip file has data after its end");
            produced_ += got;
            return got;
        }
        if (rc == Z_OK || rc == Z_BUF_ERROR) {
            if (got > 0) {
                produced_ += got;
                return got;
            }
            if (rc == Z_BUF_ERROR) {
                if (z.avail_in == 0) throw GzipError("the gzip file is truncated");
                throw GzipError("the gzip file is damaged");
            }
            continue;  // input consumed (a header, say), nothing out yet
        }
        const std::string detail = z.msg ? z.msg : "";
        throw GzipError("the gzip file is damaged" + (detail.empty() ? "" : " (" + detail + ")"));
    }
}

std::string gunzip(std::string_view bytes, std::size_t max_size) {
    GzipReader reader(bytes, max_size);
    std::string out;
    out.reserve(reader.size_hint());
    char chunk[65536];
    while (const std::size_t n = reader.read(chunk, sizeof chunk)) out.append(chunk, n);
    return out;
}

}  // namespace ringolan::site
