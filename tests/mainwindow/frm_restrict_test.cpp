// The main window on the offscreen platform, driven through its controls' names and real clicks,
// on a fresh hive store; message boxes are recorded and web addresses collected.
#include "mainwindow/frm_restrict.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "restrictions/catalogue.h"
#include "tests/mailer/tell_a_friend_rig.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/recording_registry.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "toolkit/form_controls.h"

namespace quorvane::mainwindow {
namespace {

using platform::kCurrentUser;
using platform::kLocalMachine;
using testing::dword;
using testing::stored;

constexpr const char* kRestrictionsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";

// One main window on its own registry, with everything it shows or opens recorded.
struct Rig {
    Rig() { testing::makeBaselineKeys(registry()); }

    void open() {
        toolkit::Configuration configuration;
        configuration.makerHost = "maker.test";
        window = std::make_unique<frmRestrict>(frmRestrict::Dependencies{
            recorder,
            messages,
            configuration,
            QString::fromStdString(directory.path().string()),
            [this](const QUrl& address) { opened.push_back(address.toString()); },
            10,
            {},
            undo});
        window->load();
    }

    platform::RegistryApi& registry() { return target->registry(); }

    template <typename Control = QWidget>
    Control& get(const char* name) const {
        return testing::child<Control>(*window, name);
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

QWidget* tellAFriendWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("frmBugReport")) {
            return widget;
        }
    }
    return nullptr;
}

TEST(FrmRestrict, LayoutFollowsTheTablesAt96Dpi) {
    Rig rig;
    rig.open();
    const frmRestrict& window = *rig.window;
    ASSERT_EQ(window.logicalDpiX(), 96) << "the pixels below are for 96 dpi";

    EXPECT_EQ(window.objectName(), "frmRestrict");
    EXPECT_EQ(window.windowTitle(), "Quorvane");
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_LE((window.frameGeometry().center() - window.screen()->availableGeometry().center())
                  .manhattanLength(),
              2);

    const auto& file = rig.get<QMenu>("mnuFile");
    EXPECT_EQ(file.title(), "&File");
    QStringList items;
    for (const QAction* action : file.actions()) {
        items << action->objectName() + "=" + action->text();
    }
    EXPECT_EQ(items,
              QStringList({"mnuRemove=Remove &all Restrictions", "mnuReset=&Reset Home/Search Page",
                           "mnuClose=&Close", "mnuWhy=&Why do Restrictions come back?",
                           "mnuUndo=&Undo last change"}));

    const auto& tabs = rig.get<QTabWidget>("SSTab1");
    QStringList captions;
    for (int index = 0; index < tabs.count(); ++index) {
        captions << tabs.tabText(index);
    }
    EXPECT_EQ(captions, QStringList({"Restrictions 1-8  ", "Restrictions 9-16  ",
                                     "Restrictions 17-24  ", "Help  ", "About  "}));
    EXPECT_EQ(tabs.currentIndex(), 0);
    EXPECT_TRUE(rig.get("Check12").isVisible());
    EXPECT_FALSE(rig.get("Check7").isVisible());

    const QWidget& client = *window.centralWidget();
    EXPECT_EQ(client.size(), QSize(499, 255));
    EXPECT_EQ(placed(tabs, client), QRect(0, 8, 499, 247));
    for (const char* hidden : {"cmdRemove", "cmdReset"}) {
        EXPECT_FALSE(client.rect().intersects(placed(rig.get(hidden), client))) << hidden;
    }
    EXPECT_EQ(placed(rig.get("cmdRemove"), client), QRect(48, 328, 153, 25));

    struct Expected {
        const char* name;
        const QWidget& container;
        QRect pixels;
    };
    const Expected geometry[] = {
        {"Label1_1", tabs, {182, 40, 173, 13}},
        {"WebBrowser1", tabs, {13, 32, 473, 201}},
        {"Command3", tabs, {392, 210, 91, 23}},
        {"lblDisclaimer", rig.get("Frame1"), {8, 13, 258, 79}},
    };
    for (const Expected& expected : geometry) {
        EXPECT_EQ(placed(rig.get(expected.name), expected.container), expected.pixels)
            << expected.name;
    }

    EXPECT_EQ(rig.get<QCheckBox>("Check12").text(), "Forward and Back navigation buttons");
    EXPECT_EQ(rig.get("Check24").toolTip(), "Uncheck to remove custom window title");
    EXPECT_EQ(rig.get<QPushButton>("cmdReset").text(), "&Reset Home/Search Page");
    EXPECT_EQ(rig.get("cmdReset").toolTip(), "Resets to original (msn)");
    EXPECT_EQ(rig.get<QPushButton>("Command2").text(), "&Haldrix");
    EXPECT_EQ(rig.get("Image1").toolTip(), "Tell a Friend about Quorvane");
    EXPECT_EQ(rig.get("picIcon").toolTip(), "Haldrix Software");
    EXPECT_EQ(rig.get<QLabel>("Label1_2").text(), "Checked items are currently disabled");
    const QString disclaimer = rig.get<QLabel>("lblDisclaimer").text();
    EXPECT_TRUE(disclaimer.contains("Haldrix") && disclaimer.size() > 250 &&
                disclaimer.size() < 320)
        << disclaimer.toStdString();

    const auto& link = rig.get<QLabel>("Label3");
    EXPECT_EQ(link.text(), "Get the Pimbleroot");
    EXPECT_EQ(link.font().family(), "MS Sans Serif");
    EXPECT_TRUE(link.font().underline());
    // Whatever face stands in for it, every caption fits its box.
    for (const char* name : {"Label1_0", "Label2", "Label3", "Check12", "lblDescription"}) {
        const auto& label = rig.get<QWidget>(name);
        EXPECT_LE(label.sizeHint().width(), label.width()) << name;
    }
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));

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
}

