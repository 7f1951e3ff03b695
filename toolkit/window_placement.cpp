#include "toolkit/window_placement.h"

#include <QBasicTimer>
#include <QEvent>
#include <QFontMetrics>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

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

void placeBeside(QWidget& window, const QWidget& opener) {
    if (opener.screen() == nullptr) {
        return;
    }
    const QRect area = opener.screen()->availableGeometry();
    const int step = opener.geometry().top() - opener.frameGeometry().top() +
                     opener.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    // The new window's frame is not there yet: it will be as wide as the opener's.
    const QSize framed = window.size() + opener.frameGeometry().size() - opener.size();
    QRect placed(opener.frameGeometry().topLeft() + QPoint(step, step), framed);
    placed.moveRight(std::min(placed.right(), area.right()));
    placed.moveBottom(std::min(placed.bottom(), area.bottom()));
    placed.moveLeft(std::max(placed.left(), area.left()));
    placed.moveTop(std::max(placed.top(), area.top()));
    window.move(placed.topLeft());
}

void resizeWithinScreen(QWidget& window, const QSize& wanted) {
    if (window.screen() == nullptr) {
        window.resize(wanted);
        return;
    }
    // Before the first showing the frame is unknown: a title bar and borders of the style's size.
    const int titleBar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int border = 2 * window.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const QSize area =
        window.screen()->availableGeometry().size() - QSize(border, titleBar + border);
    window.resize(wanted.boundedTo(area));
}

QString fittedTitle(const QWidget& window, const QString& title) {
    // Window managers draw titles larger than the text of windows.
    QFont bold = window.font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    // Room for the title bar's icon and three buttons, each about a title bar's height wide.
    const int buttons = 4 * window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return QFontMetrics(bold).elidedText(title, Qt::ElideMiddle,
                                         std::max(1, window.width() - buttons));
}

}  // namespace quorvane::toolkit
