// The main window: the 24 restriction check boxes on three tabs, the help page, the About page
// and the File menu.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "diagnosis/fix.h"
#include "diagnosis/places.h"
#include "journal/undo_journal.h"
#include "platform/registry_api.h"
#include "restrictions/outcome.h"
#include "toolkit/configuration.h"
#include "toolkit/form_controls.h"
#include "toolkit/message_box.h"

class QLabel;
class QTabWidget;

namespace quorvane::mailer {
class frmBugReport;
}

namespace quorvane::mainwindow {

class frmWhy;
class HelpBrowser;

// The help page's link to the report of why restrictions come back.
inline constexpr const char* kWhyLink = "quorvane:why";

class frmRestrict : public QMainWindow {
    Q_OBJECT

public:
    struct Dependencies {
        platform::RegistryApi& registry;
        toolkit::MessageBox& messages;
        toolkit::Configuration configuration;
        QString programDirectory;  // where Help.htm lies
        std::function<void(const QUrl&)>
            openUrl;                        // the user's browser; QDesktopServices when empty
        int mailerTickMilliseconds = 1000;  // the tell-a-friend window's timer
        diagnosis::Places places = {};      // where "Why do Restrictions come back?" looks
        // Where the undo entries of the window's changes go; none: no undo.
        std::optional<journal::JournalPlace> undo = std::nullopt;
        // What the window works on, for its title after the program's name; shortened in the
        // middle when the title bar is too narrow for it.
        QString title = {};
        // File > "Open a Windows installation…" asks for one and opens a window on it; without
        // this the item is not there.
        std::function<void(QWidget* parent)> openInstallation = {};
        // The window this one was opened from: it opens beside it, and closing it closes this
        // window alone. Without one it is the program's main window, whose closing ends the
        // program.
        QPointer<QWidget> opener = {};
    };

    explicit frmRestrict(Dependencies dependencies);
    ~frmRestrict() override;

    // The load sequence: detection (one registry batch), the help page, then show.
    void load();

public slots:
    // Opens the report of why restrictions come back, made afresh.
    void showWhy();
    // The help page's links of Quorvane's own scheme (kWhyLink).
    void openOwnLink(const QUrl& link);
    // Puts back what the last change changed, says how that went, and shows the boxes as the
    // registry holds them then, without running their switching actions.
    void undoLastChange();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Core;

    QRect twips(int left, int top, int width, int height) const;
    void createControls();
    void createRestrictionTabs();
    void createAboutTab();
    void bindCheckBoxes();
    void showTab(int index);
    void openPage(const char* path);
    void showTellAFriend();
    // "Stop these" in the report: what would change, then, once confirmed, the change.
    void planStop();
    void stopConfirmed();
    void setLinkColour(QLabel* label, bool hovered);
    // Says in the status line what the load-time rewrite could not do for want of administrator
    // rights, once and without a box: it is the same at every start.
    void tellMissingRights(const restrictions::Outcome& outcome);

    Dependencies dependencies_;
    bool endsProgram_;
    toolkit::TwipsScale scale_;
    std::unique_ptr<Core> core_;

    QTabWidget* SSTab1_ = nullptr;
    QLabel* Label2_ = nullptr;
    QLabel* Label3_ = nullptr;
    QLabel* Image1_ = nullptr;
    HelpBrowser* WebBrowser1_ = nullptr;
    // The controls each tab shows, children of SSTab1 itself so that their positions are
    // relative to the tab control as a whole; only the selected tab's are visible.
    std::array<std::vector<QWidget*>, 5> tabControls_;
    std::vector<QWidget*> tabSurface_;
    QPointer<mailer::frmBugReport> bugReport_;
    QPointer<frmWhy> why_;
    std::unique_ptr<diagnosis::FixPlan> stopPlan_;  // shown, waiting for "Confirm"
};

}  // namespace quorvane::mainwindow
