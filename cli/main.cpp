// quorvane-cli: the restrictions without a window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <iostream>
#include <variant>

#include "cli/commands.h"
#include "platform/hive_store.h"
#include "platform/registry_location.h"
#include "toolkit/configuration_file.h"

namespace {

using namespace quorvane;

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
    "\n"
    "A RESTRICTION is its number or its value name in any case (4 or NoBrowserClose).\n"
    "Exit status: 0 done, 2 bad command line or unusable registry, 3 part was refused.";

int usageError(const std::string& message) {
    std::cerr << "quorvane-cli: " << message << "\nTry 'quorvane-cli --help'.\n";
    return cli::kExitUsage;
}

// The restrictions named in `arguments`, or an error message.
std::variant<std::vector<int>, std::string> restrictionsOf(const QStringList& arguments,
                                                           bool impose) {
    if (arguments.isEmpty()) {
        return std::string("name at least one restriction");
    }
    std::vector<int> numbers;
    for (const QString& argument : arguments) {
        const auto number = cli::parseRestriction(argument.toStdString());
        if (!number) {
            return "no restriction '" + argument.toStdString() +
                   "': give a number from 1 to 24 or a value name such as NoBrowserClose";
        }
        if (impose && *number == restrictions::kWindowTitleRestriction) {
            return std::string(
                "restriction 24 (Custom Window Title) can only be lifted, never imposed");
        }
        numbers.push_back(*number);
    }
    return numbers;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("quorvane-cli");
    QCoreApplication::setApplicationVersion(QUORVANE_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption registryOption(
        "registry", "Work on the hive files in DIR instead of the configured registry.", "DIR");
    const QCommandLineOption jsonOption("json", "With list: print JSON.");
    parser.addOption(registryOption);
    parser.addOption(jsonOption);
    parser.addPositionalArgument("command", "list, impose, lift, remove-all or reset-pages.");
    parser.addPositionalArgument("restrictions", "For impose and lift.", "[RESTRICTION...]");

    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText().toStdString());
    }
    if (parser.isSet(helpOption)) {
        std::cout << parser.helpText().toStdString();
        return cli::kExitSuccess;
    }
    if (parser.isSet(versionOption)) {
        std::cout << "quorvane-cli " << QUORVANE_VERSION << '\n';
        return cli::kExitSuccess;
    }

    QStringList arguments = parser.positionalArguments();
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    const bool switching = command == "impose" || command == "lift";
    std::vector<int> numbers;
    if (switching) {
        auto parsed = restrictionsOf(arguments, command == "impose");
        if (auto* error = std::get_if<std::string>(&parsed)) {
            return usageError(*error);
        }
        numbers = std::get<std::vector<int>>(parsed);
    } else if (command != "list" && command != "remove-all" && command != "reset-pages") {
        return usageError(command.isEmpty() ? "name a command"
                                            : "unknown command '" + command.toStdString() + "'");
    } else if (!arguments.isEmpty()) {
        return usageError(command.toStdString() + " takes no arguments");
    }
    if (parser.isSet(jsonOption) && command != "list") {
        return usageError("--json goes with list only");
    }

#ifdef _WIN32
    // Windows has the registry itself, and hive files are not opened there: saying so beats
    // changing the real registry when the user meant a directory.
    if (parser.isSet(registryOption)) {
        return usageError("--registry is for hive files; on Windows the registry itself is used");
    }
#endif
    const toolkit::Configuration configuration = toolkit::loadConfiguration();
    const std::string directory = parser.isSet(registryOption)
                                      ? parser.value(registryOption).toStdString()
                                      : configuration.registryDirectory;
    std::unique_ptr<platform::RegistryApi> registry;
    try {
        registry = platform::openRegistry(platform::locateRegistry(directory));
    } catch (const platform::StoreError& error) {
        std::cerr << "quorvane-cli: " << error.what() << '\n';
        return cli::kExitUsage;
    }
    cli::Session session(std::move(registry), configuration, std::cout);
    if (command == "list") {
        return cli::listRestrictions(session, parser.isSet(jsonOption), std::cout);
    }
    if (switching) {
        return cli::switchRestrictions(session, numbers, command == "impose", std::cout, std::cerr);
    }
    return command == "remove-all" ? cli::removeAllRestrictions(session, std::cerr)
                                   : cli::resetHomeSearchPages(session, std::cerr);
}
