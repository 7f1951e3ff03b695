// The faces the windows use, whatever fonts the system has: run by ctest once with the system's
// fonts and once with only the DejaVu fonts.
#include "toolkit/classic_font.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QStringList>

namespace quorvane::toolkit {
namespace {

using namespace Qt::StringLiterals;

TEST(ClassicFontTest, StandsInWithASansSerifAndAFixedPitchFace) {
    const QFontInfo classic(classicFont());
    const QStringList sansSerifs = {u"Arial"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s};
    EXPECT_TRUE(sansSerifs.contains(classic.family())) << classic.family().toStdString();
    EXPECT_FALSE(classic.fixedPitch());

    const QFontInfo fixed(fixedPitchFont());
    EXPECT_TRUE(fixed.fixedPitch()) << fixed.family().toStdString();
    EXPECT_FALSE(fixed.family().contains(QStringLiteral("Math"))) << fixed.family().toStdString();
}

}  // namespace
}  // namespace quorvane::toolkit
