// Drawing of the target faces and the start picture.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPointF>

#include "tools/pictures/face_geometry.h"

namespace ringolan::pictures {

// Background of every page (body bgcolor).
inline const QColor kPageBackground{0xF7, 0xEB, 0xD6};
// Width of a ring line in pixels.
inline constexpr double kRingLine = 2.0;

// Paints the face centred on centre at kx / ky pixels per millimetre, ring lines line pixels wide: white area, black aiming
// mark, ring lines (black on white, white on black; none on the edge of the aiming mark), the
// ten or inner ten, numbers 1 to 8 on the horizontal and vertical axes.
void paint_face(QPainter& painter, Face face, QPointF centre, double kx, double ky, double line = kRingLine);

// The face picture of the target picture page: its size, centre and scales from face_geometry,
// on the page background.
QImage draw_face(Face face);

// Paints a pellet hole of the given diameter centred on centre.
void paint_hole(QPainter& painter, QPointF centre, double diameter);

// The start picture: an air rifle face with a group of shots, size x size pixels.
QImage draw_start_picture(int size);

}  // namespace ringolan::pictures
