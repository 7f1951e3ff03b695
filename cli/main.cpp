// quorvane-cli: the restrictions without a window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <iostream>
#include <variant>

#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/offline_command.h"
#include "cli/report_commands.h"
#include "cli/usage.h"
#include "platform/hive_store.h"
#include "platform/registry_location.h"
#include "toolkit/configuration_file.h"

namespace {

using namespace quorvane;
using namespace Qt::StringLiterals;
using cli::programName;
using cli::usageError;

constexpr const char* kDescription =
    "Shows, imposes and lifts Quorvane's 24 browser and system policy restrictions.\n"
    "\n"
    "Commands:\n"
    "  list [--json]              every restriction, whether it is in force, and what each\n"
    "                             hive holds\n"
    "  impose RESTRICTION...      impose restrictions 1 to 23 in both hives\n"
    "  lift RESTRICTION...        lift restrictions 1 to 24 in both hives\n"
    "  remove-all                 remove every restriction (File > Remove all Restrictions)\n"
    "  reset-pages                reset the browser's start and search pages\n"
    "  why [RESTRICTION...] [--json]  what will set restrictions again (exit 4 when something\n"
    "                             will)\n"
    "  fix [RESTRICTION...] [--dry-run] [--json]  stop what sets restrictions again (policy\n"
    "                             records, startup values and items, tasks), then lift them\n"
    "  export FILE.reg            the restrictions' values in both hives, as a registry file\n"
    "  export --policy user|machine FILE.pol  the restrictions in force, as a Registry.pol\n"
    "  undo                       put back what the last change changed (an undo is a change\n"
    "                             too: undo again to redo it)\n"
    "  undo --list                the undo entries, newest first: time, action, what changed\n"
    "\n"
    "A RESTRICTION is its number or its value name in any case (4 or NoBrowserClose).\n"
    "With --windows DIR every command works on the Windows installation mounted at DIR,\n"
    "for the user --user names (all: every user and the default profile, in turn).\n"
    "Exit status: 0 done, 1 standard output could not be written, 2 bad command line or\n"
    "unusable registry, 3 part was refused (what was not done, in which hive and why, is\n"
    "printed to standard error), 4 (why) something will set a restriction again.";

// Qt's help starts with "Usage: " and the whole path the program was started by.
std::string helpText(const QCommandLineParser& parser) {
    const QString usage = u"Usage: "_s;
    QString text = parser.helpText();
    const QString started = usage + QCoreApplication::arguments().constFirst();
    if (text.startsWith(started)) {
        text.replace(0, started.size(), usage + programName());
    }
    return text.toStdString();
}

// The restrictions named in `arguments`, or what is wrong with them.
Result<std::vector<int>> restrictionsOf(const QStringList& arguments, bool impose) {
    if (arguments.isEmpty()) {
        return failure("name at least one restriction");
    }
    std::vector<int> numbers;
    for (const QString& argument : arguments) {
        const auto number = cli::parseRestriction(argument.toStdString());
        if (!number) {
            return failure("no restriction '" + argument.toStdString() +
                           "': give a number from 1 to 24 or a value name such as NoBrowserClose");
        }
        if (impose && *number == restrictions::kWindowTitleRestriction) {
            return failure(
                "restriction 24 (Custom Window Title) can only be lifted, never imposed");
        }
        // Named twice, done and reported once.
        if (std::find(numbers.begin(), numbers.end(), *number) == numbers.end()) {
            numbers.push_back(*number);
        }
    }
    return numbers;
}

int runCommand(QCoreApplication& application) {
    if (const auto status = cli::runReportCommand(QCoreApplication::arguments())) {
        return *status;
    }
    if (const auto status = cli::runFixCommand(QCoreApplication::arguments())) {
        return *status;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption registryOption(
        u"registry"_s, u"Work on the hive files in DIR instead of the configured registry."_s,
        u"DIR"_s);
    const QCommandLineOption jsonOption(u"json"_s, u"With list, why or fix: print JSON."_s);
    const QCommandLineOption listOption(u"list"_s, u"With undo: list the undo entries."_s);
    // Taken by fix, which runs before this parser; listed here for --help.
    const QCommandLineOption dryRunOption(u"dry-run"_s,
                                          u"With fix: show what would change, change nothing."_s);
    // Taken by export, which runs before this parser; listed here for --help.
    const QCommandLineOption policyOption(
        u"policy"_s, u"With export: write a Registry.pol for the user or the machine half."_s,
        u"SCOPE"_s);
    parser.addOptions({registryOption, jsonOption, listOption, policyOption, dryRunOption});
    cli::addOfflineOptions(parser);
    parser.addPositionalArgument(
        u"command"_s, u"list, impose, lift, remove-all, reset-pages, why, fix, export or undo."_s);
    parser.addPositionalArgument(u"restrictions"_s, u"For impose and lift."_s,
                                 u"[RESTRICTION...]"_s);

    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText().toStdString());
    }
    if (parser.isSet(u"help-all"_s)) {
        parser.process(application);  // prints the help with Qt's own options, and exits
    }
    if (parser.isSet(helpOption)) {
        std::cout << helpText(parser);
        return cli::kExitSuccess;
    }
    if (parser.isSet(versionOption)) {
        std::cout << "quorvane-cli " << QUORVANE_VERSION << '\n';
        return cli::kExitSuccess;
    }

