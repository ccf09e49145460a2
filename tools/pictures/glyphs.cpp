#include "tools/pictures/glyphs.h"

#include <QTransform>
#include <stdexcept>
#include <string>

namespace ringolan::pictures {

namespace {

// The digit in the unit box, x and y from 0 to 1, y downwards.
QPainterPath unit_digit(int digit) {
    QPainterPath p;
    switch (digit) {
    case 1:
        p.moveTo(0.2, 0.25);
        p.lineTo(0.6, 0.0);
        p.lineTo(0.6, 1.0);
        break;
    case 2:
        p.moveTo(0.05, 0.28);
        p.cubicTo(0.05, -0.07, 0.95, -0.07, 0.95, 0.28);
        p.cubicTo(0.95, 0.5, 0.3, 0.7, 0.05, 1.0);
        p.lineTo(0.95, 1.0);
        break;
    case 3:
        p.moveTo(0.05, 0.15);
        p.cubicTo(0.3, -0.05, 0.95, -0.05, 0.9, 0.25);
        p.cubicTo(0.88, 0.42, 0.6, 0.47, 0.4, 0.47);
        p.cubicTo(0.75, 0.47, 0.98, 0.55, 0.95, 0.75);
        p.cubicTo(0.92, 1.05, 0.25, 1.05, 0.05, 0.85);
        break;
    case 4:
        p.moveTo(0.7, 1.0);
        p.lineTo(0.7, 0.0);
        p.lineTo(0.02, 0.7);
        p.lineTo(1.0, 0.7);
        break;
    case 5:
        p.moveTo(0.9, 0.0);
        p.lineTo(0.15, 0.0);
        p.lineTo(0.1, 0.45);
        p.cubicTo(0.5, 0.3, 0.98, 0.45, 0.95, 0.72);
        p.cubicTo(0.92, 1.05, 0.25, 1.05, 0.05, 0.85);
        break;
    case 6:
        p.moveTo(0.85, 0.08);
        p.cubicTo(0.5, -0.1, 0.05, 0.1, 0.05, 0.68);
        p.addEllipse(QRectF(0.05, 0.42, 0.9, 0.58));
        break;
    case 7:
        p.moveTo(0.05, 0.0);
        p.lineTo(0.95, 0.0);
        p.lineTo(0.35, 1.0);
        break;
    case 8:
        p.addEllipse(QRectF(0.12, 0.0, 0.76, 0.46));
        p.addEllipse(QRectF(0.05, 0.46, 0.9, 0.54));
        break;
    case 9:
        p.moveTo(0.15, 0.92);
        p.cubicTo(0.5, 1.1, 0.95, 0.9, 0.95, 0.32);
        p.addEllipse(QRectF(0.05, 0.0, 0.9, 0.58));
        break;
    default:
        throw std::out_of_range("no stroke glyph for digit " + std::to_string(digit));
    }
    return p;
}

}  // namespace

QPainterPath digit_path(int digit, const QRectF& box) {
    QTransform t;
    t.translate(box.left(), box.top());
    t.scale(box.width(), box.height());
    return t.map(unit_digit(digit));
}

}  // namespace ringolan::pictures
