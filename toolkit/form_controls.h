// Controls placed as a window's design gives them: rectangles in twips (1/1440 inch) relative to
// the container's client area, turned into pixels at the screen's logical resolution.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QFrame;
class QLabel;

namespace quorvane::toolkit {

class TwipsScale {
public:
    // At the logical resolution of `window`'s screen; 96 dots per inch (15 twips a pixel)
    // while it has none.
    explicit TwipsScale(const QWidget& window);

    QRect rect(int left, int top, int width, int height) const;

private:
    double dotsPerInch_;
};

template <typename Widget>
Widget* control(QWidget* parent, const char* name, const QRect& geometry) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const char* caption, const QRect& geometry);

// Return and Enter press the push button of `window` that has the focus, as on Windows; Qt does
// so by itself only in dialogs.
void pressFocusedButtonOnReturn(QWidget& window);

// A frame without caption: an etched rectangle along the edges of `geometry` (a group box would
// leave room for a title above it and draw its top edge lower).
QFrame* frame(QWidget* parent, const char* name, const QRect& geometry);

}  // namespace quorvane::toolkit
