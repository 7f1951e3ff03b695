#include "mainwindow/qt_toolkit.h"

#include <QSignalBlocker>
#include <QWidget>
#include <stdexcept>
#include <string>

namespace quorvane::mainwindow {

// The toolkit numbers the states 0 unchecked, 1 checked, 2 dimmed; Qt has checked and
// partially checked the other way round.
namespace {

int toolkitState(Qt::CheckState state) {
    switch (state) {
        case Qt::Checked:
            return toolkit::kChecked;
        case Qt::PartiallyChecked:
            return toolkit::kDimmed;
        case Qt::Unchecked:
            break;
    }
    return toolkit::kUnchecked;
}

Qt::CheckState qtState(int state) {
    switch (state) {
        case toolkit::kChecked:
            return Qt::Checked;
        case toolkit::kDimmed:
            return Qt::PartiallyChecked;
        default:
            return Qt::Unchecked;
    }
}

}  // namespace

WindowCheckBoxes::WindowCheckBoxes(const QWidget& window, int count) {
    for (int number = 1; number <= count; ++number) {
        const QString name = QStringLiteral("Check%1").arg(number);
        auto* box = window.findChild<QCheckBox*>(name);
        if (box == nullptr) {
            throw std::logic_error("the window has no check box " + name.toStdString());
        }
        boxes_.push_back(box);
    }
}

QCheckBox* WindowCheckBoxes::box(int number) const {
    return number >= 1 && number <= count() ? boxes_[static_cast<std::size_t>(number - 1)]
                                            : nullptr;
}

int WindowCheckBoxes::state(int number) const {
    const QCheckBox* found = box(number);
    return found != nullptr ? toolkitState(found->checkState()) : toolkit::kUnchecked;
}

void WindowCheckBoxes::assign(int number, int state) {
    if (QCheckBox* found = box(number)) {
        found->setCheckState(qtState(state));
    }
}

void WindowCheckBoxes::setQuietly(int number, int state) {
    if (QCheckBox* found = box(number)) {
        const QSignalBlocker quiet(found);
        found->setCheckState(qtState(state));
    }
}

}  // namespace quorvane::mainwindow