bool wider(const QWidget& control, const QSize& needed) {
    return needed.width() > control.width();
}

// A caption wider than its control, or a wrapped text taller than its label.
bool captionCut(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (label->wordWrap()) {
            return label->heightForWidth(label->width()) > label->height();
        }
        return !label->text().isEmpty() && wider(*label, label->sizeHint());
    }
    if (const auto* box = qobject_cast<const QCheckBox*>(&control)) {
        return wider(*box, box->sizeHint());
    }
    return false;
}

bool anyCaptionCut(const QWidget& window) {
    const QList<QWidget*> controls = window.findChildren<QWidget*>();
    return std::any_of(controls.begin(), controls.end(),
                       [](const QWidget* control) { return captionCut(*control); });
}

// Run a second time by ctest with only the DejaVu fonts, none of which has Arial's widths.
TEST(FrmRestrict, CaptionsFitAtTheLargestSizeThatFitsAndCheckBoxesAreWhole) {
    Rig rig;
    rig.open();
    frmRestrict& window = *rig.window;
    const QFont font = window.font();
    EXPECT_EQ(font.family(), "MS Sans Serif");
    EXPECT_LE(font.pointSizeF(), 8.25);
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
}

TEST(FrmRestrict, HelpPageBreaksLinesBetweenWordsOnlyAndNamesAMissingFile) {
    {
        Rig rig;
        rig.open();
        const QString shown = rig.get<QTextBrowser>("WebBrowser1").toPlainText();
        EXPECT_TRUE(shown.contains("cannot be shown")) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QDir::toNativeSeparators(
            QString::fromStdString((rig.directory.path() / "Help.htm").string()))));
    }

    Rig rig;
    std::filesystem::copy_file(QUORVANE_HELP_FILE, rig.directory.path() / "Help.htm");
    rig.open();
    rig.showTab(3);
    auto& help = rig.get<QTextBrowser>("WebBrowser1");
    help.document()->documentLayout()->documentSize();  // lays the whole page out
    EXPECT_EQ(help.horizontalScrollBar()->maximum(), 0) << "nothing on the page is that wide";

    int pathBreaks = 0;
    for (QTextBlock block = help.document()->begin(); block.isValid(); block = block.next()) {
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
}

