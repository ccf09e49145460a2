#include "tools/pictures/faces.h"

#include <QPainterPath>
#include <QPen>
#include <cmath>

#include "tools/pictures/glyphs.h"

namespace ringolan::pictures {

namespace {

QRectF ellipse(QPointF c, double mm, double kx, double ky) {
    return {c.x() - mm * kx, c.y() - mm * ky, 2 * mm * kx, 2 * mm * ky};
}

void paint_number(QPainter& painter, int digit, QPointF at, double height, const QColor& colour) {
    const double width = height * 0.62;
    const QRectF box(at.x() - width / 2, at.y() - height / 2, width, height);
    QPen pen(colour, std::max(1.2, height / 8));
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.strokePath(digit_path(digit, box), pen);
}

}  // namespace

void paint_face(QPainter& painter, Face face, QPointF c, double kx, double ky, double line) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double black = aiming_mark_radius_mm(face);
    const int first_black = first_black_ring(face);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(ellipse(c, ring_radius_mm(face, 1), kx, ky));
    painter.setBrush(Qt::black);
    painter.drawEllipse(ellipse(c, black, kx, ky));

    painter.setBrush(Qt::NoBrush);
    for (int ring = 1; ring <= 10; ++ring) {
        if (ring == first_black) continue;  // the edge of the aiming mark is its own line
        const double r = ring_radius_mm(face, ring);
        const QColor colour = r > black ? Qt::black : Qt::white;
        if (r * std::min(kx, ky) < 2 * line) {
            // A ten too small for a ring line: a white dot.
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawEllipse(ellipse(c, r, kx, ky));
            painter.setBrush(Qt::NoBrush);
            continue;
        }
        painter.setPen(QPen(colour, line));
        painter.drawEllipse(ellipse(c, r, kx, ky));
    }
    if (const double inner = inner_ten_radius_mm(face); inner > 0) {
        painter.setPen(QPen(Qt::white, line));
        painter.drawEllipse(ellipse(c, inner, kx, ky));
    }

    // Numbers in the middle of each band, right, left, above and below the centre.
    for (int ring = 1; ring <= 8; ++ring) {
        const double outer = ring_radius_mm(face, ring), inner = ring_radius_mm(face, ring + 1);
        const double mid = (outer + inner) / 2;
        const double height = (outer - inner) * std::min(kx, ky) * 0.52;
        const QColor colour = ring >= first_black ? Qt::white : Qt::black;
        paint_number(painter, ring, {c.x() + mid * kx, c.y()}, height, colour);
        paint_number(painter, ring, {c.x() - mid * kx, c.y()}, height, colour);
        paint_number(painter, ring, {c.x(), c.y() - mid * ky}, height, colour);
        paint_number(painter, ring, {c.x(), c.y() + mid * ky}, height, colour);
    }
    painter.restore();
}

QImage draw_face(Face face) {
    const auto& l = face_layout(face);
    QImage image(l.width, l.height, QImage::Format_ARGB32_Premultiplied);
    image.fill(kPageBackground);
    QPainter painter(&image);
    paint_face(painter, face, {centre_x(face), centre_y(face)}, px_per_mm_x(face), px_per_mm_y(face));
    return image;
}

void paint_hole(QPainter& painter, QPointF c, double d) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double r = d / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawEllipse(c, r, r);
    painter.setBrush(QColor(0xD8, 0xD8, 0xD8));
    painter.drawEllipse(c, r * 0.9, r * 0.9);
    painter.setBrush(QColor(0x6E, 0x6E, 0x6E));
    painter.drawEllipse(c, r * 0.72, r * 0.72);
    painter.restore();
}

QImage draw_start_picture(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(kPageBackground);
    QPainter painter(&image);
    const double k = size / 2.0 * 0.96 / ring_radius_mm(Face::AirRifle, 1);
    const QPointF c(size / 2.0, size / 2.0);
    paint_face(painter, Face::AirRifle, c, k, k, 1.2);
    // A group of five shots: distance in millimetres, direction in degrees clockwise from the top.
    const struct {
        double mm, deg;
    } shots[] = {{0.8, 300}, {3.0, 70}, {4.6, 160}, {5.2, 250}, {3.9, 15}};
    for (const auto& s : shots) {
        const double a = s.deg * 3.14159265358979 / 180;
        paint_hole(painter, {c.x() + std::sin(a) * s.mm * k, c.y() - std::cos(a) * s.mm * k}, 4.5 * k);
    }
    return image;
}

}  // namespace ringolan::pictures
