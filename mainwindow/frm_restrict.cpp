#include "mainwindow/frm_restrict.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>
#include <chrono>

#include "diagnosis/diagnosis.h"
#include "journal/undo.h"
#include "mailer/tell_a_friend_window.h"
#include "mainwindow/frm_why.h"
#include "mainwindow/help_browser.h"
#include "mainwindow/qt_toolkit.h"
#include "registry/registry_settings_store.h"
#include "restrictions/catalogue.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"
#include "toolkit/artwork.h"
#include "toolkit/classic_font.h"
#include "toolkit/window_placement.h"

namespace quorvane::mainwindow {

namespace {

using namespace Qt::StringLiterals;
using toolkit::control;
using toolkit::label;
using toolkit::Picture;

constexpr int kTabCount = 5;
constexpr int kHelpTab = 3;
constexpr int kAboutTab = 4;

// Link labels: blue at rest, red while the pointer is over them.
const QColor kLinkColour(0, 0, 255);
const QColor kHoverColour(255, 0, 0);

const char* const kIndicatorCaption = "Checked items are currently disabled";
const char* const kDescription =
    "This program is Freeware.  Come to the Haldrix Web Site for more free programs.  Click the "
    "Haldrix button to visit us or the Newsletter button to join our Mailing List.";
const char* const kDisclaimer =
    "Warning: Quorvane is protected by copyright law and international treaties. Unauthorised "
    "reproduction or distribution of this program, or of any part of it, may result in severe "
    "civil and criminal penalties, and Haldrix will prosecute offenders to the maximum extent "
    "possible under the law.";

QPushButton* button(QWidget* parent, const char* name, const char* caption, const char* tooltip,
                    const QRect& geometry) {
    auto* widget = control<QPushButton>(parent, name, geometry);
    widget->setText(QString::fromLatin1(caption));
    widget->setToolTip(QString::fromLatin1(tooltip));
    return widget;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

}  // namespace

// The restriction logic as this window wires it: the registry module, the settings store in the
// managed registry, and the window's own check boxes.
struct frmRestrict::Core {
    Core(const Dependencies& dependencies, const QWidget& window)
        : general(dependencies.registry, dependencies.messages),
          settings(dependencies.registry),
          boxes(window, restrictions::kRestrictionCount),
          journal(dependencies.undo ? std::make_unique<journal::UndoJournal>(dependencies.registry,
                                                                             *dependencies.undo)
                                    : nullptr),
          manager({dependencies.registry, settings, events, dependencies.messages, boxes,
                   dependencies.configuration, journal.get()}) {}

