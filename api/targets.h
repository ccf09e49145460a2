// A shooter's targets as est.php lists them, with the shots sb.php draws.
#pragma once

#include <cstdint>

#include "api/json_values.h"

namespace ringolan::api {

struct HitPosition {
    double x, y;  // millimetres from the centre, y pointing up, unrounded
};

// sb.php's hit position without its pixel scale, in millimetres: t counts 1/10000 mm (sb.php's
// distance t/100 is in hundredths of a millimetre, the Teiler est.php shows), w is the
// direction from the top in 1/32768 turns, with the page's constants.
HitPosition hit_position_mm(double t, double w);

// [{"id", "discipline", "face", "ring", "teiler", "shots", "mean"}] in est.php's order.
Json shooter_targets(const db::Snapshot& snapshot, int64_t startnr);

}  // namespace ringolan::api
