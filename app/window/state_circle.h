// The 21 by 21 circle that shows the page server's state by its fill colour.
#pragma once

#include <QColor>
#include <QWidget>

namespace ringolan::window {

class StateCircle : public QWidget {
    Q_OBJECT
public:
    explicit StateCircle(QWidget* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_ = QColor(255, 0, 0);
};

}  // namespace ringolan::window
