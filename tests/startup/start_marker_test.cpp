// The start-up path of the program as main() runs it: an instance started again after writing
// the manifest reads the restart marker before dropping it, so it shows its window rather than
// starting yet another instance, whatever it finds beside the executable; and it ends after
// saying so when its registry cannot be opened.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
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

// An instance started again, its settings naming `registry` below `dir` as the registry.
struct Restarted {
    explicit Restarted(const fs::path& dir)
        : config("QUORVANE_CONFIG", (dir / "quorvane.ini").string()),
          data("XDG_DATA_HOME", dir.string()),
          state("XDG_STATE_HOME", dir.string()),
          childSign(dir / "child-started"),
          child(kChildSign, childSign.string()) {
        testing::writeFile(dir / "quorvane.ini",
                           "[Registry]\nDirectory=" + (dir / "registry").string() + "\n");
        fs::remove(manifest);
    }
    ~Restarted() { fs::remove(manifest); }
    ScopedEnvironment config, data, state;
    const fs::path childSign;  // left by an instance this one starts of itself
    ScopedEnvironment child, restarted{kRestartedMarker, "1"};
    const fs::path manifest =
        manifestPath(toolkit::toFilePath(QCoreApplication::applicationDirPath()),
                     baseNameOf(toolkit::toFilePath(QCoreApplication::applicationFilePath())));
};

TEST(StartUp, RestartedInstanceThatWritesTheManifestShowsItsWindow) {
    const testing::TempDir dir;
    fs::create_directories(dir.path() / "registry");
    testing::copyFixtureHives(dir.path() / "registry");
    const Restarted started(dir.path());

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
    EXPECT_TRUE(fs::exists(started.manifest));
    EXPECT_FALSE(fs::exists(started.childSign));
    // Programs it starts later do not inherit the marker.
    EXPECT_FALSE(qEnvironmentVariableIsSet(kRestartedMarker));
}

// A registry that cannot be opened is told in a box, and the program ends there, with status 2.
TEST(StartUp, ARegistryThatCannotBeOpenedIsToldAndEndsTheProgram) {
    const testing::TempDir dir;
    testing::writeFile(dir.path() / "registry", "a file, not a folder");
    const Restarted started(dir.path());
    QString told;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    poll.start(50);
    const int status = runQuorvane(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(told.contains(QStringLiteral("registry cannot be opened: not a directory")))
        << told.toStdString();
}

}  // namespace
}  // namespace quorvane::startup
