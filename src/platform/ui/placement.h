// Centring windows on the screen, frame included.
#pragma once

class QWidget;

namespace vellumo {

// Moves window so that its outer frame is centred on the available area of
// its screen. Before the window manager has framed it, the frame of another
// framed window of the program stands in for its own.
void centreOnScreen(QWidget* window);

// Centres window on every showing, the first one included: when the frame
// the window manager finally draws differs from the one assumed, the window
// is centred once more.
void centreWhenShown(QWidget* window);

} // namespace vellumo
