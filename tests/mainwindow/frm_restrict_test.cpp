// The main window on the offscreen platform, driven through its controls' names and real clicks,
// on a fresh hive store; message boxes are recorded and web addresses collected.
#include "mainwindow/frm_restrict.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "journal/undo_journal.h"
#include "restrictions/catalogue.h"
#include "tests/support/contains.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/qt/gui_test.h"
#include "tests/support/recording_registry.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "toolkit/form_controls.h"

namespace quorvane::mainwindow {
namespace {

using namespace Qt::StringLiterals;
using platform::kCurrentUser;
using platform::kLocalMachine;
using testing::dword;
using testing::kRestrictionsKey;
using testing::stored;

// One main window on its own registry, with everything it shows or opens recorded.
struct Rig {
    Rig() { testing::makeBaselineKeys(registry()); }

    void open() {
        toolkit::Configuration configuration;
        configuration.makerHost = "maker.test";
        const auto openUrl = [this](const QUrl& address) { opened.push_back(address.toString()); };
        const QString folder = QString::fromStdString(directory.path().string());
        window = std::make_unique<frmRestrict>(frmRestrict::Dependencies{
            recorder, messages, configuration, folder, openUrl, 10, {}, undo});
        window->load();
    }

    platform::RegistryApi& registry() { return target->registry(); }

    template <typename Control = QWidget>
    Control& get(const char* name) const {
        return testing::child<Control>(*window, name);
    }
    void chooseFromFileMenu(const char* item) const {
        testing::chooseFromMenu(*window, "mnuFile", item);
    }

    // The "Why do Restrictions come back?" report, once shown.
    QTextEdit* report() const {
        auto* why = window->findChild<QWidget*>(u"frmWhy"_s);
        return why != nullptr && why->isVisible() ? why->findChild<QTextEdit*>(u"txtReport"_s)
                                                  : nullptr;
    }

    void showTab(int index) const { get<QTabWidget>("SSTab1").setCurrentIndex(index); }

    testing::TempDir directory;
    std::unique_ptr<testing::RegistryTarget> target = testing::makeRegistryTarget();
    testing::RecordingRegistry recorder{target->registry()};  // what the window works on
    testing::RecordingMessageBox messages;
    std::vector<QString> opened;
    std::optional<journal::JournalPlace> undo;
    std::unique_ptr<frmRestrict> window;
};

// Where `widget` lies in `container`'s coordinates.
QRect placed(const QWidget& widget, const QWidget& container) {
    return {widget.mapTo(&container, QPoint(0, 0)), widget.size()};
}

void clickBox(QCheckBox& box) {
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(6, box.height() / 2));
}

// A pointer move at `at` in `over`, delivered to whatever control the window has there.
void movePointer(const QWidget& window, const QWidget& over, QPoint at) {
    const QPoint inWindow = over.mapTo(&window, at);
    QWidget* target = window.childAt(inWindow);
    ASSERT_NE(target, nullptr);
    const QPoint local = target->mapFrom(&window, inWindow);
    QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

// The control that the Tab key moves to from `from`, whichever tab is selected.
QWidget* nextTabStop(const QWidget& from) {
    QWidget* next = from.nextInFocusChain();
    while (next != &from && (next->focusPolicy() & Qt::TabFocus) == 0) {
        next = next->nextInFocusChain();
    }
    return next;
}

// A caption wider than its control, or a wrapped text taller than its label.
bool captionCut(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (label->wordWrap()) {
            return label->heightForWidth(label->width()) > label->height();
        }
        return !label->text().isEmpty() && label->sizeHint().width() > label->width();
    }
    if (const auto* box = qobject_cast<const QCheckBox*>(&control)) {
        return box->sizeHint().width() > box->width();
    }
    return false;
}

bool anyCaptionCut(const QWidget& window) {
    const QList<QWidget*> controls = window.findChildren<QWidget*>();
    return std::any_of(controls.begin(), controls.end(),
                       [](const QWidget* control) { return captionCut(*control); });
}

// Run a second time by ctest with only the DejaVu fonts, none of which has Arial's widths: the
// layout stays, the captions fit at the largest size that fits.
TEST(FrmRestrict, OpensFixedAndCentredWithWholeCaptionsInPlaceAndInReadingOrder) {
    Rig rig;
    rig.open();
    frmRestrict& window = *rig.window;
    ASSERT_EQ(window.logicalDpiX(), 96) << "the pixels below are for 96 dpi";
    EXPECT_EQ(window.windowTitle(), u"Quorvane"_s);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_LE((window.frameGeometry().center() - window.screen()->availableGeometry().center())
                  .manhattanLength(),
              2);

    const auto& tabs = rig.get<QTabWidget>("SSTab1");
    EXPECT_EQ(tabs.currentIndex(), 0);
    EXPECT_TRUE(rig.get("Check12").isVisible());
    EXPECT_FALSE(rig.get("Check7").isVisible());
    // Without its help file, the help page names the file it misses.
    const QString shown = rig.get<QTextBrowser>("WebBrowser1").toPlainText();
    EXPECT_TRUE(shown.contains(u"cannot be shown"_s)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QDir::toNativeSeparators(
        QString::fromStdString((rig.directory.path() / "Help.htm").string()))));

