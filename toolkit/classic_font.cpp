#include "toolkit/classic_font.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QTabBar>
#include <algorithm>

namespace quorvane::toolkit {

namespace {

constexpr double kClassicPoints = 8.25;
// Sizes are tried a quarter point apart down to this one, which is used even if a caption
// still does not fit: smaller text would be harder to read than a cut one.
constexpr double kSmallestPoints = 6.0;
constexpr double kPointStep = 0.25;

bool labelFits(const QLabel& label) {
    if (label.text().isEmpty()) {
        return true;  // a picture
    }
    if (label.wordWrap()) {
        return label.heightForWidth(label.width()) <= label.height();
    }
    const QSize needed = label.sizeHint();
    return needed.width() <= label.width() && needed.height() <= label.height();
}

// A push button's size hint has a minimum width of its own; only the caption counts here.
bool buttonFits(const QPushButton& button) {
    const QStyle& style = *button.style();
    const int margins = 2 * (style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
                             style.pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button));
    QString caption = button.text();
    caption.remove(u'&');
    return button.fontMetrics().horizontalAdvance(caption) + margins <= button.width();
}

bool captionFits(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        return labelFits(*label);
    }
    if (const auto* box = qobject_cast<const QCheckBox*>(&control)) {
        return box->sizeHint().width() <= box->width();
    }
    if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
        return buttonFits(*button);
    }
    if (const auto* tabs = qobject_cast<const QTabBar*>(&control)) {
        return tabs->parentWidget() == nullptr ||
               tabs->sizeHint().width() <= tabs->parentWidget()->width();
    }
    return true;
}

bool everyCaptionFits(const QWidget& window) {
    const QList<QWidget*> controls = window.findChildren<QWidget*>();
    return std::all_of(controls.begin(), controls.end(),
                       [](const QWidget* control) { return captionFits(*control); });
}

void makeCheckBoxesWhole(const QWidget& window) {
    for (QCheckBox* box : window.findChildren<QCheckBox*>()) {
        const int needed = box->sizeHint().height();
        if (box->height() < needed) {
            QRect grown = box->geometry();
            grown.setTop(grown.top() - (needed - grown.height()) / 2);
            grown.setHeight(needed);
            box->setGeometry(grown);
        }
    }
}

}  // namespace

QFont classicFont() {
    // Arial's widths first, as Liberation Sans has them; then DejaVu Sans, which many systems
    // have alone: left to itself, the font matching could end on any face, a serif or a math
    // face among them.
    static const bool substituted = [] {
        QFont::insertSubstitutions(
            QStringLiteral("MS Sans Serif"),
            QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("DejaVu Sans")});
        return true;
    }();
    (void)substituted;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kClassicPoints);
    return font;
}

QFont fixedPitchFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // The system's own face where it names a real one; a name such as "monospace" is only an
    // alias, which not every font set resolves.
    font.setFamilies({font.family(), QStringLiteral("Liberation Mono"),
                      QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Courier New")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

QFont fitClassicFont(QWidget& window) {
    QFont font = classicFont();
    for (double points = kClassicPoints; points >= kSmallestPoints; points -= kPointStep) {
        font.setPointSizeF(points);
        window.setFont(font);
        if (everyCaptionFits(window)) {
            break;
        }
    }
    makeCheckBoxesWhole(window);
    return window.font();
}

}  // namespace quorvane::toolkit
