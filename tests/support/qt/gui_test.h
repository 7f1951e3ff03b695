// What the window tests share: controls found by their names, and waiting with a live event
// loop.
#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWidget>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

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

// Opens the menu `menu` of the window's menu bar and clicks its `item`, as the user does.
inline void chooseFromMenu(QMainWindow& window, const char* menu, const char* item) {
    auto& opened = child<QMenu>(window, menu);
    QTest::mouseClick(window.menuBar(), Qt::LeftButton, {},
                      window.menuBar()->actionGeometry(opened.menuAction()).center());
    if (!eventually([&] { return opened.isVisible(); })) {
        throw std::runtime_error(std::string("the menu ") + menu + " does not open");
    }
    QTest::mouseClick(&opened, Qt::LeftButton, {},
                      opened.actionGeometry(&child<QAction>(window, item)).center());
}

// The top-level windows of type `Window` that are shown, of those named `name` when one is given.
template <typename Window = QWidget>
std::vector<Window*> shownWindows(const char* name = nullptr) {
    std::vector<Window*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<Window*>(widget);
        if (window != nullptr && window->isVisible() &&
            (name == nullptr || window->objectName() == QLatin1String(name))) {
            found.push_back(window);
        }
    }
    return found;
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
