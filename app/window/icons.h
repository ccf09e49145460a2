// The program's 16 by 16 pictures of the page server's state, drawn at run time.
#pragma once

#include <QIcon>
#include <QImage>

namespace ringolan::window {

// Indexes of the state icons, and the picture shown before the first start.
enum IconImage : int {
    kIconStopped = 0,
    kIconRunning = 1,
    kIconActivity = 2,
    kIconDesign = -1,  // never started
};

// A target face: rings in the state's colour; the activity picture adds a bright centre
// and a spark so it is told apart at a glance even in grey.
QImage state_image(int image);
QIcon state_icon(int image);

}  // namespace ringolan::window
