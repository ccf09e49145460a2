#include "upload/gzip_file.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <vector>

#include "common/error.h"

namespace ringolan::upload {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kLevel = 6;
constexpr int kRawDeflate = -15;  // window bits: 32 KiB window, no zlib wrapper
constexpr int kMemLevel = 8;      // zlib's default

void put_le32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

struct GzipWriter::Stream {
    z_stream zs{};
    uLong crc = crc32(0, Z_NULL, 0);
    ~Stream() { deflateEnd(&zs); }
};

GzipWriter::GzipWriter(std::ostream& out, std::string_view name) : out_(out) {
    if (name.find('\0') != std::string_view::npos) throw Error("gzip: file name contains a zero byte");
    std::string header = {'\x1F', '\x8B', '\x08', '\x08', 0, 0, 0, 0, 0, 0};
    header.append(name);
    header += '\0';
    auto z = std::make_unique<Stream>();
    if (deflateInit2(&z->zs, kLevel, Z_DEFLATED, kRawDeflate, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error("gzip: zlib cannot start deflate");  // deflateEnd of a failed start is harmless
    z_ = std::move(z);
    pending_.reserve(kGzipPiece);
    output_.resize(kChunk);
    out_.write(header.data(), static_cast<std::streamsize>(header.size()));
    if (!out_) throw Error("gzip: writing the compressed data failed");
    result_.output_bytes = header.size();
}

GzipWriter::~GzipWriter() = default;

void GzipWriter::deflate_piece(const char* data, size_t size, bool last) {
    z_stream& zs = z_->zs;
    z_->crc = crc32(z_->crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size));
    result_.input_bytes += size;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs.avail_in = static_cast<uInt>(size);
    do {
        zs.next_out = reinterpret_cast<Bytef*>(output_.data());
        zs.avail_out = static_cast<uInt>(output_.size());
        if (deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH) == Z_STREAM_ERROR) throw Error("gzip: zlib deflate failed");
        const size_t produced = output_.size() - zs.avail_out;
        out_.write(output_.data(), static_cast<std::streamsize>(produced));
        if (!out_) throw Error("gzip: writing the compressed data failed");
        result_.output_bytes += produced;
    } while (zs.avail_out == 0);
}

void GzipWriter::write(const char* data, size_t size) {
    if (finished_) throw std::logic_error("gzip: write after finish");
    if (!pending_.empty()) {
        const size_t take = std::min(size, kGzipPiece - pending_.size());
        pending_.append(data, take);
        data += take;
        size -= take;
        if (pending_.size() < kGzipPiece) return;
        deflate_piece(pending_.data(), pending_.size(), false);
        pending_.clear();
    }
    for (; size >= kGzipPiece; data += kGzipPiece, size -= kGzipPiece) deflate_piece(data, kGzipPiece, false);
    pending_.append(data, size);
}

GzipResult GzipWriter::finish() {
    if (finished_) throw std::logic_error("gzip: finished twice");
    finished_ = true;
    deflate_piece(pending_.data(), pending_.size(), true);
    pending_.clear();
    result_.crc32 = static_cast<uint32_t>(z_->crc);
    std::string trailer;
    put_le32(trailer, result_.crc32);
    put_le32(trailer, static_cast<uint32_t>(result_.input_bytes & 0xFFFFFFFFu));
    out_.write(trailer.data(), static_cast<std::streamsize>(trailer.size()));
    if (!out_) throw Error("gzip: writing the compressed data failed");
    result_.output_bytes += trailer.size();
    return result_;
}

GzipResult gzip_stream(std::istream& in, std::ostream& out, std::string_view name) {
    GzipWriter writer(out, name);
    std::vector<char> input(kGzipPiece);
    for (;;) {
        in.read(input.data(), static_cast<std::streamsize>(input.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (in.bad() || (!in && !in.eof())) throw Error("gzip: reading the input failed");
        writer.write(input.data(), got);
        if (in.eof()) return writer.finish();
    }
}

GzipResult gzip_file(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (source.string().size() > kGzipMaxPath) throw GzipPathTooLong();
    std::ifstream in(source, std::ios::binary);
    if (!in) throw Error("Die Datei " + source.string() + " kann nicht gelesen werden");
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) throw Error("Die Datei " + target.string() + " kann nicht geschrieben werden");
    GzipResult result;
    try {
        result = gzip_stream(in, out, source.filename().string());
        out.close();
        if (!out) throw Error("gzip: closing the output failed");
    } catch (const std::runtime_error& e) {
        throw Error(source.string() + " -> " + target.string() + ": " + e.what());
    }
    return result;
}

}  // namespace ringolan::upload
