// Placing a window as the toolkit places a window whose start-up position is "centre screen".
#pragma once

class QWidget;

namespace quorvane::toolkit {

// Centres `window`, frame included, on the available area of its screen.
void centreOnScreen(QWidget& window);

// Centres `window` when it is first shown, and again when the window manager's frame around it
// becomes known (under X11 some time after the window is mapped; it is looked for during the
// first two seconds), so that the whole frame, title bar included, sits in the middle. Later
// showings leave the window where it is.
void centreOnFirstShow(QWidget& window);

}  // namespace quorvane::toolkit
