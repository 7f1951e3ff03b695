// The text the windows' layouts were made for: 8.25-point "MS Sans Serif". Where that font is
// missing, a sans serif of the same widths stands in (Arial's metrics, as Liberation Sans has
// them); a wider one would cut the captions off.
#pragma once

#include <QFont>

namespace quorvane::toolkit {

QFont classicFont();

}  // namespace quorvane::toolkit