    QStringList arguments = parser.positionalArguments();
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    const bool switching = command == "impose"_L1 || command == "lift"_L1;
    std::vector<int> numbers;
    if (switching) {
        auto parsed = restrictionsOf(arguments, command == "impose"_L1);
        if (!parsed) {
            return usageError(parsed.failure().reason);
        }
        numbers = std::move(parsed).value();
    } else if (command != "list"_L1 && command != "remove-all"_L1 && command != "reset-pages"_L1 &&
               command != "undo"_L1) {
        return usageError(command.isEmpty() ? "name a command"
                                            : "unknown command '" + command.toStdString() + "'");
    } else if (!arguments.isEmpty()) {
        return usageError(command.toStdString() + " takes no arguments");
    }
    if (parser.isSet(jsonOption) && command != "list"_L1) {
        return usageError("--json goes with list and why only");
    }
    if (parser.isSet(policyOption)) {
        return usageError("--policy goes with export only");
    }
    if (parser.isSet(dryRunOption)) {
        return usageError("--dry-run goes with fix only");
    }
    if (parser.isSet(listOption) && command != "undo"_L1) {
        return usageError("--list goes with undo only");
    }

    if (const auto options = cli::checkOfflineOptions(parser); !options) {
        return usageError(options.failure().reason);
    }
    if (const auto refused = cli::registryOptionRefused(parser.isSet(registryOption),
                                                        parser.value(registryOption))) {
        return *refused;
    }
    const toolkit::Configuration configuration = toolkit::loadConfiguration();
    const auto run = [&](cli::Session& session) {
        if (command == "list"_L1) {
            return cli::listRestrictions(session, parser.isSet(jsonOption), std::cout);
        }
        if (switching) {
            return cli::switchRestrictions(session, numbers, command == "impose"_L1, std::cout);
        }
        if (command == "undo"_L1) {
            return cli::undoCommand(session, parser.isSet(listOption), std::cout);
        }
        return command == "remove-all"_L1 ? cli::removeAllRestrictions(session)
                                          : cli::resetHomeSearchPages(session);
    };
    if (cli::offlineRequested(parser)) {
        return cli::runOffline(
            parser, configuration,
            {parser.isSet(jsonOption) ? cli::OfflineOutput::ListJson : cli::OfflineOutput::Text,
             [&](cli::Session& session, const cli::OfflineTarget&) { return run(session); }});
    }
    const std::string directory = parser.isSet(registryOption)
                                      ? parser.value(registryOption).toStdString()
                                      : configuration.registryDirectory;
    const platform::RegistryLocation location = platform::locateRegistry(directory);
    // list and undo --list only read: they create nothing and read beside a running wineserver.
    const bool onlyReads =
        command == "list"_L1 || (command == "undo"_L1 && parser.isSet(listOption));
    std::unique_ptr<platform::RegistryApi> registry;
    try {
        registry = cli::openForCommand(location, onlyReads);
    } catch (const platform::StoreError& error) {
        std::cerr << "quorvane-cli: " << error.what() << '\n';
        return cli::kExitUsage;
    }
    cli::Session session(std::move(registry), configuration, std::cout, std::cerr,
                         journal::JournalPlace{journal::defaultUndoDirectory(),
                                               journal::registryIdentity(location)});
    return run(session);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    cli::useUnicodeConsole();
    QCoreApplication::setApplicationName(u"quorvane-cli"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    return cli::withOutputWritten(runCommand(application));
}
