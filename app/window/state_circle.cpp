#include "app/window/state_circle.h"

#include <QPainter>

namespace ringolan::window {

StateCircle::StateCircle(QWidget* parent) : QWidget(parent) { setFixedSize(21, 21); }

void StateCircle::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

void StateCircle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(color_);
    p.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}

}  // namespace ringolan::window
