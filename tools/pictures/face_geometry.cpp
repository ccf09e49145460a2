#include "tools/pictures/face_geometry.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace ringolan::pictures {

namespace {

// Real faces: ring 1's outer diameter and the step between rings, all in millimetres.
struct RingTable {
    double ring1_diameter, step, inner_ten_diameter, aiming_mark_diameter;
    int first_black_ring;
};

const RingTable& rings(Face face) {
    static const RingTable rifle{45.5, 5.0, 0.0, 30.5, 4};
    static const RingTable pistol{155.5, 16.0, 5.0, 59.5, 7};
    return face == Face::AirRifle ? rifle : pistol;
}

}  // namespace

const FaceLayout& face_layout(Face face) {
    static const FaceLayout rifle{498, 501, 224, 228, 50, 0.109f, 0.1103f};
    static const FaceLayout pistol{500, 503, 243, 246, 13, 0.0318f, 0.032f};
    return face == Face::AirRifle ? rifle : pistol;
}

double centre_x(Face face) {
    const auto& l = face_layout(face);
    return l.marker_offset_x + l.marker_size / 2.0;
}
double centre_y(Face face) {
    const auto& l = face_layout(face);
    return l.marker_offset_y + l.marker_size / 2.0;
}
double px_per_mm_x(Face face) { return face_layout(face).scale_x * 100.0; }
double px_per_mm_y(Face face) { return face_layout(face).scale_y * 100.0; }

double ring_radius_mm(Face face, int ring) {
    if (ring < 1 || ring > 10) throw std::out_of_range("no ring " + std::to_string(ring) + " on a target face");
    const auto& r = rings(face);
    return (r.ring1_diameter - r.step * (ring - 1)) / 2.0;
}

double inner_ten_radius_mm(Face face) { return rings(face).inner_ten_diameter / 2.0; }
double aiming_mark_radius_mm(Face face) { return rings(face).aiming_mark_diameter / 2.0; }
int first_black_ring(Face face) { return rings(face).first_black_ring; }

int ring_at_mm(Face face, double mm) {
    int ring = 0;
    for (int r = 1; r <= 10; ++r)
        if (mm <= ring_radius_mm(face, r)) ring = r;
    return ring;
}

Point hit_marker_position(Face face, double t, double w) {
    const auto& l = face_layout(face);
    const float sx = static_cast<float>(l.scale_x), sy = static_cast<float>(l.scale_y);
    const long double ax = static_cast<long double>(w) / 32767 * 2 * 3.14159L;
    const long double ay = static_cast<long double>(w) / 32768 * 2 * 3.14159L;
    const long double x = std::sin(ax) * (static_cast<long double>(t) / 100 * sx) + l.marker_offset_x;
    const long double y = l.marker_offset_y - std::cos(ay) * (static_cast<long double>(t) / 100 * sy);
    // The default rounding mode rounds halves to the even neighbour.
    return {std::lrint(x), std::lrint(y)};
}

}  // namespace ringolan::pictures
