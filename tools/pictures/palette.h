// From drawn Qt images to palette images for the GIF writer.
#pragma once

#include <QImage>
#include <cstdint>
#include <utility>
#include <vector>

#include "tools/pictures/gif_writer.h"

namespace ringolan::pictures {

// Colours evenly spaced from a to b, both included, for each pair; duplicates removed, first
// occurrence kept. Throws std::invalid_argument when the result has more than 256 colours.
std::vector<uint32_t> ramp_palette(const std::vector<std::pair<uint32_t, uint32_t>>& pairs, int steps);

// Maps every pixel to its nearest palette colour (squared RGB distance, lowest index on a tie).
// With transparent true, pixels of alpha below 128 become one extra palette entry appended as
// the transparent index; the colour of the others is taken without their alpha.
IndexedImage to_indexed(const QImage& image, const std::vector<uint32_t>& palette, bool transparent);

}  // namespace ringolan::pictures
