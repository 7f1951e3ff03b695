#include "toolkit/window_placement.h"

#include <QBasicTimer>
#include <QEvent>
#include <QScreen>
#include <QWidget>

namespace quorvane::toolkit {

namespace {

// While the window manager reparents the window, the frame can read as smaller than the window.
bool hasFrame(const QWidget& window) {
    const QSize frame = window.frameGeometry().size();
    return frame != window.size() && frame.width() >= window.width() &&
           frame.height() >= window.height();
}

bool isCentred(const QWidget& window) {
    const QPoint offCentre =
        window.frameGeometry().center() - window.screen()->availableGeometry().center();
    return offCentre.manhattanLength() <= 1;
}

// Centres its window at the first showing, then looks again every few milliseconds: under X11
// the window manager's frame arrives some time after the window is mapped, with no event that
// reliably says so. Once the framed window stays centred, or when no frame comes at all (no
// window manager, offscreen), the watch ends.
class FirstShowCentring final : public QObject {
public:
    explicit FirstShowCentring(QWidget& window) : QObject(&window), window_(window) {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Show) {
            window_.removeEventFilter(this);
            centreOnScreen(window_);
            timer_.start(kLookInterval, this);
        }
        return false;
    }

    void timerEvent(QTimerEvent* /*event*/) override {
        ++looks_;
        if (window_.screen() != nullptr && hasFrame(window_)) {
            if (!isCentred(window_)) {
                centreOnScreen(window_);
                steadyLooks_ = 0;
            } else if (++steadyLooks_ >= kSteadyLooks) {
                finish();
                return;
            }
        } else if (looks_ == kNudgeLook) {
            // The toolkit may have read the frame before the window manager made it, and reads
            // it again only when the window is configured: a one-pixel move makes it do so.
            window_.move(window_.pos() + QPoint(0, 1));
        } else if (looks_ == kNudgeLook + 1) {
            centreOnScreen(window_);
        }
        if (looks_ >= kMostLooks) {
            finish();
        }
    }

private:
    static constexpr int kLookInterval = 20;  // milliseconds
    static constexpr int kSteadyLooks = 3;
    static constexpr int kNudgeLook = 5;
    static constexpr int kMostLooks = 100;

    void finish() {
        timer_.stop();
        deleteLater();
    }

    QWidget& window_;
    QBasicTimer timer_;
    int looks_ = 0;
    int steadyLooks_ = 0;
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
