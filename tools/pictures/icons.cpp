#include "tools/pictures/icons.h"

#include <QPainter>
#include <QPen>

#include "tools/pictures/faces.h"

namespace ringolan::pictures {

namespace {

QImage blank(int size, const QColor& fill) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

const QColor kLink(0x08, 0x39, 0x86);  // link colour of the pages

}  // namespace

QImage draw_hit_marker(int size) {
    QImage image = blank(size, Qt::transparent);
    QPainter painter(&image);
    paint_hole(painter, {size / 2.0, size / 2.0}, size - 1.0);
    return image;
}

QImage draw_mean_cross(int size) {
    QImage image = blank(size, Qt::transparent);
    QPainter painter(&image);
    // Arms of even thickness centred on size / 2, a dark rim so that they show on white and black.
    const int thick = std::max(2, size / 12) & ~1;
    const int margin = size / 16;
    const int mid = size / 2;
    const QColor rim(0x40, 0x00, 0x00), red(0xE0, 0x10, 0x10);
    painter.fillRect(margin, mid - thick / 2 - 1, size - 2 * margin, thick + 2, rim);
    painter.fillRect(mid - thick / 2 - 1, margin, thick + 2, size - 2 * margin, rim);
    painter.fillRect(margin + 1, mid - thick / 2, size - 2 * margin - 2, thick, red);
    painter.fillRect(mid - thick / 2, margin + 1, thick, size - 2 * margin - 2, red);
    return image;
}

QImage draw_target_icon(int size) {
    QImage image = blank(size, Qt::transparent);
    QPainter painter(&image);
    const double k = (size / 2.0 - 0.5) / ring_radius_mm(Face::AirRifle, 1);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(size / 2.0, size / 2.0);
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(Qt::white);
    painter.drawEllipse(c, ring_radius_mm(Face::AirRifle, 1) * k - 0.5, ring_radius_mm(Face::AirRifle, 1) * k - 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const double black = aiming_mark_radius_mm(Face::AirRifle) * k;
    painter.drawEllipse(c, black, black);
    painter.setBrush(Qt::white);
    painter.drawEllipse(c, black * 0.3, black * 0.3);
    return image;
}

QImage draw_list_icon(int size) {
    QImage image = blank(size, kPageBackground);
    QPainter painter(&image);
    const double s = size / 20.0;
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.0));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(3.5 * s, 1.5 * s, 13 * s, 17 * s));
    painter.setPen(QPen(kLink, 1.5 * s, Qt::SolidLine, Qt::FlatCap));
    for (int row = 0; row < 5; ++row) {
        const double y = (5 + row * 3) * s;
        painter.drawLine(QPointF(6 * s, y), QPointF(8 * s, y));   // rank
        painter.drawLine(QPointF(9 * s, y), QPointF((row % 2 ? 12 : 14) * s, y));  // name
    }
    return image;
}

QImage draw_printer_icon(int size) {
    QImage image = blank(size, kPageBackground);
    QPainter painter(&image);
    const double s = size / 20.0;
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPen outline(QColor(0x30, 0x30, 0x30), 1.0);
    painter.setPen(outline);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(5.5 * s, 1.5 * s, 9 * s, 7 * s));  // paper going in
    painter.setBrush(QColor(0x9A, 0x9A, 0xA2));
    painter.drawRoundedRect(QRectF(1.5 * s, 7.5 * s, 17 * s, 7 * s), 1.5 * s, 1.5 * s);  // body
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(4.5 * s, 12.5 * s, 11 * s, 6 * s));  // printed sheet
    painter.setPen(QPen(kLink, 1.0));
    painter.drawLine(QPointF(6.5 * s, 15 * s), QPointF(13.5 * s, 15 * s));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0xB0, 0x20));
    painter.drawEllipse(QPointF(15.5 * s, 9.8 * s), 0.9 * s, 0.9 * s);  // power light
    return image;
}

}  // namespace ringolan::pictures
