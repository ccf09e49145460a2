// sb.php: one target of one shooter drawn as a picture, a marker on every hit and a cross on
// the mean point of impact.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::pages {

// One of the two target faces; positions in pixels, the size texts written as they stand.
struct TargetLayout {
    int left, top;              // the face picture's top left corner
    int offset_x, offset_y;     // added to left/top: a hit marker in the centre of the face
    float scale_x, scale_y;     // pixels per unit of t / 100 (single precision)
    std::string_view picture, picture_width, picture_height;
    std::string_view hit_image, hit_width, hit_height;
    std::string_view mean_image, mean_width, mean_height;
};

// Row 0: every target type but air pistol; row 1: "Luftpistole" (letter case counts).
const TargetLayout& target_layout(std::string_view scheibentyp);
const TargetLayout& target_layout(int row);

struct MarkerPosition {
    int32_t left, top;
};

// The marker of a hit with distance t and direction w (32768ths of a turn, clockwise from the
// top), computed in extended precision and rounded half to even. Only meaningful for t > 0.
// Throws std::range_error when the position lies outside the 64-bit range (values within it
// keep their low 32 bits, as a 32-bit integer takes them).
MarkerPosition hit_position(const TargetLayout& layout, double t, double w);

// The mean of `count` (>= 1) marker positions from their 32-bit sums, truncated toward zero.
MarkerPosition mean_position(int32_t sum_left, int32_t sum_top, int32_t count);

// The body fragment (Windows-1252). Throws InputError for a key that is no whole number,
// database errors propagate.
std::string sb_page(PageContext& ctx, std::string_view query);

}  // namespace ringolan::pages