    registry::General2 general;  // for the report of what sets restrictions again
    registry::RegistrySettingsStore settings;
    QtEventPump events;
    WindowCheckBoxes boxes;
    std::unique_ptr<journal::UndoJournal> journal;
    restrictions::RestrictionManager manager;
};

frmRestrict::frmRestrict(Dependencies dependencies)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      dependencies_(std::move(dependencies)),
      endsProgram_(dependencies_.opener == nullptr),
      scale_(*this) {
    setObjectName(QStringLiteral("frmRestrict"));
    setWindowTitle(QString::fromLatin1(toolkit::kApplicationTitle));
    setWindowIcon(toolkit::pictureIcon(Picture::ProgramIcon));
    createControls();
    toolkit::fitClassicFont(*this);
    toolkit::pressFocusedButtonOnReturn(*this);
    if (endsProgram_) {
        toolkit::centreOnFirstShow(*this);
    }
    core_ = std::make_unique<Core>(dependencies_, *this);
    bindCheckBoxes();
}

frmRestrict::~frmRestrict() {
    QDesktopServices::unsetUrlHandler(QUrl(QString::fromLatin1(kWhyLink)).scheme());
    // The tell-a-friend window has no owner; it may already have deleted itself on closing.
    delete bugReport_.data();
}

QRect frmRestrict::twips(int left, int top, int width, int height) const {
    return scale_.rect(left, top, width, height);
}

void frmRestrict::createControls() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    if (dependencies_.openInstallation) {
        QAction* mnuOpenWindows =
            file->addAction(QString::fromUtf8("&Open a Windows installation\u2026"));
        mnuOpenWindows->setObjectName(QStringLiteral("mnuOpenWindows"));
        connect(mnuOpenWindows, &QAction::triggered, this,
                [this] { dependencies_.openInstallation(this); });
    }
    QAction* mnuRemove = file->addAction(QStringLiteral("Remove &all Restrictions"));
    mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    QAction* mnuReset = file->addAction(QStringLiteral("&Reset Home/Search Page"));
    mnuReset->setObjectName(QStringLiteral("mnuReset"));
    QAction* mnuWhy = file->addAction(QStringLiteral("&Why do Restrictions come back?"));
    mnuWhy->setObjectName(QStringLiteral("mnuWhy"));
    connect(mnuWhy, &QAction::triggered, this, &frmRestrict::showWhy);
    QAction* mnuUndo = file->addAction(QStringLiteral("&Undo last change"));
    mnuUndo->setObjectName(QStringLiteral("mnuUndo"));
    mnuUndo->setEnabled(dependencies_.undo.has_value());
    connect(mnuUndo, &QAction::triggered, this, &frmRestrict::undoLastChange);
    QAction* mnuClose = file->addAction(QStringLiteral("&Close"));
    mnuClose->setObjectName(QStringLiteral("mnuClose"));
    QDesktopServices::setUrlHandler(QUrl(QString::fromLatin1(kWhyLink)).scheme(), this,
                                    "openOwnLink");
    // A pop-up menu is a window of its own: it takes the window's font only when told to.
    file->setAttribute(Qt::WA_WindowPropagation);

    // The client area below the menu bar; the window takes its size and keeps it.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips(0, 0, 7485, 3825).size());
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    SSTab1_ = control<QTabWidget>(client, "SSTab1", twips(0, 120, 7485, 3700));
    SSTab1_->tabBar()->setElideMode(Qt::ElideNone);
    SSTab1_->tabBar()->setUsesScrollButtons(false);
    tabSurface_ = {SSTab1_, SSTab1_->tabBar()};
    const char* const captions[kTabCount] = {restrictions::kTabCaptions[0],
                                             restrictions::kTabCaptions[1],
                                             restrictions::kTabCaptions[2], "Help  ", "About  "};
    for (const char* caption : captions) {
        auto* page = new QWidget;
        SSTab1_->addTab(page, QString::fromLatin1(caption));
        tabSurface_.push_back(page);
    }

    // Below the client area, out of the user's sight: the File menu reaches their handling.
    // Hidden, they are inert: no focus, so no Space lands on them, and no access keys.
    QPushButton* cmdReset = button(client, "cmdReset", "&Reset Home/Search Page",
                                   "Resets to original (msn)", twips(4200, 4800, 2295, 375));
    QPushButton* cmdRemove = button(client, "cmdRemove", "Remove &All Restrictions",
                                    "Removes all Restrictions", twips(720, 4920, 2295, 375));
    for (QPushButton* hidden : {cmdReset, cmdRemove}) {
        hidden->setFocusPolicy(Qt::NoFocus);
        hidden->hide();
    }

    createRestrictionTabs();
    WebBrowser1_ = control<HelpBrowser>(SSTab1_, "WebBrowser1", twips(195, 480, 7095, 3015));
    tabControls_[kHelpTab].push_back(WebBrowser1_);
    createAboutTab();

    // Keyboard order: the tabs, the boxes in reading order, the About buttons, the help page.
    std::vector<QWidget*> order = {SSTab1_};
    std::vector<QWidget*> byPosition(restrictions::kRestrictionCount);
    for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
        byPosition[static_cast<std::size_t>(restriction.position - 1)] =
            findChild<QCheckBox*>(QStringLiteral("Check%1").arg(restriction.number));
    }
    order.insert(order.end(), byPosition.begin(), byPosition.end());
    for (const char* name : {"Command2", "Command1", "Command3"}) {
        order.push_back(findChild<QPushButton*>(QString::fromLatin1(name)));
    }
    order.push_back(WebBrowser1_);
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    for (QWidget* surface : tabSurface_) {
        surface->setMouseTracking(true);
        surface->installEventFilter(this);
    }
    connect(SSTab1_, &QTabWidget::currentChanged, this, &frmRestrict::showTab);
    SSTab1_->setCurrentIndex(0);
    showTab(0);

