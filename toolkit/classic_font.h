// The text the windows' layouts were made for: 8.25-point "MS Sans Serif". Where that font is
// missing, a sans serif stands in (Arial's widths first, as Liberation Sans has them, then DejaVu
// Sans), at the largest size at which the window's captions still fit.
#pragma once

#include <QFont>

class QWidget;

namespace quorvane::toolkit {

// The face at 8.25 points.
QFont classicFont();

// A fixed-pitch face at the system's size for fixed-pitch text: the system's own, else Liberation
// Mono, DejaVu Sans Mono or Courier New, whichever is there.
QFont fixedPitchFont();

// Gives `window` the classic face at the largest size, not above 8.25 points, at which every
// caption of the window fits its control, measured with the face that stands in; then makes each
// check box at least as tall as its indicator and caption, growing it about its middle line.
// Returns the font chosen.
QFont fitClassicFont(QWidget& window);

}  // namespace quorvane::toolkit
