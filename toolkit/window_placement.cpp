#include "toolkit/window_placement.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace quorvane::toolkit {

namespace {

bool hasFrame(const QWidget& window) {
    return window.frameGeometry().size() != window.size();
}

// Watches its window from the first showing until the frame it was centred with is the final
// one: a frame that turns up later (the window manager's) gets the window centred again.
class FirstShowCentring final : public QObject {
public:
    explicit FirstShowCentring(QWidget& window) : QObject(&window), window_(window) {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &window_) {
            return false;
        }
        if (event->type() == QEvent::Show && !shown_) {
            shown_ = true;
            centreUntilFramed(true);
        } else if (shown_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                              event->type() == QEvent::Paint)) {
            centreUntilFramed(false);
        }
        return false;
    }

private:
    // Without a frame yet (or ever: no window manager, offscreen) the watch goes on.
    void centreUntilFramed(bool firstShow) {
        const bool framed = hasFrame(window_);
        if (firstShow || framed) {
            centreOnScreen(window_);
        }
        if (framed) {
            window_.removeEventFilter(this);
            deleteLater();
        }
    }

    QWidget& window_;
    bool shown_ = false;
};

}  // namespace

void centreOnScreen(QWidget& window) {
    if (window.screen() == nullptr) {
        return;
    }
    QRect placed = window.frameGeometry();
    placed.moveCenter(window.screen()->availableGeometry().center());
    window.move(placed.topLeft());
}

void centreOnFirstShow(QWidget& window) {
    new FirstShowCentring(window);
}

}  // namespace quorvane::toolkit
