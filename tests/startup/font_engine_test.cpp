// The font engine chosen before the window's application is made.
#include <gtest/gtest.h>

#include <QString>

#include "startup/quorvane_start.h"
#include "tests/support/temp_dir.h"

namespace quorvane::startup {
namespace {

// The Windows build's tests run under Wine, so there the FreeType engine is chosen; natively
// nothing is. A platform already named is never replaced.
TEST(FontEngineTest, FreeTypeUnderWineUnlessAPlatformIsNamed) {
    {
        const testing::ScopedEnvironment none("QT_QPA_PLATFORM", "");
        chooseFontEngine();
#ifdef _WIN32
        EXPECT_EQ(qEnvironmentVariable("QT_QPA_PLATFORM").toStdString(),
                  "windows:fontengine=freetype");
#else
        EXPECT_TRUE(qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
#endif
    }
    const testing::ScopedEnvironment named("QT_QPA_PLATFORM", "offscreen");
    chooseFontEngine();
    EXPECT_EQ(qEnvironmentVariable("QT_QPA_PLATFORM").toStdString(), "offscreen");
}

}  // namespace
}  // namespace quorvane::startup
