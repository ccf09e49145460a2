// GIF89a encoder for palette images: global colour table, LZW image data, one optional
// transparent colour index. No animation, no interlacing, no time stamps: equal input, equal bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ringolan::pictures {

struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> palette;  // 0xRRGGBB, 1 to 256 entries
    std::vector<uint8_t> pixels;    // row by row, width * height palette indices
    int transparent = -1;           // palette index drawn as transparent, -1 for none
};

// The whole GIF file. Throws std::invalid_argument for sizes outside 1..65535, an empty or
// oversized palette, a pixel count that does not match, an index or transparent index outside
// the palette.
std::string encode_gif(const IndexedImage& image);

// Writes encode_gif(image) to file; throws std::runtime_error when the file cannot be written.
void write_gif(const std::filesystem::path& file, const IndexedImage& image);

}  // namespace ringolan::pictures
