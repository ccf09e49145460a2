#include "upload/gzip_file.h"

#include <zlib.h>

#include <array>
#include <fstream>
#include <memory>
#include <vector>

namespace ringolan::upload {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kLevel = 6;
constexpr int kRawDeflate = -15;  // window bits: 32 KiB window, no zlib wrapper
constexpr int kMemLevel = 8;      // zlib's default

void put_le32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct DeflateEnd {
    void operator()(z_stream* z) const { deflateEnd(z); }
};

}  // namespace

GzipResult gzip_stream(std::istream& in, std::ostream& out, std::string_view name) {
    if (name.find('\0') != std::string_view::npos) throw std::runtime_error("gzip: file name contains a zero byte");
    GzipResult result;
    auto write = [&](const char* data, size_t size) {
        out.write(data, static_cast<std::streamsize>(size));
        if (!out) throw std::runtime_error("gzip: writing the compressed data failed");
        result.output_bytes += size;
    };

    std::string header = {'\x1F', '\x8B', '\x08', '\x08', 0, 0, 0, 0, 0, 0};
    header.append(name);
    header += '\0';
    write(header.data(), header.size());

    z_stream zs{};
    if (deflateInit2(&zs, kLevel, Z_DEFLATED, kRawDeflate, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("gzip: zlib cannot start deflate");
    std::unique_ptr<z_stream, DeflateEnd> guard(&zs);

    std::vector<char> input(kChunk), output(kChunk);
    uLong crc = crc32(0, Z_NULL, 0);
    int flush = Z_NO_FLUSH;
    do {
        in.read(input.data(), static_cast<std::streamsize>(input.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (in.bad() || (!in && !in.eof())) throw std::runtime_error("gzip: reading the input failed");
        if (in.eof()) flush = Z_FINISH;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(input.data()), static_cast<uInt>(got));
        result.input_bytes += got;
        zs.next_in = reinterpret_cast<Bytef*>(input.data());
        zs.avail_in = static_cast<uInt>(got);
        do {
            zs.next_out = reinterpret_cast<Bytef*>(output.data());
            zs.avail_out = static_cast<uInt>(output.size());
            const int rc = deflate(&zs, flush);
            if (rc == Z_STREAM_ERROR) throw std::runtime_error("gzip: zlib deflate failed");
            write(output.data(), output.size() - zs.avail_out);
        } while (zs.avail_out == 0);
    } while (flush != Z_FINISH);

    result.crc32 = static_cast<uint32_t>(crc);
    std::string trailer;
    put_le32(trailer, result.crc32);
    put_le32(trailer, static_cast<uint32_t>(result.input_bytes & 0xFFFFFFFFu));
    write(trailer.data(), trailer.size());
    return result;
}

GzipResult gzip_file(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (source.string().size() > kGzipMaxPath) throw GzipPathTooLong();
    std::ifstream in(source, std::ios::binary);
    if (!in) throw std::runtime_error("Die Datei " + source.string() + " kann nicht gelesen werden");
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Die Datei " + target.string() + " kann nicht geschrieben werden");
    GzipResult result;
    try {
        result = gzip_stream(in, out, source.filename().string());
        out.close();
        if (!out) throw std::runtime_error("gzip: closing the output failed");
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(source.string() + " -> " + target.string() + ": " + e.what());
    }
    return result;
}

}  // namespace ringolan::upload