    // One spot check of the twips layout per level: the client area, a control on the tab
    // control, one inside a frame; the buttons that only the menu reaches lie outside.
    const QWidget& client = *window.centralWidget();
    EXPECT_EQ(client.size(), QSize(499, 255));
    EXPECT_EQ(placed(tabs, client), QRect(0, 8, 499, 247));
    EXPECT_EQ(placed(rig.get("WebBrowser1"), tabs), QRect(13, 32, 473, 201));
    EXPECT_EQ(placed(rig.get("lblDisclaimer"), rig.get("Frame1")), QRect(8, 13, 258, 79));
    // The boxes at positions 1 to 12 are the wide ones.
    EXPECT_EQ(std::pair(rig.get("Check11").width(), rig.get("Check13").width()),
              std::pair(209, 173));
    for (const char* hidden : {"cmdRemove", "cmdReset"}) {
        EXPECT_FALSE(client.rect().intersects(placed(rig.get(hidden), client))) << hidden;
    }

    // Keyboard order: reading order across the tabs, then the About buttons; the hidden
    // buttons take no focus.
    const std::pair<const char*, const char*> follows[] = {
        {"Check12", "Check7"},
        {"Check17", "Check16"},
        {"Check24", "Command2"},
        {"Command3", "WebBrowser1"},
    };
    for (const auto& [first, second] : follows) {
        EXPECT_EQ(nextTabStop(rig.get(first)), &rig.get(second)) << first;
    }

    const QFont font = window.font();
    EXPECT_EQ(font.family(), u"MS Sans Serif"_s);
    EXPECT_LE(font.pointSizeF(), 8.25);
    // The face that stands in: a sans serif, Arial's widths first. Left to itself, the font
    // matching could end on any face, a serif, a fixed-pitch or a math face among them.
    const QFontInfo face(font);
    EXPECT_TRUE(
        QStringList({u"Arial"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s}).contains(face.family()))
        << face.family().toStdString();
    EXPECT_FALSE(face.fixedPitch());
    const QFont menu = rig.get<QMenu>("mnuFile").font();
    EXPECT_EQ(std::pair(menu.family(), menu.pointSizeF()),
              std::pair(font.family(), font.pointSizeF()));

    EXPECT_FALSE(anyCaptionCut(window)) << "at " << font.pointSizeF() << " points";
    const toolkit::TwipsScale scale(window);
    for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
        const auto& box = rig.get<QCheckBox>(
            QStringLiteral("Check%1").arg(restriction.number).toLatin1().constData());
        QStyleOptionButton option;
        option.initFrom(&box);
        option.text = box.text();
        const QRect indicator =
            box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
        EXPECT_TRUE(box.rect().contains(indicator)) << restriction.number;
        EXPECT_GE(box.height(), box.fontMetrics().height()) << restriction.number;
        // Grown, if at all, about the middle of the row the layout gives it.
        const restrictions::Placement at = restrictions::placementOf(restriction);
        const QRect row = scale.rect(at.left, at.top, at.width, at.height);
        EXPECT_LE(std::abs(box.geometry().center().y() - row.center().y()), 1)
            << restriction.number;
    }

    // Any larger and something would be cut.
    if (font.pointSizeF() < 8.25) {
        QFont larger = font;
        larger.setPointSizeF(font.pointSizeF() + 0.25);
        window.setFont(larger);
        EXPECT_TRUE(anyCaptionCut(window)) << "at " << larger.pointSizeF() << " points";
    }

    // The watch that centres the window again once its frame comes (a plain object of the
    // window's) ends when the framed window stays centred: offscreen, at once, not after the two
    // seconds it looks for a frame at most.
    const auto watches = [&] {
        return std::ranges::count_if(window.children(), [](const QObject* child) {
            return child->metaObject() == &QObject::staticMetaObject;
        });
    };
    ASSERT_EQ(watches(), 1);
    for (int waited = 0; waited < 100 && watches() > 0; ++waited) {
        QTest::qWait(10);
    }
    EXPECT_EQ(watches(), 0);

    // Deleted, the window takes the tell-a-friend window its About link opened with it.
    rig.showTab(4);
    QTest::mouseClick(&rig.get("Label2"), Qt::LeftButton);
    ASSERT_EQ(testing::shownWindows("frmBugReport").size(), 1u);
    const QPointer<QWidget> tellAFriend = testing::shownWindows("frmBugReport").front();
    rig.window.reset();
    EXPECT_TRUE(tellAFriend.isNull());
}

