#include "toolkit/window_placement.h"

#include <QScreen>
#include <QWidget>

namespace quorvane::toolkit {

void centreOnScreen(QWidget& window) {
    if (window.screen() == nullptr) {
        return;
    }
    QRect placed = window.frameGeometry();
    placed.moveCenter(window.screen()->availableGeometry().center());
    window.move(placed.topLeft());
}

}  // namespace quorvane::toolkit
