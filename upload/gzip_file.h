// One gzip member (RFC 1952) of a whole file, the same bytes for the same input:
// 1F 8B, method 8, flags 08 (file name), modification time 0, extra flags 0, OS 0, the base
// name of the source and a zero byte, raw deflate at level 6 made in pieces side by side
// (upload/piece_deflate.h: zlib's bytes for input of one piece), then CRC-32 and length (modulo
// 2^32), each low byte first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/error.h"

namespace ringolan::upload {

// Paths longer than this cannot be compressed (the upload shows kGzipPathTooLong then).
inline constexpr size_t kGzipMaxPath = 240;
inline constexpr std::string_view kGzipPathTooLong = "Unable to GZip this file: path name is too long";

class GzipPathTooLong : public Error {
public:
    GzipPathTooLong() : Error(std::string(kGzipPathTooLong)) {}
};

struct GzipResult {
    uint64_t input_bytes = 0;
    uint64_t output_bytes = 0;
    uint32_t crc32 = 0;
};

// The unit in which gzip_stream reads and the dump hands its bytes on.
inline constexpr size_t kGzipPiece = 64 * 1024;

class PieceDeflater;

// One member written piece by piece: the member is the same whatever sizes the input comes in,
// and the same as gzip_stream makes of the same bytes.

class GzipWriter {
public:
    // Writes the header to out at once; name as for gzip_stream. Throws std::runtime_error.
    GzipWriter(std::ostream& out, std::string_view name);
    ~GzipWriter();
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    void write(const char* data, size_t size);
    // Deflates the rest and writes the trailer; nothing may be written after. Returns the totals.
    GzipResult finish();

private:
    std::ostream& out_;
    std::unique_ptr<PieceDeflater> deflater_;
    GzipResult result_;
    bool finished_ = false;
};

// Compresses everything readable from in into one member written to out; name goes into the
// header as given (8-bit, must not contain a zero byte). Throws std::runtime_error when
// reading, writing or zlib fails.
GzipResult gzip_stream(std::istream& in, std::ostream& out, std::string_view name);

// One member of data, made in memory. Throws std::runtime_error as GzipWriter does.
std::string gzip_bytes(std::string_view data, std::string_view name = "");

// Compresses the file source into target (created or overwritten) with the base name of
// source in the header. Throws GzipPathTooLong when the path of source is longer than
// kGzipMaxPath characters, std::runtime_error naming the file when source cannot be read
// or target cannot be written.
GzipResult gzip_file(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace ringolan::upload
