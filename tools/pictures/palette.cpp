#include "tools/pictures/palette.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace ringolan::pictures {

namespace {

int channel(uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

uint32_t mix(uint32_t a, uint32_t b, int i, int steps) {
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
        const int ca = channel(a, shift), cb = channel(b, shift);
        // Rounded to nearest, halves up, so that a ramp and its reverse hold the same colours.
        const int v = (ca * (steps - 1 - i) * 2 + cb * i * 2 + (steps - 1)) / (2 * (steps - 1));
        out |= static_cast<uint32_t>(v) << shift;
    }
    return out;
}

}  // namespace

std::vector<uint32_t> ramp_palette(const std::vector<std::pair<uint32_t, uint32_t>>& pairs, int steps) {
    if (steps < 2) throw std::invalid_argument("a colour ramp needs at least 2 steps");
    std::vector<uint32_t> out;
    for (const auto& [a, b] : pairs)
        for (int i = 0; i < steps; ++i) {
            const uint32_t c = mix(a, b, i, steps);
            if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
        }
    if (out.size() > 256) throw std::invalid_argument("palette of " + std::to_string(out.size()) + " colours");
    return out;
}

IndexedImage to_indexed(const QImage& image, const std::vector<uint32_t>& palette, bool transparent) {
    if (palette.empty() || palette.size() + (transparent ? 1 : 0) > 256)
        throw std::invalid_argument("palette needs 1 to 256 entries");
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    IndexedImage out;
    out.width = argb.width();
    out.height = argb.height();
    out.palette = palette;
    if (transparent) {
        out.transparent = static_cast<int>(palette.size());
        out.palette.push_back(0xFF00FF);  // never shown
    }
    out.pixels.reserve(static_cast<std::size_t>(out.width) * out.height);
    std::unordered_map<uint32_t, uint8_t> nearest;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (transparent && qAlpha(line[x]) < 128) {
                out.pixels.push_back(static_cast<uint8_t>(out.transparent));
                continue;
            }
            const uint32_t rgb = line[x] & 0xFFFFFF;
            auto it = nearest.find(rgb);
            if (it == nearest.end()) {
                int best = 0;
                long best_d = std::numeric_limits<long>::max();
                for (std::size_t i = 0; i < palette.size(); ++i) {
                    long d = 0;
                    for (int shift : {16, 8, 0}) {
                        const long diff = channel(rgb, shift) - channel(palette[i], shift);
                        d += diff * diff;
                    }
                    if (d < best_d) best_d = d, best = static_cast<int>(i);
                }
                it = nearest.emplace(rgb, static_cast<uint8_t>(best)).first;
            }
            out.pixels.push_back(it->second);
        }
    }
    return out;
}

}  // namespace ringolan::pictures
