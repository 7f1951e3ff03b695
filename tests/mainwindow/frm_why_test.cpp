// "Why do Restrictions come back?" in the window: reached from the File menu and from the help
// page's link, by real clicks; the report is read-only, selectable and copied whole.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <filesystem>
#include <memory>

#include "mainwindow/frm_restrict.h"
#include "tests/mailer/tell_a_friend_rig.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::mainwindow {
namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct WhyRig {
    WhyRig() {
        testing::makeBaselineKeys(target->registry());
        testing::put(target->registry(), platform::kCurrentUser, kRunKey, "Relock",
                     testing::sz("reg add HKCU\\Software\\Policies\\Microsoft\\Internet "
                                 "Explorer\\Restrictions /v NoBrowserClose /d 1 /f"));
        std::filesystem::copy_file(QUORVANE_HELP_FILE, directory.path() / "Help.htm");
        diagnosis::Places places;
        places.description = "the test's registry";
        places.missing = "no folders in this test";
        window = std::make_unique<frmRestrict>(
            frmRestrict::Dependencies{target->registry(),
                                      messages,
                                      {},
                                      QString::fromStdString(directory.path().string()),
                                      [](const QUrl&) {},
                                      10,
                                      places});
        window->load();
    }

    QWidget* report() const { return window->findChild<QWidget*>("frmWhy"); }

    testing::TempDir directory;
    std::unique_ptr<testing::RegistryTarget> target = testing::makeRegistryTarget();
    testing::RecordingMessageBox messages;
    std::unique_ptr<frmRestrict> window;
};

TEST(FrmWhy, FileMenuItemShowsTheReportReadOnlyAndCopiesIt) {
    WhyRig rig;
    auto& file = testing::child<QMenu>(*rig.window, "mnuFile");
    QTest::mouseClick(rig.window->menuBar(), Qt::LeftButton, {},
                      rig.window->menuBar()->actionGeometry(file.menuAction()).center());
    ASSERT_TRUE(testing::eventually([&] { return file.isVisible(); }));
    QAction* mnuWhy = rig.window->findChild<QAction*>("mnuWhy");
    QTest::mouseClick(&file, Qt::LeftButton, {}, file.actionGeometry(mnuWhy).center());

    ASSERT_TRUE(testing::eventually([&] { return rig.report() && rig.report()->isVisible(); }));
    auto& text = testing::child<QPlainTextEdit>(*rig.report(), "txtReport");
    const QString report = text.toPlainText();
    EXPECT_TRUE(report.contains("Relock")) << report.toStdString();
    EXPECT_TRUE(report.contains("sets 4 Closing Internet Explorer (NoBrowserClose)"))
        << report.toStdString();
    EXPECT_TRUE(text.isReadOnly());
    EXPECT_TRUE(text.textInteractionFlags() & Qt::TextSelectableByMouse);

    // Typing into the report changes nothing.
    QTest::keyClicks(&text, "typed");
    EXPECT_EQ(text.toPlainText(), report);

    QApplication::clipboard()->clear();
    QTest::mouseClick(&testing::child<QPushButton>(*rig.report(), "cmdCopy"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), report);
}

// Where the help page shows its link to the report, in the viewport's coordinates.
QPoint linkPosition(QTextBrowser& browser) {
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().anchorHref() == QString::fromLatin1(kWhyLink)) {
                QTextCursor cursor(browser.document());
                cursor.setPosition(fragment.position() + 1);
                browser.setTextCursor(cursor);
                browser.ensureCursorVisible();
                return browser.cursorRect(cursor).center();
            }
        }
    }
    return {-1, -1};
}

TEST(FrmWhy, HelpPageLinkOpensTheReport) {
    WhyRig rig;
    testing::child<QTabWidget>(*rig.window, "SSTab1").setCurrentIndex(3);
    auto& browser = testing::child<QTextBrowser>(*rig.window, "WebBrowser1");
    const QPoint link = linkPosition(browser);
    ASSERT_NE(link, QPoint(-1, -1)) << "Help.htm has no link to the report";
    ASSERT_EQ(rig.report(), nullptr);

    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, link);

    ASSERT_TRUE(testing::eventually([&] { return rig.report() && rig.report()->isVisible(); }));
    EXPECT_TRUE(testing::child<QPlainTextEdit>(*rig.report(), "txtReport")
                    .toPlainText()
                    .contains("NoBrowserClose"));
}

}  // namespace
}  // namespace quorvane::mainwindow
