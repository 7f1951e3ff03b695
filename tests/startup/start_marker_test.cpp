// The start-up path of the program as main() runs it: an instance started again after writing
// the manifest reads the restart marker before dropping it, so it shows its window rather than
// starting yet another instance, whatever it finds beside the executable.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "startup/quorvane_start.h"
#include "startup/xp_manif.h"
#include "tests/support/temp_dir.h"
#include "toolkit/file_path.h"

namespace quorvane::startup {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;

constexpr const char* kChildSign = "QUORVANE_START_TEST_CHILD";

// An instance this test's program starts of itself (only when the marker is lost) ends at once,
// leaving a sign that it was started, and runs no test.
const bool kStartedAsChild = [] {
    if (const char* sign = std::getenv(kChildSign)) {
        if (std::FILE* file = std::fopen(sign, "w")) {  // the test may be over already
            std::fclose(file);
        }
        std::_Exit(0);
    }
    return false;
}();

TEST(StartUp, RestartedInstanceThatWritesTheManifestShowsItsWindow) {
    const testing::TempDir dir;
    fs::create_directories(dir.path() / "registry");
    testing::copyFixtureHives(dir.path() / "registry");
    testing::writeFile(dir.path() / "quorvane.ini",
                       "[Registry]\nDirectory=" + (dir.path() / "registry").string() + "\n");
    const fs::path childSign = dir.path() / "child-started";
    const ScopedEnvironment config("QUORVANE_CONFIG", (dir.path() / "quorvane.ini").string());
    const ScopedEnvironment data("XDG_DATA_HOME", dir.path().string());
    const ScopedEnvironment state("XDG_STATE_HOME", dir.path().string());
    const ScopedEnvironment child(kChildSign, childSign.string());
    const ScopedEnvironment restarted(kRestartedMarker, "1");
    const fs::path manifest =
        manifestPath(toolkit::toFilePath(QCoreApplication::applicationDirPath()),
                     baseNameOf(toolkit::toFilePath(QCoreApplication::applicationFilePath())));
    fs::remove(manifest);

    bool windowShown = false;
    int ticks = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            windowShown = windowShown || (widget->objectName() == QStringLiteral("frmRestrict") &&
                                          widget->isVisible());
        }
        if (windowShown || ++ticks == 200) {
            QApplication::quit();
        }
    });
    poll.start(50);
    const int status = runQuorvane(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    poll.stop();

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(windowShown);
    EXPECT_TRUE(fs::exists(manifest));
    EXPECT_FALSE(fs::exists(childSign));
    // Programs it starts later do not inherit the marker.
    EXPECT_FALSE(qEnvironmentVariableIsSet(kRestartedMarker));
    fs::remove(manifest);
}

}  // namespace
}  // namespace quorvane::startup