    connect(cmdRemove, &QPushButton::clicked, this,
            [this] { core_->manager.RemoveAllRestrictions(); });
    connect(cmdReset, &QPushButton::clicked, this,
            [this] { core_->manager.ResetHomeSearchPages(); });
    connect(mnuRemove, &QAction::triggered, cmdRemove, &QPushButton::click);
    connect(mnuReset, &QAction::triggered, cmdReset, &QPushButton::click);
    connect(mnuClose, &QAction::triggered, this, &QWidget::close);
}

void frmRestrict::createRestrictionTabs() {
    for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
        const restrictions::Placement at = restrictions::placementOf(restriction);
        const QByteArray name = "Check" + QByteArray::number(restriction.number);
        auto* box = control<QCheckBox>(SSTab1_, name.constData(),
                                       twips(at.left, at.top, at.width, at.height));
        box->setText(QString::fromLatin1(restriction.caption));
        box->setToolTip(QString::fromLatin1(restriction.tooltip));
        tabControls_[static_cast<std::size_t>(restriction.tab - 1)].push_back(box);
    }
    for (int index = 0; index < 3; ++index) {
        const QByteArray name = "Label1_" + QByteArray::number(index);
        tabControls_[static_cast<std::size_t>(index)].push_back(
            label(SSTab1_, name.constData(), kIndicatorCaption,
                  twips(index == 2 ? 2730 : 2723, 600, 2595, 195)));
    }
}

void frmRestrict::createAboutTab() {
    std::vector<QWidget*>& about = tabControls_[kAboutTab];

    auto* picIcon = control<QLabel>(SSTab1_, "picIcon", twips(240, 720, 1065, 2205));
    picIcon->setPixmap(toolkit::picturePixmap(Picture::Program));
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setToolTip(QStringLiteral("Haldrix Software"));

    QFrame* Frame2 = toolkit::frame(SSTab1_, "Frame2", twips(1560, 480, 4095, 1215));
    QLabel* lblDescription =
        label(Frame2, "lblDescription", kDescription, twips(120, 240, 3795, 810));
    lblDescription->setWordWrap(true);
    setTextColour(lblDescription, Qt::black);

    QFrame* Frame1 = toolkit::frame(SSTab1_, "Frame1", twips(1560, 2040, 4095, 1455));
    QLabel* lblDisclaimer =
        label(Frame1, "lblDisclaimer", kDisclaimer, twips(120, 200, 3870, 1185));
    lblDisclaimer->setWordWrap(true);
    setTextColour(lblDisclaimer, Qt::black);

    Image1_ = control<QLabel>(SSTab1_, "Image1", twips(6120, 560, 720, 720));
    Image1_->setPixmap(toolkit::picturePixmap(Picture::TellAFriend));
    Image1_->setAlignment(Qt::AlignCenter);
    Image1_->setToolTip(QStringLiteral("Tell a Friend about Quorvane"));

    Label3_ = label(SSTab1_, "Label3", "Get the Pimbleroot", twips(2370, 1800, 2475, 195));
    Label2_ = label(SSTab1_, "Label2", "Tell a Friend", twips(6045, 1320, 870, 195));
    Label2_->setToolTip(QStringLiteral("Tell a Friend about Quorvane"));
    // Face and size follow the window's font.
    QFont linkFont;
    linkFont.setWeight(QFont::Normal);
    linkFont.setUnderline(true);
    for (QLabel* link : {Label2_, Label3_}) {
        link->setFont(linkFont);
        setTextColour(link, kLinkColour);
        link->setMouseTracking(true);
    }
    for (QLabel* clickable : {Label2_, Label3_, Image1_}) {
        clickable->setCursor(Qt::PointingHandCursor);
        clickable->installEventFilter(this);
    }

    QPushButton* Command2 =
        button(SSTab1_, "Command2", "&Haldrix", "Visit Haldrix", twips(5880, 1920, 1365, 345));
    QPushButton* Command1 = button(SSTab1_, "Command1", "&Newsletter", "Join our mailing list",
                                   twips(5880, 2535, 1365, 345));
    QPushButton* Command3 =
        button(SSTab1_, "Command3", "Clos&e", "Exit program", twips(5880, 3150, 1365, 345));
    connect(Command2, &QPushButton::clicked, this, [this] { openPage(""); });
    connect(Command1, &QPushButton::clicked, this, [this] { openPage("/Pages/ListBot.html"); });
    connect(Command3, &QPushButton::clicked, this, &QWidget::close);

    about.insert(about.end(), {picIcon, Frame2, Label3_, Frame1, Image1_, Label2_, Command2,
                               Command1, Command3});
}

