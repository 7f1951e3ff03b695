#include "cli/report_commands.h"

#include <QCommandLineParser>
#include <iostream>

#include "cli/commands.h"
#include "cli/offline_command.h"
#include "cli/session.h"
#include "cli/usage.h"
#include "platform/hive_store.h"
#include "platform/registry_location.h"
#include "toolkit/configuration_file.h"

namespace quorvane::cli {

using namespace Qt::StringLiterals;

std::optional<int> runReportCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption registryOption(u"registry"_s, QString(), u"DIR"_s);
    const QCommandLineOption jsonOption(u"json"_s, QString());
    const QCommandLineOption policyOption(u"policy"_s, QString(), u"SCOPE"_s);
    // The help is the program's one help, which the main parser prints.
    const QCommandLineOption helpOption({u"h"_s, u"?"_s, u"help"_s, u"help-all"_s}, QString());
    parser.addOptions({registryOption, jsonOption, policyOption, helpOption});
    addOfflineOptions(parser);
    const bool named = arguments.contains("why"_L1) || arguments.contains("export"_L1);
    if (!parser.parse(arguments)) {
        return named ? std::optional(usageError(parser.errorText().toStdString())) : std::nullopt;
    }
    if (parser.positionalArguments().isEmpty() || parser.isSet(helpOption)) {
        return std::nullopt;
    }
    QStringList positional = parser.positionalArguments();
    const QString command = positional.takeFirst();
    if (command != "why"_L1 && command != "export"_L1) {
        return std::nullopt;
    }
    if (parser.isSet(jsonOption) && command != "why"_L1) {
        return usageError("--json goes with list and why only");
    }
    if (parser.isSet(policyOption) && command != "export"_L1) {
        return usageError("--policy goes with export only");
    }
    if (const auto refused =
            registryOptionRefused(parser.isSet(registryOption), parser.value(registryOption))) {
        return *refused;
    }

    if (const auto options = checkOfflineOptions(parser); !options) {
        return usageError(options.failure().reason);
    }
    const toolkit::Configuration configuration = toolkit::loadConfiguration();
    if (offlineRequested(parser)) {
        if (command == "export"_L1 && everyUser(parser)) {
            return usageError("export writes one file: name one user with --user");
        }
        const bool json = parser.isSet(jsonOption);
        return runOffline(
            parser, configuration,
            {json ? OfflineOutput::ObjectJson : OfflineOutput::Text,
             [&](Session& session, const OfflineTarget& target) {
                 if (command == "export"_L1) {
                     return exportCommand(session, positional, parser.value(policyOption));
                 }
                 return whyCommand(
                     session,
                     diagnosis::installationPlaces(target.root, target.description, target.home),
                     positional, json);
             }});
    }
    const platform::RegistryLocation location = platform::locateRegistry(
        parser.isSet(registryOption) ? parser.value(registryOption).toStdString()
                                     : configuration.registryDirectory);
    std::unique_ptr<platform::RegistryApi> registry;
    try {
        registry = openForCommand(location, true);
    } catch (const platform::StoreError& error) {
        std::cerr << "quorvane-cli: " << error.what() << '\n';
        return kExitUsage;
    }
    Session session(std::move(registry), configuration, std::cout, std::cerr);
    if (command == "export"_L1) {
        return exportCommand(session, positional, parser.value(policyOption));
    }
#ifdef _WIN32
    const diagnosis::Places places = diagnosis::thisComputer();
#else
    const diagnosis::Places places = diagnosis::placesOf(location);
#endif
    return whyCommand(session, places, positional, parser.isSet(jsonOption));
}

}  // namespace quorvane::cli
