// Main windows on a fake Windows installation: opened from the File menu through a folder and a
// user chooser, each on its user's own hive, as an independent reader sees it.
#include "mainwindow/installation_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "platform/offline_registry.h"
#include "tests/support/contains.h"
#include "tests/support/empty_hive.h"
#include "tests/support/fake_installation.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/hive_readers.h"
#include "tests/support/qt/gui_test.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using mainwindow::frmRestrict;
using namespace Qt::StringLiterals;

struct InstallationRig {
    InstallationRig() : made(makeFakeInstallation(root())) {
        // bob's hive too: the installation has two users, and ann's restriction 4 is in force.
        const fs::path bob = root() / "users" / "bob" / "NTUSER.DAT";
        fs::create_directories(bob.parent_path());
        writeEmptyHive(bob, {.fileName = u"NTUSER.DAT"});
        platform::OfflineRegistry registry(
            {{made.software, "SOFTWARE"}, platform::OfflineHive{made.ann, "ann"}, dir.path()});
        put(registry, platform::kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1));
    }
    ~InstallationRig() {
        for (QWidget* window : windows()) {
            window->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    fs::path root() const { return dir.path() / "disk"; }
    QString rootText() const { return QString::fromStdString(fs::canonical(root()).string()); }

    static std::vector<frmRestrict*> windows() { return shownWindows<frmRestrict>(); }

    TempDir dir;
    FakeInstallation made;
    ScopedEnvironment state{"XDG_STATE_HOME", (dir.path() / "state").string()};
    RecordingMessageBox messages;
    QString folderChosen;
    QString userChosen;
    QStringList usersOffered;
    mainwindow::WindowServices services{
        messages,
        {},
        QString::fromStdString(dir.path().string()),
        [](const QUrl&) {},
        10,
        {[this](QWidget*) { return folderChosen; },
         [this](QWidget*, const QString&, const QStringList& users) {
             usersOffered = users;
             return userChosen;
         }}};
};

// No window when the user chooser is cancelled or the folder holds no installation. A window
// opened from another opens beside it with a title its bar shows whole, and closing it leaves
// the program and the other window running.
TEST(InstallationWindow, OpensFromTheFileMenuOnTheChosenUserAndChangesHerHive) {
    InstallationRig rig;
    rig.userChosen = QString();
    EXPECT_EQ(mainwindow::openInstallationWindow(rig.rootText(), {}, rig.services), nullptr);
    EXPECT_TRUE(rig.messages.shown.empty()) << "cancelled: nothing to say";

    EXPECT_EQ(mainwindow::openInstallationWindow(rig.rootText(), u"carol"_s, rig.services),
              nullptr);
    EXPECT_EQ(mainwindow::openInstallationWindow(QString::fromStdString(rig.dir.path().string()),
                                                 {}, rig.services),
              nullptr);
    ASSERT_EQ(rig.messages.shown.size(), 2u);
    EXPECT_TRUE(contains(rig.messages.shown[0].text, "has no user 'carol'"));
    EXPECT_EQ(rig.messages.shown[1].text, "No Windows installation in " +
                                              fs::canonical(rig.dir.path()).string() +
                                              ": Windows/System32/config/SOFTWARE is not there.");
    ASSERT_TRUE(InstallationRig::windows().empty());

    frmRestrict* first = mainwindow::openInstallationWindow(rig.rootText(), u"bob"_s, rig.services);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), u"Quorvane - bob on disk"_s);
    EXPECT_EQ(child<QLabel>(*first, "lblPlace").text(),
              u"Windows installation in "_s + rig.rootText());
    EXPECT_FALSE(child<QCheckBox>(*first, "Check4").isChecked());

    rig.folderChosen = rig.rootText();
    rig.userChosen = u"Ann"_s;
    chooseFromMenu(*first, "mnuFile", "mnuOpenWindows");
    ASSERT_TRUE(eventually([&] { return InstallationRig::windows().size() == 2; }))
        << rig.messages.shown.size();
    EXPECT_EQ(rig.usersOffered, (QStringList{u"Ann"_s, u"bob"_s, u"default"_s}));
    frmRestrict& ann = *InstallationRig::windows()[InstallationRig::windows()[0] == first];
    EXPECT_EQ(ann.windowTitle(), u"Quorvane - Ann on disk"_s);
    EXPECT_NE(ann.pos(), first->pos());
    EXPECT_TRUE(ann.screen()->availableGeometry().contains(ann.frameGeometry()));
    auto& box = child<QCheckBox>(ann, "Check4");
    ASSERT_TRUE(box.isChecked()) << "ann's own hive";

    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(6, box.height() / 2));
    EXPECT_FALSE(box.isChecked());
    const std::string tree = regtreeListing(rig.made.ann);  // "" when the hive cannot be read
    EXPECT_TRUE(contains(tree, "Restrictions") && !contains(tree, "NoBrowserClose")) << tree;
    EXPECT_EQ(rig.messages.shown.size(), 2u) << "no more than before";

    QTimer::singleShot(0, &ann, [&ann] { ann.close(); });
    QTimer::singleShot(500, first, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 7) << "closing it ended the program";
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(InstallationRig::windows().size(), 1u);
}

}  // namespace
}  // namespace quorvane::testing
