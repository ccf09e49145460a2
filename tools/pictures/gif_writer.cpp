#include "tools/pictures/gif_writer.h"

#include <fstream>
#include <stdexcept>

#include "common/error.h"

namespace ringolan::pictures {

namespace {

constexpr int kMaxCodes = 4096;  // 12-bit codes

void put16(std::string& out, int v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

// Packs variable-width codes least significant bit first into 255-byte sub-blocks.
class CodeWriter {
public:
    void put(int code, int bits) {
        acc_ |= static_cast<uint32_t>(code) << filled_;
        filled_ += bits;
        while (filled_ >= 8) {
            bytes_ += static_cast<char>(acc_ & 0xFF);
            acc_ >>= 8;
            filled_ -= 8;
        }
    }
    // Flushes the last partial byte and returns the data as sub-blocks with the zero terminator.
    std::string finish() {
        if (filled_ > 0) bytes_ += static_cast<char>(acc_ & 0xFF);
        std::string blocks;
        for (std::size_t i = 0; i < bytes_.size(); i += 255) {
            const std::size_t n = std::min<std::size_t>(255, bytes_.size() - i);
            blocks += static_cast<char>(n);
            blocks.append(bytes_, i, n);
        }
        blocks += '\0';
        return blocks;
    }

private:
    std::string bytes_;
    uint32_t acc_ = 0;
    int filled_ = 0;
};

std::string lzw(const std::vector<uint8_t>& pixels, int min_code_size) {
    const int clear = 1 << min_code_size;
    const int end = clear + 1;
    // child[code * 256 + byte]: code of the string "code's string + byte", 0 when not yet known
    // (0 is never the code of a two-or-more byte string).
    std::vector<uint16_t> child(static_cast<std::size_t>(kMaxCodes) * 256, 0);
    CodeWriter out;
    int code_size = min_code_size + 1;
    int next = end + 1;
    out.put(clear, code_size);

    int current = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
        const uint8_t b = pixels[i];
        uint16_t& slot = child[static_cast<std::size_t>(current) * 256 + b];
        if (slot != 0) {
            current = slot;
            continue;
        }
        out.put(current, code_size);
        slot = static_cast<uint16_t>(next++);
        if (next > (1 << code_size) && code_size < 12) ++code_size;
        if (next == kMaxCodes) {
            // Table full: start over, as the decoder will on the clear code.
            out.put(clear, code_size);
            std::fill(child.begin(), child.end(), 0);
            code_size = min_code_size + 1;
            next = end + 1;
        }
        current = b;
    }
    out.put(current, code_size);
    out.put(end, code_size);
    return out.finish();
}

}  // namespace

std::string encode_gif(const IndexedImage& image) {
    if (image.width < 1 || image.width > 65535 || image.height < 1 || image.height > 65535)
        throw std::invalid_argument("GIF size out of range: " + std::to_string(image.width) + "x" +
                                    std::to_string(image.height));
    if (image.palette.empty() || image.palette.size() > 256)
        throw std::invalid_argument("GIF palette needs 1 to 256 colours, has " +
                                    std::to_string(image.palette.size()));
    if (image.pixels.size() != static_cast<std::size_t>(image.width) * image.height)
        throw std::invalid_argument("GIF pixel count does not match its size");
    const int colours = static_cast<int>(image.palette.size());
    if (image.transparent < -1 || image.transparent >= colours)
        throw std::invalid_argument("GIF transparent index outside the palette");
    for (uint8_t p : image.pixels)
        if (p >= colours) throw std::invalid_argument("GIF pixel index outside the palette");

    // Colour table of 2^bits entries, bits at least 1; LZW needs a minimum code size of 2.
    int bits = 1;
    while ((1 << bits) < colours) ++bits;

    std::string out = "GIF89a";
    put16(out, image.width);
    put16(out, image.height);
    out += static_cast<char>(0x80 | ((bits - 1) << 4) | (bits - 1));  // global table, its size
    out += '\0';                                                      // background colour index
    out += '\0';                                                      // no aspect ratio
    for (int i = 0; i < (1 << bits); ++i) {
        const uint32_t c = i < colours ? image.palette[i] : 0;
        out += static_cast<char>((c >> 16) & 0xFF);
        out += static_cast<char>((c >> 8) & 0xFF);
        out += static_cast<char>(c & 0xFF);
    }
    if (image.transparent >= 0) {
        out += "\x21\xF9\x04";
        out += '\x01';  // no disposal, transparency on
        put16(out, 0);  // no delay
        out += static_cast<char>(image.transparent);
        out += '\0';
    }
    out += '\x2C';
    put16(out, 0);
    put16(out, 0);
    put16(out, image.width);
    put16(out, image.height);
    out += '\0';  // no local table, not interlaced
    const int min_code_size = std::max(2, bits);
    out += static_cast<char>(min_code_size);
    out += lzw(image.pixels, min_code_size);
    out += '\x3B';
    return out;
}

void write_gif(const std::filesystem::path& file, const IndexedImage& image) {
    const std::string bytes = encode_gif(image);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw Error("cannot write " + file.string());
}

}  // namespace ringolan::pictures
