#include "upload/gzip_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <memory>
#include <vector>

#include "common/error.h"
#include "upload/piece_deflate.h"

namespace ringolan::upload {
namespace {

void put_le32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

GzipWriter::GzipWriter(std::ostream& out, std::string_view name) : out_(out) {
    if (name.find('\0') != std::string_view::npos) throw Error("gzip: file name contains a zero byte");
    std::string header = {'\x1F', '\x8B', '\x08', '\x08', 0, 0, 0, 0, 0, 0};
    header.append(name);
    header += '\0';
    deflater_ = std::make_unique<PieceDeflater>([this](const char* data, size_t size) {
        out_.write(data, static_cast<std::streamsize>(size));
        if (!out_) throw Error("gzip: writing the compressed data failed");
        result_.output_bytes += size;
    });
    out_.write(header.data(), static_cast<std::streamsize>(header.size()));
    if (!out_) throw Error("gzip: writing the compressed data failed");
    result_.output_bytes = header.size();
}

GzipWriter::~GzipWriter() = default;

void GzipWriter::write(const char* data, size_t size) {
    if (finished_) throw std::logic_error("gzip: write after finish");
    deflater_->write(data, size);
}

GzipResult GzipWriter::finish() {
    if (finished_) throw std::logic_error("gzip: finished twice");
    finished_ = true;
    deflater_->finish();
    result_.input_bytes = deflater_->input_bytes();
    result_.crc32 = deflater_->crc32();
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

std::string gzip_bytes(std::string_view data, std::string_view name) {
    std::ostringstream out;
    GzipWriter writer(out, name);
    writer.write(data.data(), data.size());
    writer.finish();
    return std::move(out).str();
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
