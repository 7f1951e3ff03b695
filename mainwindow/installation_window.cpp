#include "mainwindow/installation_window.h"

#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QStatusBar>

#include "formats/result.h"
#include "journal/offline_place.h"
#include "platform/hive_store.h"
#include "platform/offline_registry.h"
#include "platform/windows_installation.h"
#include "toolkit/application.h"

namespace quorvane::mainwindow {

namespace {

namespace fs = std::filesystem;
using namespace Qt::StringLiterals;

// Keeps the registry of a window for as long as the window lives: a child is deleted after the
// window's own members, the restriction logic that uses the registry among them.
class RegistryKeeper final : public QObject {
public:
    explicit RegistryKeeper(std::unique_ptr<platform::OfflineRegistry> registry)
        : registry_(std::move(registry)) {}
    platform::OfflineRegistry& registry() { return *registry_; }

private:
    std::unique_ptr<platform::OfflineRegistry> registry_;
};

QString text(const std::string& narrow) {
    return QString::fromStdString(narrow);
}

}  // namespace

InstallationChoosers systemChoosers() {
    return {[](QWidget* parent) {
                return QFileDialog::getExistingDirectory(parent, u"Open a Windows installation"_s,
                                                         QString(), QFileDialog::ShowDirsOnly);
            },
            [](QWidget* parent, const QString& folder, const QStringList& users) {
                bool chosen = false;
                const QString user = QInputDialog::getItem(
                    parent, u"Open a Windows installation"_s,
                    u"The Windows installation in %1 has several users. Whose restrictions?"_s.arg(
                        folder),
                    users, 0, false, &chosen);
                return chosen ? user : QString();
            }};
}

frmRestrict* openInstallationWindow(const QString& folder, const QString& user,
                                    const WindowServices& services, QWidget* opener) {
    const auto refuse = [&](const std::string& reason) -> frmRestrict* {
        services.messages.show(reason, toolkit::kExclamation, toolkit::kApplicationTitle);
        return nullptr;
    };
    std::error_code error;
    const fs::path root = fs::canonical(QFile::encodeName(folder).toStdString(), error);
    if (error) {
        return refuse(folder.toStdString() + " cannot be opened: " + describeError(error));
    }
    platform::WindowsInstallation installation;
    try {
        installation = platform::findWindowsInstallation(root);
    } catch (const platform::StoreError& failure) {
        return refuse(failure.what());
    }
    const platform::WindowsUser* chosen =
        user.isEmpty() ? platform::onlyUser(installation)
                       : platform::findUser(installation, user.toStdString());
    if (chosen == nullptr && user.isEmpty() && !installation.users.empty()) {
        QStringList names;
        for (const platform::WindowsUser& listed : installation.users) {
            names.append(text(listed.name));
        }
        const QString answer = services.choosers.chooseUser(nullptr, text(root.string()), names);
        if (answer.isEmpty()) {
            return nullptr;
        }
        chosen = platform::findUser(installation, answer.toStdString());
    }
    if (chosen == nullptr) {
        return refuse("The Windows installation in " + root.string() + " has no user " +
                      (user.isEmpty() ? "with a registry (Users/NAME/NTUSER.DAT)."
                                      : "'" + user.toStdString() + "'."));
    }

    const journal::OfflinePlace place = journal::offlinePlace(installation, *chosen);
    std::unique_ptr<platform::OfflineRegistry> registry;
    try {
        registry = std::make_unique<platform::OfflineRegistry>(
            platform::hivesOf(installation, *chosen, place.backups));
    } catch (const platform::StoreError& failure) {
        return refuse(failure.what());
    }
    auto* keeper = new RegistryKeeper(std::move(registry));
    auto* window = new frmRestrict(
        {keeper->registry(), services.messages, services.configuration, services.programDirectory,
         services.openUrl, services.mailerTickMilliseconds,
         diagnosis::installationPlaces(root, place.description, chosen->hive.parent_path()),
         place.undo, text(chosen->name + " on " + root.filename().string()),
         installationOpener(services), opener});
    keeper->setParent(window);
    // The title names the installation's folder; the status line says where it is.
    auto* lblPlace = new QLabel(u"Windows installation in "_s + text(root.string()));
    lblPlace->setObjectName(u"lblPlace"_s);
    window->statusBar()->setSizeGripEnabled(false);
    window->statusBar()->addWidget(lblPlace, 1);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->load();
    return window;
}

std::function<void(QWidget* parent)> installationOpener(const WindowServices& services) {
    return [services](QWidget* parent) {
        const QString folder = services.choosers.chooseFolder(parent);
        if (!folder.isEmpty()) {
            openInstallationWindow(folder, {}, services, parent);
        }
    };
}

}  // namespace quorvane::mainwindow
