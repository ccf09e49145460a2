// Geometry of the two target faces as the target picture page places its markers on them.
//
// The page puts a hit marker's top-left corner at
//   (left + offset x + sin(angle) * t/100 * scale x,  top + offset y - cos(angle) * t/100 * scale y)
// where t/100 is the Teiler in 1/100 mm. So a face picture has its centre at
// (offset + marker size / 2) and is drawn at 100 * scale pixels per millimetre, separately for x and y.
#pragma once

namespace ringolan::pictures {

enum class Face { AirRifle, AirPistol };  // 10 m air rifle, 10 m air pistol

struct FaceLayout {
    int width, height;                    // picture size in pixels
    int marker_offset_x, marker_offset_y; // of the page's target layout table
    int marker_size;                      // hit marker width = height in pixels
    double scale_x, scale_y;              // pixels per 1/100 mm (the page's single-precision scales)
};

const FaceLayout& face_layout(Face face);

// Face centre in picture coordinates (pixel (i, j) covers [i, i+1) x [j, j+1)).
double centre_x(Face face);
double centre_y(Face face);
double px_per_mm_x(Face face);
double px_per_mm_y(Face face);

// Outer radius of ring 1 to 10 in millimetres; throws std::out_of_range for other rings.
double ring_radius_mm(Face face, int ring);
// Radius of the inner ten (air pistol) in millimetres; 0 when the face has none.
double inner_ten_radius_mm(Face face);
// Radius of the black aiming mark in millimetres and the lowest ring that lies inside it.
double aiming_mark_radius_mm(Face face);
int first_black_ring(Face face);

// The ring a point at distance mm from the centre belongs to (0 outside ring 1), by the
// outer radii alone.
int ring_at_mm(Face face, double mm);

struct Point {
    long x, y;
};
// Top-left corner of a hit marker relative to the face picture's top-left corner, as the target
// picture page computes it for distance t (Teiler * 100) and direction w (32768ths of a turn,
// clockwise from the top): float scales, the constant 3.14159, rounding half to even.
Point hit_marker_position(Face face, double t, double w);

}  // namespace ringolan::pictures
