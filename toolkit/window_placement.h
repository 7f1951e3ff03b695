// Placing and sizing windows: "centre screen" as the toolkit places a window at start, beside the
// window another was opened from, and within the screen.
#pragma once

#include <QString>

class QSize;
class QWidget;

namespace quorvane::toolkit {

// Centres `window`, frame included, on the available area of its screen.
void centreOnScreen(QWidget& window);

// Centres `window` when it is first shown, and again when the window manager's frame around it
// becomes known (under X11 some time after the window is mapped; it is looked for during the
// first two seconds), so that the whole frame, title bar included, sits in the middle. Later
// showings leave the window where it is.
void centreOnFirstShow(QWidget& window);

// Places `window` before it is first shown a title bar's height below and right of `opener`, so
// that it does not hide it exactly, and wholly on the available area of the opener's screen.
void placeBeside(QWidget& window, const QWidget& opener);

// Gives `window` the size `wanted`, or less where the available area of its screen (the frame
// the window manager adds left out) is smaller.
void resizeWithinScreen(QWidget& window, const QSize& wanted);

// `title` as the title bar can show it beside its buttons: when too long, shortened in the
// middle, so that its start and its end stay. Measured with a larger bold face of the window's
// font, as window managers draw titles.
QString fittedTitle(const QWidget& window, const QString& title);

}  // namespace quorvane::toolkit
