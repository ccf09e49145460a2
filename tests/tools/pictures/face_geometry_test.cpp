// Ring geometry and the drawn faces: sampled pixels must show the ring a distance belongs to, and
// a hit placed the way the target picture page places it must land on its ring.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <stdexcept>

#include "tools/pictures/face_geometry.h"
#include "tools/pictures/faces.h"

using namespace ringolan::pictures;

namespace {

const double kPi = 3.14159265358979323846;

// Outer diameters of the real faces in millimetres, ring 1 to 10.
const double kRifleDiameters[10] = {45.5, 40.5, 35.5, 30.5, 25.5, 20.5, 15.5, 10.5, 5.5, 0.5};
const double kPistolDiameters[10] = {155.5, 139.5, 123.5, 107.5, 91.5, 75.5, 59.5, 43.5, 27.5, 11.5};

TEST(FaceGeometry, RingRadiiOfTheRealFaces) {
    for (int ring = 1; ring <= 10; ++ring) {
        EXPECT_DOUBLE_EQ(ring_radius_mm(Face::AirRifle, ring), kRifleDiameters[ring - 1] / 2) << ring;
        EXPECT_DOUBLE_EQ(ring_radius_mm(Face::AirPistol, ring), kPistolDiameters[ring - 1] / 2) << ring;
    }
    EXPECT_DOUBLE_EQ(aiming_mark_radius_mm(Face::AirRifle), 30.5 / 2);
    EXPECT_DOUBLE_EQ(aiming_mark_radius_mm(Face::AirPistol), 59.5 / 2);
    EXPECT_DOUBLE_EQ(inner_ten_radius_mm(Face::AirPistol), 2.5);
    EXPECT_DOUBLE_EQ(inner_ten_radius_mm(Face::AirRifle), 0.0);
    EXPECT_THROW(ring_radius_mm(Face::AirRifle, 0), std::out_of_range);
    EXPECT_THROW(ring_radius_mm(Face::AirPistol, 11), std::out_of_range);

    EXPECT_EQ(ring_at_mm(Face::AirRifle, 0.0), 10);
    EXPECT_EQ(ring_at_mm(Face::AirRifle, 0.3), 9);
    EXPECT_EQ(ring_at_mm(Face::AirRifle, 15.25), 4);
    EXPECT_EQ(ring_at_mm(Face::AirRifle, 15.26), 3);
    EXPECT_EQ(ring_at_mm(Face::AirRifle, 22.8), 0);
    EXPECT_EQ(ring_at_mm(Face::AirPistol, 5.7), 10);
    EXPECT_EQ(ring_at_mm(Face::AirPistol, 77.7), 1);
}

TEST(FaceGeometry, CentreAndScaleFollowTheTargetLayoutTable) {
    EXPECT_DOUBLE_EQ(centre_x(Face::AirRifle), 249.0);
    EXPECT_DOUBLE_EQ(centre_y(Face::AirRifle), 253.0);
    EXPECT_DOUBLE_EQ(centre_x(Face::AirPistol), 249.5);
    EXPECT_DOUBLE_EQ(centre_y(Face::AirPistol), 252.5);
    EXPECT_NEAR(px_per_mm_x(Face::AirRifle), 10.9, 1e-5);
    EXPECT_NEAR(px_per_mm_y(Face::AirRifle), 11.03, 1e-5);
    EXPECT_NEAR(px_per_mm_x(Face::AirPistol), 3.18, 1e-5);
    EXPECT_NEAR(px_per_mm_y(Face::AirPistol), 3.2, 1e-5);
    EXPECT_EQ(face_layout(Face::AirRifle).width, 498);
    EXPECT_EQ(face_layout(Face::AirRifle).height, 501);
    EXPECT_EQ(face_layout(Face::AirPistol).width, 500);
    EXPECT_EQ(face_layout(Face::AirPistol).height, 503);
}

TEST(FaceGeometry, HitMarkerPositionsOfThePage) {
    // The page's own examples, less its left edge 38 and top edge 150.
    auto p = hit_marker_position(Face::AirRifle, 1000, 0);
    EXPECT_EQ(p.x, 262 - 38);
    EXPECT_EQ(p.y, 377 - 150);
    p = hit_marker_position(Face::AirRifle, 2000, 8192);
    EXPECT_EQ(p.x, 264 - 38);
    EXPECT_EQ(p.y, 378 - 150);
    p = hit_marker_position(Face::AirPistol, 10000, 24576);
    EXPECT_EQ(p.x, 278 - 38);
    EXPECT_EQ(p.y, 396 - 150);
    // A centre shot's marker is centred on the face.
    for (Face face : {Face::AirRifle, Face::AirPistol}) {
        const auto c = hit_marker_position(face, 0, 1234);
        const double half = face_layout(face).marker_size / 2.0;
        EXPECT_DOUBLE_EQ(c.x + half, centre_x(face));
        EXPECT_DOUBLE_EQ(c.y + half, centre_y(face));
    }
}

enum class Area { Page, White, Black };

QRgb colour(Area a) { return a == Area::Page ? qRgb(0xF7, 0xEB, 0xD6) : a == Area::White ? qRgb(255, 255, 255) : qRgb(0, 0, 0); }

// Per-channel distance of two colours.
int distance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Expected area at mm from the centre, from the real dimensions above.
Area area_at(Face face, double mm) {
    const double* d = face == Face::AirRifle ? kRifleDiameters : kPistolDiameters;
    const double black = face == Face::AirRifle ? 30.5 / 2 : 59.5 / 2;
    if (mm > d[0] / 2) return Area::Page;
    if (mm > black) return Area::White;
    if (face == Face::AirRifle && mm < d[9] / 2) return Area::White;  // the ten dot
    return Area::Black;
}

class DrawnFace : public ::testing::TestWithParam<Face> {
protected:
    void SetUp() override {
        face_ = GetParam();
        image_ = draw_face(face_).convertToFormat(QImage::Format_RGB32);
        kx_ = face_ == Face::AirRifle ? 10.9 : 3.18;
        ky_ = face_ == Face::AirRifle ? 11.03 : 3.2;
        cx_ = face_ == Face::AirRifle ? 249.0 : 249.5;
        cy_ = face_ == Face::AirRifle ? 253.0 : 252.5;
    }
    // The pixel at mm from the centre in direction deg (clockwise from the top); false when outside.
    bool sample(double mm, double deg, QRgb& out) const {
        const double a = deg * kPi / 180;
        const int x = static_cast<int>(std::floor(cx_ + std::sin(a) * mm * kx_));
        const int y = static_cast<int>(std::floor(cy_ - std::cos(a) * mm * ky_));
        if (!image_.rect().contains(x, y)) return false;
        out = image_.pixel(x, y);
        return true;
    }
    Face face_;
    QImage image_;
    double kx_, ky_, cx_, cy_;
};

// Directions away from the axes, where the numbers stand.
const double kDirections[] = {20, 45, 70, 110, 160, 200, 250, 290, 330};

TEST_P(DrawnFace, AreasBesideEveryRingLine) {
    ASSERT_EQ(image_.width(), face_layout(face_).width);
    ASSERT_EQ(image_.height(), face_layout(face_).height);
    const double* d = face_ == Face::AirRifle ? kRifleDiameters : kPistolDiameters;
    const double step = 3.0 / std::min(kx_, ky_);  // three pixels in millimetres
    int sampled = 0;
    for (int ring = 1; ring <= (face_ == Face::AirRifle ? 9 : 10); ++ring) {
        const double r = d[ring - 1] / 2;
        for (double deg : kDirections) {
            for (double mm : {r - step, r + step}) {
                QRgb got;
                if (!sample(mm, deg, got)) continue;
                ++sampled;
                EXPECT_LE(distance(got, colour(area_at(face_, mm))), 8)
                    << "ring " << ring << " at " << mm << " mm, " << deg << " deg: " << std::hex << got;
            }
        }
    }
    EXPECT_GT(sampled, 150);
}

TEST_P(DrawnFace, RingLinesShowOnTheirArea) {
    const double* d = face_ == Face::AirRifle ? kRifleDiameters : kPistolDiameters;
    const double black = face_ == Face::AirRifle ? 30.5 / 2 : 59.5 / 2;
    for (int ring = 1; ring <= (face_ == Face::AirRifle ? 9 : 10); ++ring) {
        const double r = d[ring - 1] / 2;
        if (std::abs(r - black) < 0.01) continue;  // the edge of the aiming mark has no line
        // A line is black on white and white on black: the opposite of the area just inside it.
        const Area line = r > black ? Area::Black : Area::White;
        for (double deg : kDirections) {
            QRgb got;
            if (!sample(r, deg, got)) continue;
            EXPECT_LE(distance(got, colour(line)), 100)
                << "line of ring " << ring << " at " << deg << " deg: " << std::hex << got;
        }
    }
    if (face_ == Face::AirPistol) {
        for (double deg : kDirections) {
            QRgb inside, line;
            ASSERT_TRUE(sample(2.5, deg, line));
            ASSERT_TRUE(sample(1.0, deg, inside));
            EXPECT_LE(distance(line, colour(Area::White)), 100) << "inner ten at " << deg;
            EXPECT_LE(distance(inside, colour(Area::Black)), 8) << "inside the inner ten at " << deg;
        }
    }
}

TEST_P(DrawnFace, CentreAndCorners) {
    QRgb got;
    ASSERT_TRUE(sample(0, 0, got));
    EXPECT_LE(distance(got, colour(face_ == Face::AirRifle ? Area::White : Area::Black)), 8);
    for (QPoint corner : {QPoint(0, 0), QPoint(image_.width() - 1, 0), QPoint(0, image_.height() - 1),
                          QPoint(image_.width() - 1, image_.height() - 1)})
        EXPECT_EQ(image_.pixel(corner) & 0xFFFFFF, colour(Area::Page) & 0xFFFFFF) << corner.x() << "," << corner.y();
}

TEST_P(DrawnFace, HitsLandOnTheRingTheirTeilerSays) {
    const double* d = face_ == Face::AirRifle ? kRifleDiameters : kPistolDiameters;
    const double half = face_layout(face_).marker_size / 2.0;
    for (int ring = 1; ring <= 9; ++ring) {
        // In the middle of the ring's band; t is the Teiler times 100, the Teiler in 1/100 mm.
        const double mm = (d[ring - 1] + d[ring]) / 4;
        const double t = mm * 100 * 100;
        for (int w : {1500, 6000, 11000, 15000, 19000, 23000, 27000, 31000}) {
            const auto p = hit_marker_position(face_, t, w);
            const int x = static_cast<int>(std::floor(p.x + half)), y = static_cast<int>(std::floor(p.y + half));
            if (!image_.rect().contains(x, y)) continue;
            const QRgb got = image_.pixel(x, y);
            EXPECT_LE(distance(got, colour(area_at(face_, mm))), 8)
                << "ring " << ring << ", w " << w << ": marker centre " << x << "," << y << " " << std::hex << got;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Faces, DrawnFace, ::testing::Values(Face::AirRifle, Face::AirPistol),
                         [](const auto& info) { return info.param == Face::AirRifle ? "AirRifle" : "AirPistol"; });

}  // namespace