void frmRestrict::bindCheckBoxes() {
    for (int number = 1; number <= core_->boxes.count(); ++number) {
        connect(core_->boxes.box(number), &QCheckBox::stateChanged, this,
                [this, number] { core_->manager.RestrictionClicked(number); });
    }
}

void frmRestrict::load() {
    tellMissingRights(core_->manager.RefreshRestrictionStates());
    WebBrowser1_->showHelpFile(
        QDir(dependencies_.programDirectory).filePath(QStringLiteral("Help.htm")));
    layout()->activate();  // the window's size, which the title must fit
    if (!dependencies_.title.isEmpty()) {
        setWindowTitle(toolkit::fittedTitle(*this, QString::fromLatin1(toolkit::kApplicationTitle) +
                                                       u" - "_s + dependencies_.title));
    }
    if (dependencies_.opener != nullptr) {
        toolkit::placeBeside(*this, *dependencies_.opener);
    }
    show();
}

void frmRestrict::tellMissingRights(const restrictions::Outcome& outcome) {
    restrictions::Outcome refused;
    for (const restrictions::Change& change : outcome.changes()) {
        if (!change.done() && change.needsAdministrator()) {
            refused.add(change);
        }
    }
    if (refused.changes().empty()) {
        return;
    }
    auto* lblRights = new QLabel(u"Machine-wide settings need administrator rights."_s);
    lblRights->setObjectName(u"lblRights"_s);
    lblRights->setToolTip(QString::fromStdString(restrictions::describeRefusals(refused))
                              .replace(u"\r\n"_s, u"\n"_s));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(lblRights);
}

void frmRestrict::showTab(int index) {
    // The tab headers take the focus, as a click on them does. Left on a control of the tab
    // being hidden, it would wander on to the next control that takes it, where Space would
    // work that control unseen.
    SSTab1_->tabBar()->setFocus(Qt::TabFocusReason);
    for (int tab = 0; tab < kTabCount; ++tab) {
        for (QWidget* widget : tabControls_[static_cast<std::size_t>(tab)]) {
            widget->setVisible(tab == index);
        }
    }
}

void frmRestrict::openPage(const char* path) {
    const QUrl address(QStringLiteral("http://") +
                       QString::fromStdString(dependencies_.configuration.makerHost) +
                       QString::fromLatin1(path));
    if (dependencies_.openUrl) {
        dependencies_.openUrl(address);
    } else {
        QDesktopServices::openUrl(address);
    }
}

void frmRestrict::showTellAFriend() {
    if (bugReport_ == nullptr) {
        bugReport_ = new mailer::frmBugReport(
            dependencies_.messages, dependencies_.configuration,
            std::chrono::milliseconds(dependencies_.mailerTickMilliseconds));
    }
    bugReport_->show();
    bugReport_->raise();
    bugReport_->activateWindow();
}