// A user without administrator rights meets the load-time rewrite of the machine half refused at
// every start: the window says so once in its status line, not in a box. With no menu open, after
// any tab switch: Space works nothing unseen, and the access keys of the hidden buttons (Alt+A,
// Alt+R) run nothing. What a click puts in the hives is the restriction tests' own; that a box
// reaches them, the undo and installation windows' tests show. A window title is only ever lifted:
// checked again, its box shows it gone; every refused click warns, and the box shows what the
// registry holds. Only the File menu runs the hidden buttons' commands: remove-all, then the
// pages' reset.
TEST(FrmRestrict, BoxesShowWhatTheRegistryHoldsAndOnlyTheFileMenuRunsTheHiddenButtonsCommands) {
    Rig rig;
    const auto elsewhere = testing::sz("http://elsewhere.test/");
    testing::put(rig.registry(), kCurrentUser, kRestrictionsKey, "NoViewSource", dword(1));
    testing::put(rig.registry(), kLocalMachine, testing::kMainKey, "Window Title",
                 testing::sz("Someone's browser"));
    testing::put(rig.registry(), kCurrentUser, testing::kMainKey, "Start Page", elsewhere);
    rig.recorder.refuse = testing::RecordingRegistry::deniesWrites(kLocalMachine);
    rig.open();
    EXPECT_TRUE(rig.get<QCheckBox>("Check17").isChecked());
    const auto& status = rig.get<QLabel>("lblRights");
    EXPECT_EQ(status.text(), u"Machine-wide settings need administrator rights."_s);
    EXPECT_TRUE(status.isVisible());
    EXPECT_TRUE(status.toolTip().contains(u"impose NoViewSource"_s))
        << status.toolTip().toStdString();
    rig.recorder.refuse = nullptr;
    rig.recorder.calls.clear();  // the load's rewrite of the machine half
    rig.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));
    auto& tabBar = *rig.get<QTabWidget>("SSTab1").tabBar();
    const auto press = [](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, static_cast<Qt::Key>(key), modifiers);
    };
    for (int tab : {1, 2, 3, 4, 0}) {
        SCOPED_TRACE(tab);
        // The focus on a control of the tab being left, as after the user tabbed to it.
        press(Qt::Key_Tab);
        QTest::mouseClick(&tabBar, Qt::LeftButton, {}, tabBar.tabRect(tab).center());
        ASSERT_EQ(tabBar.currentIndex(), tab);
        press(Qt::Key_Space);
        press(Qt::Key_A, Qt::AltModifier);
        press(Qt::Key_R, Qt::AltModifier);
    }
    // Round the first tab's stops more than once: Tab never lands on a hidden button.
    for (int stop = 0; stop < 30; ++stop) {
        press(Qt::Key_Tab);
        EXPECT_FALSE(QApplication::focusWidget()->objectName().startsWith(u"cmd"_s));
    }
    EXPECT_TRUE(rig.messages.shown.empty());
    EXPECT_EQ(rig.recorder.changeRequests(), 0u) << "no box changed, no command ran";
    EXPECT_TRUE(rig.opened.empty());
    EXPECT_TRUE(rig.window->isVisible());

    auto& title = rig.get<QCheckBox>("Check24");
    ASSERT_TRUE(title.isChecked());
    clickBox(title);
    clickBox(title);
    EXPECT_FALSE(title.isChecked());
    EXPECT_TRUE(rig.messages.shown.empty());
    // Refused: every refused click warns, and the box shows what the registry holds.
    rig.recorder.refuse = testing::RecordingRegistry::deniesWrites();
    rig.recorder.calls.clear();
    for (const char* name : {"Check4", "Check5", "Check4"}) {
        auto& box = rig.get<QCheckBox>(name);
        clickBox(box);
        EXPECT_FALSE(box.isChecked()) << name << ": refused in both hives";
    }
    EXPECT_EQ(rig.recorder.of(testing::RegistryCall::DeleteValue).size(), 0u)
        << "putting the box back ran no lifting action";
    // Imposed for the user, refused for the machine: half done is said too.
    rig.recorder.refuse = testing::RecordingRegistry::deniesWrites(kLocalMachine);
    clickBox(rig.get<QCheckBox>("Check6"));
    ASSERT_EQ(rig.messages.shown.size(), 4u) << "one warning for each refused click";
    for (const testing::ShownMessage& shown : rig.messages.shown) {
        EXPECT_EQ(shown.style, toolkit::kExclamation);
    }
    EXPECT_TRUE(testing::contains(rig.messages.shown[3].text,
                                  "Not done in HKEY_LOCAL_MACHINE (no write access"));
    rig.recorder.refuse = nullptr;

    std::vector<QString> items;
    for (const QAction* action : rig.get<QMenu>("mnuFile").actions()) {
        items.push_back(action->objectName());
    }
    EXPECT_EQ(items, (std::vector<QString>{u"mnuRemove"_s, u"mnuReset"_s, u"mnuWhy"_s, u"mnuUndo"_s,
                                           u"mnuClose"_s}))
        << "Close goes last";
    rig.chooseFromFileMenu("mnuRemove");
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, kRestrictionsKey, "NoViewSource"), std::nullopt);
    EXPECT_FALSE(rig.get<QCheckBox>("Check17").isChecked());
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, testing::kMainKey, "Start Page"), elsewhere);
    rig.chooseFromFileMenu("mnuReset");
    EXPECT_NE(stored(rig.registry(), kCurrentUser, testing::kMainKey, "Start Page"), elsewhere);
}

