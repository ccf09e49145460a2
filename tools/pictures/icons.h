// Markers of the target picture page and the small link icons.
#pragma once

#include <QImage>

namespace ringolan::pictures {

// A pellet hole filling a size x size picture, transparent around.
QImage draw_hit_marker(int size);
// The mean-point cross, size x size, transparent around, its centre at the picture's centre.
QImage draw_mean_cross(int size);
// A small target (transparent around), a result list sheet and a printer, size x size.
QImage draw_target_icon(int size);
QImage draw_list_icon(int size);
QImage draw_printer_icon(int size);

}  // namespace ringolan::pictures
