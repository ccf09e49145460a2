// Ring numbers drawn as strokes, so that the pictures do not depend on installed fonts.
#pragma once

#include <QPainterPath>
#include <QRectF>

namespace ringolan::pictures {

// Outline of the digit 1 to 9 as an open path filling box (to be stroked, not filled);
// throws std::out_of_range for other digits.
QPainterPath digit_path(int digit, const QRectF& box);

}  // namespace ringolan::pictures
