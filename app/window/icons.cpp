#include "app/window/icons.h"

#include <QPainter>
#include <QPixmap>

namespace ringolan::window {
namespace {

QColor face_colour(int image) {
    switch (image) {
        case kIconStopped: return QColor(200, 30, 30);
        case kIconRunning: return QColor(20, 160, 40);
        case kIconActivity: return QColor(250, 190, 0);
        default: return QColor(110, 110, 120);
    }
}

}  // namespace

QImage state_image(int image) {
    QImage out(16, 16, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = face_colour(image);
    p.setPen(QPen(colour.darker(170), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(QPen(Qt::white, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
    p.setPen(Qt::NoPen);
    p.setBrush(image == kIconActivity ? QColor(Qt::white) : QColor(20, 20, 20));
    p.drawEllipse(QRectF(6, 6, 4, 4));
    if (image == kIconActivity) {
        p.setPen(QPen(QColor(140, 40, 0), 1.5));
        p.drawLine(QPointF(8, 8), QPointF(14.5, 1.5));
    }
    return out;
}

QIcon state_icon(int image) { return QIcon(QPixmap::fromImage(state_image(image))); }

}  // namespace ringolan::window