TEST(FrmRestrict, LoadsTheRestrictionsInForceAndTheHelpPageAndClicksToggleThem) {
    Rig rig;
    testing::put(rig.registry(), kCurrentUser, kRestrictionsKey, "NoViewSource", dword(7));
    testing::put(rig.registry(), kLocalMachine, testing::kMainKey, "Window Title",
                 testing::sz("Someone's browser"));
    testing::writeFile(rig.directory.path() / "Help.htm", "<html><body>Why it came back</body>");
    rig.open();

    EXPECT_TRUE(rig.window->isVisible());
    EXPECT_TRUE(rig.get<QCheckBox>("Check17").isChecked());
    EXPECT_TRUE(rig.get<QCheckBox>("Check24").isChecked());
    EXPECT_FALSE(rig.get<QCheckBox>("Check4").isChecked());
    for (auto hive : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(stored(rig.registry(), hive, kRestrictionsKey, "NoViewSource"), dword(1));
    }
    EXPECT_TRUE(rig.get<QTextBrowser>("WebBrowser1").toPlainText().contains("Why it came back"));

    // Clicking a box imposes, then lifts, its restriction in both hives.
    auto& box = rig.get<QCheckBox>("Check4");
    clickBox(box);
    EXPECT_TRUE(box.isChecked());
    for (auto hive : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(stored(rig.registry(), hive, kRestrictionsKey, "NoBrowserClose"), dword(1));
    }
    clickBox(box);
    EXPECT_FALSE(box.isChecked());
    for (auto hive : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(stored(rig.registry(), hive, kRestrictionsKey, "NoBrowserClose"), std::nullopt);
    }
    EXPECT_TRUE(rig.messages.shown.empty());
}

TEST(FrmRestrict, ARefusedClickWarnsOnceAndTheBoxShowsWhatTheRegistryHolds) {
    Rig rig;
    rig.open();
    rig.recorder.refuse = testing::RecordingRegistry::deniesWrites();
    for (const char* name : {"Check4", "Check5"}) {
        auto& box = rig.get<QCheckBox>(name);
        clickBox(box);
        EXPECT_FALSE(box.isChecked()) << name << ": refused in both hives";
    }
    ASSERT_EQ(rig.messages.shown.size(), 1u) << "the first refusal of the session only";
    EXPECT_EQ(rig.messages.shown[0].style, toolkit::kExclamation);
    EXPECT_EQ(rig.recorder.of(testing::RegistryCall::DeleteValue).size(), 0u)
        << "putting the box back ran no lifting action";
}

// With no menu open, after any tab switch: Space works nothing unseen, and the access keys of
// the hidden buttons (Alt+A, Alt+R) run nothing. Only the File menu runs their commands.
TEST(FrmRestrict, HiddenButtonsAreInertToTheKeyboard) {
    Rig rig;
    rig.open();
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
    EXPECT_TRUE(rig.messages.shown.empty());
    EXPECT_EQ(rig.recorder.changeRequests(), 0u) << "no box changed, no command ran";
    EXPECT_TRUE(rig.opened.empty());
    EXPECT_TRUE(rig.window->isVisible());
}

// Each menu item against its hidden button, on two registries in the same state.
TEST(FrmRestrict, MenuItemsRunTheirHiddenButtonsHandling) {
    struct Pair {
        const char* item;
        const char* button;
        const char* valueKey;
        const char* valueName;
    };
    const Pair pairs[] = {{"mnuRemove", "cmdRemove", kRestrictionsKey, "NoViewSource"},
                          {"mnuReset", "cmdReset", testing::kMainKey, "Start Page"}};
    for (const Pair& pair : pairs) {
        Rig byMenu;
        Rig byButton;
        for (Rig* rig : {&byMenu, &byButton}) {
            testing::put(rig->registry(), kCurrentUser, kRestrictionsKey, "NoViewSource", dword(1));
            rig->open();
        }
        byMenu.window->findChild<QAction*>(pair.item)->trigger();
        byButton.get<QPushButton>(pair.button).click();

        EXPECT_FALSE(byMenu.messages.shown.empty()) << pair.item;
        EXPECT_EQ(byMenu.messages.shown, byButton.messages.shown) << pair.item;
        EXPECT_EQ(byMenu.get<QCheckBox>("Check17").isChecked(),
                  byButton.get<QCheckBox>("Check17").isChecked())
            << pair.item;
        for (auto hive : {kCurrentUser, kLocalMachine}) {
            EXPECT_EQ(stored(byMenu.registry(), hive, pair.valueKey, pair.valueName),
                      stored(byButton.registry(), hive, pair.valueKey, pair.valueName))
                << pair.item;
        }
    }
}

