// Main windows on a Windows installation that is not running (its disk mounted on Linux): one
// user's registry in the installation's hive files, its own undo entries and the installation's
// folders for the report of why restrictions come back.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "mainwindow/frm_restrict.h"

namespace quorvane::mainwindow {

// How the user names an installation and one of its users; the tests put their own in.
struct InstallationChoosers {
    // The installation's folder, or empty when the user cancelled.
    std::function<QString(QWidget* parent)> chooseFolder;
    // One of `users` of the installation in `folder`, or empty when the user cancelled.
    std::function<QString(QWidget* parent, const QString& folder, const QStringList& users)>
        chooseUser;
};

// A folder chooser (QFileDialog) and a list to choose from (QInputDialog).
InstallationChoosers systemChoosers();

// What every window needs besides its registry.
struct WindowServices {
    toolkit::MessageBox& messages;
    toolkit::Configuration configuration;
    QString programDirectory;
    std::function<void(const QUrl&)> openUrl = {};
    int mailerTickMilliseconds = 1000;
    InstallationChoosers choosers = systemChoosers();
};

// Opens and shows a window on a user of the installation in `folder`: `user`, else the profile
// list's only user, else the one `chooseUser` gives. The window owns its registry, deletes
// itself when closed, names the user and the installation's folder in its title (and where the
// folder is in its status line) and offers
// File > "Open a Windows installation…" again. Opened from `opener`, it opens beside it and its
// closing ends only itself; without one it is the program's main window. Null when cancelled,
// or after saying why there is no window through the messages.
frmRestrict* openInstallationWindow(const QString& folder, const QString& user,
                                    const WindowServices& services, QWidget* opener = nullptr);

// For frmRestrict::Dependencies::openInstallation: asks for a folder, then opens a window on it.
std::function<void(QWidget* parent)> installationOpener(const WindowServices& services);

}  // namespace quorvane::mainwindow
