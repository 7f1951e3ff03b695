// The core's toolkit services on real Qt widgets: the event pump and the window's check boxes.
#pragma once

#include <QCheckBox>
#include <QCoreApplication>
#include <vector>

#include "toolkit/check_boxes.h"
#include "toolkit/event_pump.h"

class QWidget;

namespace quorvane::mainwindow {

class QtEventPump final : public toolkit::EventPump {
public:
    void processPendingEvents() override { QCoreApplication::processEvents(); }
};

// The check boxes Check1 .. CheckN of a window, found by name when the adapter is made. An
// assignment goes through QCheckBox::setCheckState, which signals only a change, so the click
// handling bound to that signal runs once per change and never for a repeated state.
class WindowCheckBoxes final : public toolkit::CheckBoxes {
public:
    WindowCheckBoxes(const QWidget& window, int count);

    int count() const override { return static_cast<int>(boxes_.size()); }
    int state(int number) const override;
    void assign(int number, int state) override;
    void setQuietly(int number, int state) override;

    QCheckBox* box(int number) const;

private:
    std::vector<QCheckBox*> boxes_;
};

}  // namespace quorvane::mainwindow
