// Placing a window as the toolkit places a window whose start-up position is "centre screen".
#pragma once

class QWidget;

namespace quorvane::toolkit {

// Centres `window`, frame included, on the available area of its screen.
void centreOnScreen(QWidget& window);

}  // namespace quorvane::toolkit
