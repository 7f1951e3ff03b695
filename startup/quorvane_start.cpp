#include "startup/quorvane_start.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QProcess>
#include <QProcessEnvironment>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

#include "mainwindow/frm_restrict.h"
#ifndef _WIN32
#include "mainwindow/installation_window.h"
#endif
#include "platform/registry_location.h"
#include "startup/xp_manif.h"
#include "toolkit/artwork.h"
#include "toolkit/configuration_file.h"
#include "toolkit/file_path.h"
#include "toolkit/qt_message_box.h"

namespace quorvane::startup {

using namespace Qt::StringLiterals;

namespace {

// Starts the own executable again, with the same arguments (--windows DIR, say), marked as
// restarted. The program and its arguments go to the system as separate strings, so a path with
// spaces needs no quoting.
bool startAgain() {
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(QCoreApplication::arguments().mid(1));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromUtf8(kRestartedMarker), u"1"_s);
    process.setProcessEnvironment(environment);
    return process.startDetached();
}

}  // namespace

const char* const kUsage =
#ifdef _WIN32
    "Usage: quorvane\n"
#else
    "Usage: quorvane [--windows DIR [--user NAME]]\n"
#endif
    "\n"
    "Shows which of 24 browser and system policy restrictions are in force, and lifts or imposes\n"
    "them, in a window.\n"
    "\n"
#ifndef _WIN32
    "  --windows DIR  the Windows installation in DIR (not running, its disk mounted here)\n"
    "  --user NAME    the user of that installation whose restrictions to show\n"
#endif
    "  -h, --help     print this text and end\n"
    "\n"
    "quorvane-cli does the same from the command line.\n";

bool usageAsked(int argc, const char* const argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            return true;
        }
    }
    return false;
}

void chooseFontEngine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    if (wine && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
    }
#endif
}

int runQuorvane(QApplication& application) {
    QApplication::setApplicationName(u"Quorvane"_s);
    QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QApplication::setWindowIcon(toolkit::pictureIcon(toolkit::Picture::ProgramIcon));

    const toolkit::Configuration configuration = toolkit::loadConfiguration();

    // Read the marker once and drop it, so that programs this instance starts later (the
    // browser, say) do not inherit it.
    const bool restarted = qEnvironmentVariableIsSet(kRestartedMarker);
    qunsetenv(kRestartedMarker);

    // The manifest comes first: an instance about to end opens no registry.
    const StartContext context{
        toolkit::toFilePath(QCoreApplication::applicationDirPath()),
        baseNameOf(toolkit::toFilePath(QCoreApplication::applicationFilePath())), descriptionText(),
        restarted};
    if (start(context, startAgain) == StartOutcome::Restarted) {
        return 0;
    }

    toolkit::QtMessageBox messages;
#ifndef _WIN32
    // quorvane --windows DIR [--user NAME]: a Windows installation mounted here, for its user.
    const mainwindow::WindowServices services{messages, configuration,
                                              QCoreApplication::applicationDirPath()};
    QCommandLineParser parser;
    parser.addOptions({{u"windows"_s, QString(), u"DIR"_s}, {u"user"_s, QString(), u"NAME"_s}});
    if (parser.parse(QCoreApplication::arguments()) && parser.isSet(u"windows"_s)) {
        if (mainwindow::openInstallationWindow(parser.value(u"windows"_s), parser.value(u"user"_s),
                                               services) == nullptr) {
            return 2;
        }
        return application.exec();
    }
#endif
    std::unique_ptr<platform::RegistryApi> registry;
    const platform::RegistryLocation location =
        platform::locateRegistry(configuration.registryDirectory);
    try {
        registry = platform::openRegistry(location);
    } catch (const std::exception& error) {
        messages.show(error.what(), toolkit::kOkOnly, "");
        return 2;
    }

#ifdef _WIN32
    diagnosis::Places places = diagnosis::thisComputer();
#else
    diagnosis::Places places = diagnosis::placesOf(location);
#endif
    mainwindow::frmRestrict window({*registry,
                                    messages,
                                    configuration,
                                    QCoreApplication::applicationDirPath(),
                                    {},
                                    1000,
                                    std::move(places),
                                    journal::JournalPlace{journal::defaultUndoDirectory(),
                                                          journal::registryIdentity(location)},
                                    {},
#ifndef _WIN32
                                    mainwindow::installationOpener(services)
#else
                                    {}
#endif
    });
    window.load();
    return application.exec();
}

}  // namespace quorvane::startup
