#include "toolkit/form_controls.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace quorvane::toolkit {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr double kFallbackDotsPerInch = 96.0;

}  // namespace

TwipsScale::TwipsScale(const QWidget& window)
    : dotsPerInch_(window.screen() != nullptr ? window.screen()->logicalDotsPerInch()
                                              : kFallbackDotsPerInch) {}

QRect TwipsScale::rect(int left, int top, int width, int height) const {
    const auto pixels = [this](int twips) { return qRound(twips * dotsPerInch_ / kTwipsPerInch); };
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}

QLabel* label(QWidget* parent, const char* name, const char* caption, const QRect& geometry) {
    auto* widget = control<QLabel>(parent, name, geometry);
    widget->setText(QString::fromLatin1(caption));
    return widget;
}

void pressFocusedButtonOnReturn(QWidget& window) {
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        // A button that may be the default one takes Return while it has the focus.
        button->setAutoDefault(true);
    }
}

QFrame* frame(QWidget* parent, const char* name, const QRect& geometry) {
    auto* widget = control<QFrame>(parent, name, geometry);
    widget->setFrameStyle(QFrame::Box | QFrame::Sunken);
    return widget;
}

}  // namespace quorvane::toolkit
