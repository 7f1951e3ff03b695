#include "toolkit/classic_font.h"

#include <QFontInfo>
#include <QStringList>

namespace quorvane::toolkit {

namespace {

constexpr double kClassicPoints = 8.25;
// The stand-ins run about a tenth wider than MS Sans Serif's own faces; at this size the
// captions keep within the boxes the layout gives them.
constexpr double kStandInPoints = 7.5;

}  // namespace

QFont classicFont() {
    static const bool substituted = [] {
        QFont::insertSubstitutions(
            QStringLiteral("MS Sans Serif"),
            QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
        return true;
    }();
    (void)substituted;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kClassicPoints);
    if (QFontInfo(font).family() != font.family()) {
        font.setPointSizeF(kStandInPoints);
    }
    return font;
}

}  // namespace quorvane::toolkit