// File > Undo last change, reached by real clicks, takes back the last click; the box follows the
// registry without running its switching action, which would make the policy keys again.
TEST(FrmRestrict, UndoLastChangeTakesBackTheLastClickAndShowsTheBoxQuietly) {
    Rig rig;
    rig.undo = journal::JournalPlace{rig.directory.path() / "undo", "the window's registry"};
    rig.open();
    clickBox(rig.get<QCheckBox>("Check4"));
    ASSERT_EQ(stored(rig.registry(), kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));

    QMenuBar& menuBar = *rig.window->menuBar();
    auto& file = rig.get<QMenu>("mnuFile");
    QTest::mouseClick(&menuBar, Qt::LeftButton, {},
                      menuBar.actionGeometry(file.menuAction()).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return file.isVisible(); }));
    QTest::mouseClick(&file, Qt::LeftButton, {},
                      file.actionGeometry(rig.window->findChild<QAction*>("mnuUndo")).center());

    ASSERT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(rig.messages.shown[0].title, "Undo Last Change");
    EXPECT_EQ(rig.messages.shown[0].text.rfind("Undone: impose NoBrowserClose (", 0), 0u)
        << rig.messages.shown[0].text;
    EXPECT_FALSE(rig.get<QCheckBox>("Check4").isChecked());
    EXPECT_EQ(stored(rig.registry(), kCurrentUser, kRestrictionsKey, "NoBrowserClose"),
              std::nullopt);
    EXPECT_FALSE(testing::keyExists(rig.registry(), kCurrentUser, "Software\\Policies"));
}

TEST(FrmRestrict, AboutTabLinksLightUpUnderThePointerAndOpenTheirTargets) {
    Rig rig;
    rig.open();
    rig.showTab(4);
    const auto& label2 = rig.get<QLabel>("Label2");
    const auto& label3 = rig.get<QLabel>("Label3");
    const auto colours = [&] {
        return std::pair(label2.palette().color(QPalette::WindowText),
                         label3.palette().color(QPalette::WindowText));
    };
    const QColor red(255, 0, 0);
    const QColor blue(0, 0, 255);

    movePointer(*rig.window, label3, {5, 5});
    EXPECT_EQ(colours(), std::pair(blue, red));
    movePointer(*rig.window, label2, {5, 5});
    EXPECT_EQ(colours(), std::pair(red, red));
    movePointer(*rig.window, rig.get("Frame1"), {3, 3});
    EXPECT_EQ(colours(), std::pair(red, red)) << "a frame is not the tab control's surface";
    // Left of the frames, below the picture.
    movePointer(*rig.window, rig.get("SSTab1"), {50, 220});
    EXPECT_EQ(colours(), std::pair(blue, blue));

    // The tell-a-friend link and picture show one window; the link commands open the pages.
    QTest::mouseClick(&rig.get("Label2"), Qt::LeftButton);
    QTest::mouseClick(&rig.get("Image1"), Qt::LeftButton);
    int windows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        windows += widget->objectName() == QLatin1String("frmBugReport") && widget->isVisible();
    }
    EXPECT_EQ(windows, 1);
    EXPECT_TRUE(rig.window->isEnabled());

    QTest::mouseClick(&rig.get("Command2"), Qt::LeftButton);
    QTest::mouseClick(&rig.get("Command1"), Qt::LeftButton);
    QTest::mouseClick(&rig.get("Label3"), Qt::LeftButton);
    EXPECT_EQ(rig.opened,
              std::vector<QString>({"http://maker.test", "http://maker.test/Pages/ListBot.html",
                                    "http://maker.test/Pages/Pimbleroot.html"}));
}

TEST(FrmRestrict, ClosingEndsTheProgramAndTheTellAFriendWindowHowever) {
    const std::pair<const char*, std::function<void(Rig&)>> ways[] = {
        {"close box", [](Rig& rig) { rig.window->close(); }},
        {"mnuClose", [](Rig& rig) { rig.window->findChild<QAction*>("mnuClose")->trigger(); }},
        {"Command3", [](Rig& rig) { QTest::mouseClick(&rig.get("Command3"), Qt::LeftButton); }},
    };
    for (const auto& [way, close] : ways) {
        Rig rig;
        rig.open();
        rig.showTab(4);
        QTest::mouseClick(&rig.get("Label2"), Qt::LeftButton);
        const QPointer<QWidget> tellAFriend = tellAFriendWindow();
        ASSERT_TRUE(tellAFriend != nullptr && tellAFriend->isVisible()) << way;
        // Another window stays open, so that only the main window's closing can end the loop.
        QWidget bystander;
        bystander.show();
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        giveUp.start(5000);
        QTimer::singleShot(0, rig.window.get(), [&rig, close = close] { close(rig); });

        EXPECT_EQ(QApplication::exec(), 0) << way;
        EXPECT_FALSE(rig.window->isVisible()) << way;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(tellAFriend.isNull()) << way;
    }
}

}  // namespace
}  // namespace quorvane::mainwindow
