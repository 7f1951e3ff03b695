// What the window tests share: controls found by their names, and waiting with a live event
// loop.
#pragma once

#include <QDeadlineTimer>
#include <QTest>
#include <QWidget>
#include <chrono>
#include <stdexcept>
#include <string>

namespace quorvane::testing {

template <typename Control = QWidget>
Control& child(const QObject& window, const char* name) {
    auto* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control named ") + name);
    }
    return *found;
}

// Runs the event loop until `condition` holds; false when `timeout` passes first.
template <typename Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// The name of the window's control that has the focus, rather than of a part inside it (the
// line edit of a combo box).
inline std::string focusedControl(const QWidget& window) {
    const QWidget* widget = window.focusWidget();
    while (widget != nullptr && (widget->objectName().isEmpty() ||
                                 widget->objectName().startsWith(QLatin1String("qt_")))) {
        widget = widget->parentWidget();
    }
    return widget != nullptr ? widget->objectName().toStdString() : std::string();
}

}  // namespace quorvane::testing