// The About tab's links light up under the pointer and open their targets; then closing the
// window (parameter: the control that closes it, or the close box) ends the program and the
// tell-a-friend window its link opened.
class Closing : public ::testing::TestWithParam<const char*> {};

TEST_P(Closing, AboutTabLinksOpenTheirTargetsAndClosingEndsTheProgramAndTheTellAFriendWindow) {
    Rig rig;
    rig.open();
    rig.showTab(4);
    const auto colours = [&] {
        return std::pair(rig.get("Label2").palette().color(QPalette::WindowText),
                         rig.get("Label3").palette().color(QPalette::WindowText));
    };
    const QColor red(Qt::red), blue(Qt::blue);

    movePointer(*rig.window, rig.get("Label3"), {5, 5});
    EXPECT_EQ(colours(), std::pair(blue, red));
    movePointer(*rig.window, rig.get("Label2"), {5, 5});
    EXPECT_EQ(colours(), std::pair(red, red));
    movePointer(*rig.window, rig.get("Frame1"), {3, 3});
    EXPECT_EQ(colours(), std::pair(red, red)) << "a frame is not the tab control's surface";
    // Left of the frames, below the picture.
    movePointer(*rig.window, rig.get("SSTab1"), {50, 220});
    EXPECT_EQ(colours(), std::pair(blue, blue));

    // The tell-a-friend link and picture show one window; the link commands open the pages.
    QTest::mouseClick(&rig.get("Label2"), Qt::LeftButton);
    QTest::mouseClick(&rig.get("Image1"), Qt::LeftButton);
    ASSERT_EQ(testing::shownWindows("frmBugReport").size(), 1u);
    EXPECT_TRUE(rig.window->isEnabled());

    // A press on a link that is let go beside it opens nothing.
    QTest::mousePress(&rig.get("Label3"), Qt::LeftButton, {}, {5, 5});
    QTest::mouseRelease(&rig.get("Label3"), Qt::LeftButton, {}, {-20, 5});
    QTest::mouseClick(&rig.get("Command2"), Qt::LeftButton);
    QTest::mouseClick(&rig.get("Command1"), Qt::LeftButton);
    QTest::mouseClick(&rig.get("Label3"), Qt::LeftButton);
    // Return presses the button that has the focus.
    rig.get("Command1").setFocus();
    QTest::keyClick(&rig.get("Command1"), Qt::Key_Return);
    EXPECT_EQ(rig.opened, std::vector<QString>({u"http://maker.test"_s,
                                                u"http://maker.test/Pages/ListBot.html"_s,
                                                u"http://maker.test/Pages/Pimbleroot.html"_s,
                                                u"http://maker.test/Pages/ListBot.html"_s}));
    const QPointer<QWidget> tellAFriend = testing::shownWindows("frmBugReport").front();
    // Another window stays open, so that only the main window's closing can end the loop.
    QWidget bystander;
    bystander.show();
    QTimer::singleShot(5000, &bystander, [] { QCoreApplication::exit(1); });
    QTimer::singleShot(0, rig.window.get(), [&rig, way = std::string(GetParam())] {
        if (way == "CloseBox") {
            rig.window->close();
        } else if (way == "mnuClose") {
            rig.get<QAction>("mnuClose").trigger();
        } else {
            QTest::mouseClick(&rig.get(way.c_str()), Qt::LeftButton);
        }
    });

    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(rig.window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(tellAFriend.isNull());
}

INSTANTIATE_TEST_SUITE_P(ByAnyWay, Closing, ::testing::Values("CloseBox", "mnuClose", "Command3"),
                         [](const auto& info) { return std::string(info.param); });

// Where the help page shows its link to the report, in the viewport's coordinates.
std::optional<QPoint> linkPosition(QTextBrowser& browser) {
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
    return std::nullopt;
}

// "Why do Restrictions come back?": reached from the help page's link and from the File menu;
// the report is read-only, selectable and copied whole. The help page breaks lines between words
// only.
TEST(FrmWhy, HelpPageAndItsLinkAndFileMenuShowTheReportReadOnlyAndCopyIt) {
    Rig rig;
    testing::put(rig.registry(), kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                 "Relock",
                 testing::sz("reg add \"HKCU\\Software\\Policies\\Microsoft\\Internet "
                             "Explorer\\Restrictions\" /v NoBrowserClose /t REG_DWORD /d 1 /f & "
                             "rem keeps the browser open for the kiosk, set again at every start"));
    std::filesystem::copy_file(QUORVANE_HELP_FILE, rig.directory.path() / "Help.htm");
    rig.open();
    rig.showTab(3);
    auto& browser = rig.get<QTextBrowser>("WebBrowser1");
    browser.document()->documentLayout()->documentSize();  // lays the whole page out
    // The body names the windows' faces, so that no math or serif face stands in (run a second
    // time by ctest with only the DejaVu fonts).
    const QString body = QFontInfo(browser.document()->begin().charFormat().font()).family();
    EXPECT_TRUE(QStringList({u"Arial"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s}).contains(body))
        << body.toStdString();
    EXPECT_EQ(browser.horizontalScrollBar()->maximum(), 0) << "nothing on the page is that wide";
    int pathBreaks = 0;
    for (QTextBlock block = browser.document()->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        const QTextLayout& layout = *block.layout();
        for (int i = 0; i + 1 < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            const qsizetype end = line.textStart() + line.textLength();
            EXPECT_FALSE(text.at(end - 1).isLetterOrNumber() && text.at(end).isLetterOrNumber())
                << "broken inside a word: " << text.mid(line.textStart(), 30).toStdString();
            pathBreaks += text.left(end).trimmed().endsWith(QStringLiteral("\\\u200b"));
        }
    }
    EXPECT_GT(pathBreaks, 0) << "no registry path wrapped at a backslash";
    const std::optional<QPoint> link = linkPosition(browser);
    ASSERT_TRUE(link) << "Help.htm has no link to the report";
    ASSERT_EQ(rig.report(), nullptr);
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, *link);
    ASSERT_TRUE(testing::eventually([&] { return rig.report() != nullptr; }));
    rig.report()->window()->close();
    ASSERT_EQ(rig.report(), nullptr);
    rig.chooseFromFileMenu("mnuWhy");

    ASSERT_TRUE(testing::eventually([&] { return rig.report() != nullptr; }));
    QTextEdit& text = *rig.report();
    // Run a third time by ctest at twice the scale on a 1280 x 1024 screen: it fits the screen.
    EXPECT_TRUE(
        text.window()->screen()->availableGeometry().contains(text.window()->frameGeometry()));
    // A line that wraps goes on below its own start (the command's, after six spaces).
    bool wrapped = false;
    for (QTextBlock block = text.document()->begin(); block.isValid(); block = block.next()) {
        const QTextLayout& layout = *block.layout();
        if (block.text().startsWith(u"      reg add"_s) && layout.lineCount() > 1) {
            wrapped = true;
            EXPECT_NEAR(layout.lineAt(1).x(), layout.lineAt(0).x() + layout.lineAt(0).cursorToX(6),
                        1);
        }
    }
    EXPECT_TRUE(wrapped) << "the command is long enough to wrap";
    // Run a second time by ctest with only the DejaVu fonts: a fixed-pitch face, not a math one.
    const QFontInfo face(text.font());
    EXPECT_TRUE(face.fixedPitch()) << face.family().toStdString();
    EXPECT_FALSE(face.family().contains(u"Math"_s)) << face.family().toStdString();
    const QFont buttons = testing::child<QPushButton>(*text.window(), "cmdClose").font();
    EXPECT_EQ(buttons.family().toStdString(), rig.window->font().family().toStdString());
    EXPECT_EQ(buttons.pointSizeF(), rig.window->font().pointSizeF());
    const QString report = text.toPlainText();
    EXPECT_TRUE(report.contains(u"Relock"_s)) << report.toStdString();
    // Without an undo journal, "Stop these" is not offered.
    EXPECT_FALSE(testing::child<QPushButton>(*text.window(), "cmdStop").isVisible());
    EXPECT_TRUE(text.textInteractionFlags() & Qt::TextSelectableByMouse);
    QTest::keyClicks(&text, u"typed"_s);
    EXPECT_EQ(text.toPlainText(), report) << "typing changed the report";

    QApplication::clipboard()->clear();
    QTest::mouseClick(&testing::child<QPushButton>(*text.window(), "cmdCopy"), Qt::LeftButton);
    EXPECT_EQ(QApplication::clipboard()->text(), report);
}

