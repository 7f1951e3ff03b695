// quorvane-cli: the restrictions without a window.
#include <functional>
#include <iostream>
#include <memory>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console_text.h"
#include "cli/offline_command.h"
#include "cli/report_commands.h"
#include "cli/usage.h"
#include "formats/utf16.h"
#include "platform/hive_store.h"
#include "platform/registry_location.h"
#include "toolkit/configuration_file.h"

namespace {

using namespace quorvane;
using cli::CommandLine;

// The words of the command line. On Windows they come from the wide command line, as UTF-8, so
// that a name outside the ANSI code page arrives whole.
std::vector<std::string> commandLineWords(int argc, char* argv[]) {
#ifdef _WIN32
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> words;
        for (int i = 0; i < count; ++i) {
            const std::wstring_view word(wide[i]);
            words.push_back(formats::utf16ToUtf8(std::u16string(word.begin(), word.end())));
        }
        LocalFree(wide);
        return words;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

// The command on one registry; `places` gives where why and fix look for what sets restrictions.
int runOn(cli::Session& session, const CommandLine& line,
          const std::function<diagnosis::Places()>& places) {
    const std::string& command = line.command;
    if (command == "list") {
        return cli::listRestrictions(session, line.json, std::cout);
    }
    if (command == "impose" || command == "lift") {
        return cli::switchRestrictions(session, line.restrictions, command == "impose", std::cout);
    }
    if (command == "undo") {
        return cli::undoCommand(session, line.list, std::cout);
    }
    if (command == "remove-all") {
        return cli::removeAllRestrictions(session);
    }
    if (command == "reset-pages") {
        return cli::resetHomeSearchPages(session);
    }
    if (command == "why") {
        return cli::whyCommand(session, places(), line.restrictions, line.json);
    }
    if (command == "fix") {
        return cli::fixCommand(session, places(), line.restrictions, line.dryRun, line.json);
    }
    return cli::exportCommand(session, line.arguments.front(), line.policy);
}

int runOffline(const CommandLine& line, const toolkit::Configuration& configuration) {
    cli::OfflineOutput output = cli::OfflineOutput::Text;
    if (line.json) {
        output =
            line.command == "list" ? cli::OfflineOutput::ListJson : cli::OfflineOutput::ObjectJson;
    }
    return cli::runOffline(
        line, configuration,
        {output, [&line](cli::Session& session, const cli::OfflineTarget& target) {
             return runOn(session, line, [&target] {
                 return diagnosis::installationPlaces(target.root, target.description, target.home);
             });
         }});
}

int runCommand(const CommandLine& line) {
    const toolkit::Configuration configuration = toolkit::loadConfiguration();
    if (line.offline()) {
        return runOffline(line, configuration);
    }
    const std::string& command = line.command;
    const platform::RegistryLocation location =
        platform::locateRegistry(line.registry.value_or(configuration.registryDirectory));
    // Commands that only read create nothing and read beside a running wineserver.
    const bool onlyReads = command == "list" || command == "why" || command == "export" ||
                           (command == "undo" && line.list) || (command == "fix" && line.dryRun);
    std::unique_ptr<platform::RegistryApi> registry;
    try {
        registry = cli::openForCommand(location, onlyReads);
    } catch (const platform::StoreError& error) {
        std::cerr << "quorvane-cli: " << error.what() << '\n';
        return cli::kExitUsage;
    }
    // why and export keep no undo entries.
    std::optional<journal::JournalPlace> undo;
    if (command != "why" && command != "export") {
        undo = journal::JournalPlace{journal::defaultUndoDirectory(),
                                     journal::registryIdentity(location)};
    }
    cli::Session session(std::move(registry), configuration, std::cout, std::cerr, std::move(undo));
    return runOn(session, line, [&location] {
#ifdef _WIN32
        static_cast<void>(location);
        return diagnosis::thisComputer();
#else
        return diagnosis::placesOf(location);
#endif
    });
}

int run(int argc, char* argv[]) {
    const auto parsed = cli::parseCommandLine(commandLineWords(argc, argv));
    if (const int* status = std::get_if<int>(&parsed)) {
        return *status;
    }
    const CommandLine& line = std::get<CommandLine>(parsed);
    if (line.help) {
        std::cout << cli::helpText();
        return cli::kExitSuccess;
    }
    if (line.version) {
        std::cout << "quorvane-cli " << QUORVANE_VERSION << '\n';
        return cli::kExitSuccess;
    }
    return runCommand(line);
}

}  // namespace

int main(int argc, char* argv[]) {
    cli::useUnicodeConsole();
    return cli::withOutputWritten(run(argc, argv));
}