void frmRestrict::showWhy() {
    if (why_ == nullptr) {
        why_ = new frmWhy(this);
        connect(why_, &frmWhy::stopRequested, this, &frmRestrict::planStop);
        connect(why_, &frmWhy::stopConfirmed, this, &frmRestrict::stopConfirmed);
    }
    stopPlan_.reset();
    const diagnosis::Report report =
        diagnosis::diagnose(dependencies_.registry, core_->general, dependencies_.places, {});
    // Stopping needs an undo entry to hold what it changes.
    why_->setReport(QString::fromStdString(diagnosis::formatReport(report)),
                    report.somethingReturns() && core_->journal != nullptr);
    why_->show();
    why_->raise();
    why_->activateWindow();
}

void frmRestrict::planStop() {
    stopPlan_ = std::make_unique<diagnosis::FixPlan>(
        diagnosis::planFix(dependencies_.registry, core_->general, dependencies_.places, {}));
    why_->showPlan(QString::fromStdString(diagnosis::formatPlan(*stopPlan_)));
}

void frmRestrict::stopConfirmed() {
    if (stopPlan_ == nullptr || core_->journal == nullptr) {
        return;
    }
    const std::unique_ptr<diagnosis::FixPlan> plan = std::move(stopPlan_);
    // Undo names the change after the button that made it.
    const restrictions::Outcome outcome = diagnosis::stopAndLift(
        *plan, "Stop these", dependencies_.registry, *core_->journal, dependencies_.places,
        core_->manager, core_->general,
        [this](int number) { core_->boxes.setQuietly(number, toolkit::kUnchecked); });
    core_->manager.showRegistryState();
    // The report as it is now; the message says what was done, and what was not and why.
    const diagnosis::Report report =
        diagnosis::diagnose(dependencies_.registry, core_->general, dependencies_.places, {});
    why_->setReport(QString::fromStdString(diagnosis::formatReport(report)), false);
    if (outcome.allDone()) {
        dependencies_.messages.show(diagnosis::kStoppedText, toolkit::kInformation,
                                    toolkit::kApplicationTitle);
    } else {
        dependencies_.messages.show(restrictions::warningText(diagnosis::kNotStopped, outcome),
                                    toolkit::kExclamation, toolkit::kApplicationTitle);
    }
}

void frmRestrict::undoLastChange() {
    if (core_->journal == nullptr) {
        return;  // the menu item is disabled then
    }
    const journal::UndoResult result = journal::undoLast(dependencies_.registry, *core_->journal);
    core_->manager.showRegistryState();
    journal::tellUndo(result, dependencies_.messages);
}

void frmRestrict::openOwnLink(const QUrl& link) {
    if (link == QUrl(QString::fromLatin1(kWhyLink))) {
        showWhy();
    }
}

void frmRestrict::setLinkColour(QLabel* label, bool hovered) {
    setTextColour(label, hovered ? kHoverColour : kLinkColour);
}

void frmRestrict::closeEvent(QCloseEvent* event) {
    event->accept();
    // Closing the main window ends the program: the tell-a-friend window goes too, breaking off
    // a delivery in progress, and every event loop, nested ones included, is left. A window
    // opened from another closes with its own tell-a-friend window alone.
    if (bugReport_ != nullptr) {
        bugReport_->close();
    }
    if (endsProgram_) {
        QCoreApplication::exit(0);
    }
}

bool frmRestrict::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        if (watched == Label2_ || watched == Label3_) {
            setLinkColour(static_cast<QLabel*>(watched), true);
            // Not passed on: the tab control under the label would turn it blue again.
            return true;
        }
        if (std::find(tabSurface_.begin(), tabSurface_.end(), watched) != tabSurface_.end()) {
            setLinkColour(Label2_, false);
            setLinkColour(Label3_, false);
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* widget = static_cast<QWidget*>(watched);
        const bool clicked = mouse->button() == Qt::LeftButton &&
                             widget->rect().contains(mouse->position().toPoint());
        if (clicked && (watched == Label2_ || watched == Image1_)) {
            showTellAFriend();
            return true;
        }
        if (clicked && watched == Label3_) {
            openPage("/Pages/Pimbleroot.html");
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace quorvane::mainwindow