// "Stop these" in the report, by real clicks: it shows what will change and changes nothing
// until "Confirm"; then the startup value is gone, the restriction lifted, and File > Undo last
// change brings both back, the box following the registry. With nothing found, or without an undo
// journal (the report test above), the button is not offered.
TEST(FrmWhy, StopTheseShowsThePlanThenStopsWhatWasConfirmed) {
    const char* run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const auto relock = testing::sz(testing::relock("NoBrowserClose"));
    Rig rig;
    rig.undo = journal::JournalPlace{rig.directory.path() / "undo", "the window's registry"};
    rig.open();
    // A click is kept for undo too.
    clickBox(rig.get<QCheckBox>("Check4"));
    EXPECT_EQ(journal::UndoJournal(rig.registry(), *rig.undo).entries().at(0).action,
              "impose NoBrowserClose");
    // While nothing sets it again, there is nothing to stop.
    rig.chooseFromFileMenu("mnuWhy");
    ASSERT_TRUE(testing::eventually([&] { return rig.report() != nullptr; }));
    EXPECT_FALSE(testing::child<QPushButton>(*rig.report()->window(), "cmdStop").isVisible());
    testing::put(rig.registry(), kCurrentUser, run, "Relock", relock);
    rig.chooseFromFileMenu("mnuWhy");
    QWidget& why = *rig.report()->window();
    auto& stop = testing::child<QPushButton>(why, "cmdStop");
    auto& confirm = testing::child<QPushButton>(why, "cmdConfirm");
    ASSERT_TRUE(stop.isVisible());
    EXPECT_FALSE(confirm.isVisible());

    QTest::mouseClick(&stop, Qt::LeftButton);
    const QString plan = rig.report()->toPlainText();
    EXPECT_TRUE(plan.contains(u"delete the value Relock"_s)) << plan.toStdString();
    EXPECT_TRUE(plan.contains(u"Then lift restriction 4."_s)) << plan.toStdString();
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, run, "Relock"), relock) << "changed unconfirmed";
    ASSERT_TRUE(confirm.isVisible());

    QTest::mouseClick(&confirm, Qt::LeftButton);
    ASSERT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(rig.messages.shown[0].text, diagnosis::kStoppedText);
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, run, "Relock"), std::nullopt);
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, kRestrictionsKey, "NoBrowserClose"),
              std::nullopt);
    EXPECT_FALSE(rig.get<QCheckBox>("Check4").isChecked());
    EXPECT_TRUE(rig.report()->toPlainText().contains(u"nothing found"_s));

    why.close();
    rig.chooseFromFileMenu("mnuUndo");
    ASSERT_EQ(rig.messages.shown.size(), 2u);
    EXPECT_EQ(rig.messages.shown[1].title, "Undo Last Change");
    EXPECT_TRUE(rig.messages.shown[1].text.starts_with("Undone: Stop these ("))
        << "named as pressed";
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, run, "Relock"), relock);
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
    EXPECT_TRUE(rig.get<QCheckBox>("Check4").isChecked());
}

}  // namespace
}  // namespace quorvane::mainwindow
