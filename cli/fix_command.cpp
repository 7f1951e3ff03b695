// quorvane-cli fix: stop what sets restrictions again, then lift them; one undo entry for all.
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <iostream>

#include "cli/commands.h"
#include "cli/offline_command.h"
#include "cli/report_commands.h"
#include "cli/usage.h"
#include "diagnosis/fix.h"
#include "platform/hive_store.h"
#include "platform/registry_location.h"
#include "restrictions/catalogue.h"
#include "toolkit/application.h"
#include "toolkit/configuration_file.h"

namespace quorvane::cli {

namespace {

using namespace Qt::StringLiterals;
using diagnosis::FixItem;

QString kindName(FixItem::Kind kind) {
    switch (kind) {
        case FixItem::Kind::PolicyRecords:
            return u"policy records"_s;
        case FixItem::Kind::StartupValue:
            return u"startup value"_s;
        case FixItem::Kind::StartupFile:
            return u"startup item"_s;
        case FixItem::Kind::Task:
            return u"scheduled task"_s;
        case FixItem::Kind::Left:
            break;
    }
    return u"left"_s;
}

QJsonObject planJson(const diagnosis::FixPlan& plan, const restrictions::Outcome* outcome) {
    QJsonArray items;
    for (const FixItem& item : plan.items) {
        items.append(QJsonObject{
            {u"kind"_s, kindName(item.kind)},
            {u"source"_s, QString::fromUtf8(diagnosis::sourceName(item.finding.source))},
            {u"where"_s, QString::fromStdString(item.finding.where)},
            {u"item"_s, QString::fromStdString(item.finding.item)},
            {u"change"_s, QString::fromStdString(item.change)}});
    }
    QJsonArray lift;
    for (const int number : plan.lift) {
        lift.append(number);
    }
    QJsonObject object{{u"changes"_s, items}, {u"lift"_s, lift}, {u"dryRun"_s, outcome == nullptr}};
    if (outcome != nullptr) {
        QJsonArray refused;
        for (const restrictions::Change& change : outcome->changes()) {
            if (!change.done()) {
                refused.append(QJsonObject{{u"action"_s, QString::fromStdString(change.action)},
                                           {u"item"_s, QString::fromStdString(change.item)},
                                           {u"reason"_s, QString::fromStdString(change.reason)}});
            }
        }
        object.insert(u"notDone"_s, refused);
    }
    return object;
}

int fix(Session& session, const diagnosis::Places& places, const std::vector<int>& numbers,
        bool dryRun, bool json) {
    const diagnosis::FixPlan plan =
        diagnosis::planFix(*session.platform, session.registry, places, numbers);
    if (!dryRun && session.journal == nullptr) {
        std::cerr << "quorvane-cli: fix changes nothing without an undo journal\n";
        return kExitUsage;
    }
    if (dryRun) {
        if (json) {
            std::cout << QJsonDocument(planJson(plan, nullptr)).toJson().toStdString();
        } else {
            std::cout << diagnosis::formatPlan(plan);
        }
        return plan.leavesSomething() ? kExitRefused : kExitSuccess;
    }
    if (!json) {
        std::cout << diagnosis::formatPlan(plan);
    }
    std::string action = "fix";
    for (const int number : numbers) {
        action.append(" ").append(restrictions::restrictionByNumber(number)->valueName);
    }
    const restrictions::Outcome outcome = diagnosis::stopAndLift(
        plan, action, *session.platform, *session.journal, places, session.manager,
        session.registry,
        [&session](int number) { session.boxes.assign(number, toolkit::kUnchecked); });
    if (json) {
        std::cout << QJsonDocument(planJson(plan, &outcome)).toJson().toStdString();
    }
    if (!outcome.allDone()) {
        session.messages.show(restrictions::warningText(diagnosis::kNotStopped, outcome),
                              toolkit::kExclamation, toolkit::kApplicationTitle);
        return kExitRefused;
    }
    if (!json) {
        std::cout << diagnosis::kStoppedText << '\n';
    }
    return kExitSuccess;
}

}  // namespace

std::optional<int> runFixCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption registryOption(u"registry"_s, QString(), u"DIR"_s);
    const QCommandLineOption jsonOption(u"json"_s, QString());
    const QCommandLineOption dryRunOption(u"dry-run"_s, QString());
    const QCommandLineOption helpOption({u"h"_s, u"?"_s, u"help"_s, u"help-all"_s}, QString());
    parser.addOptions({registryOption, jsonOption, dryRunOption, helpOption});
    addOfflineOptions(parser);
    if (!parser.parse(arguments)) {
        return arguments.contains("fix"_L1)
                   ? std::optional(usageError(parser.errorText().toStdString()))
                   : std::nullopt;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.first() != "fix"_L1 || parser.isSet(helpOption)) {
        return std::nullopt;
    }
    positional.removeFirst();
    std::vector<int> numbers;
    for (const QString& argument : positional) {
        const auto number = parseRestriction(argument.toStdString());
        if (!number) {
            return usageError("no restriction '" + argument.toStdString() +
                              "': give a number from 1 to 24 or a value name such as "
                              "NoBrowserClose");
        }
        if (std::find(numbers.begin(), numbers.end(), *number) == numbers.end()) {
            numbers.push_back(*number);
        }
    }
    if (const auto options = checkOfflineOptions(parser); !options) {
        return usageError(options.failure().reason);
    }
    const bool dryRun = parser.isSet(dryRunOption);
    const bool json = parser.isSet(jsonOption);
    const toolkit::Configuration configuration = toolkit::loadConfiguration();
    if (offlineRequested(parser)) {
        return runOffline(parser, configuration,
                          {json ? OfflineOutput::ObjectJson : OfflineOutput::Text,
                           [&](Session& session, const OfflineTarget& target) {
                               return fix(session,
                                          diagnosis::installationPlaces(
                                              target.root, target.description, target.home),
                                          numbers, dryRun, json);
                           }});
    }
    const platform::RegistryLocation location = platform::locateRegistry(
        parser.isSet(registryOption) ? parser.value(registryOption).toStdString()
                                     : configuration.registryDirectory);
    std::unique_ptr<platform::RegistryApi> registry;
    try {
        registry = openForCommand(location, dryRun);
    } catch (const platform::StoreError& error) {
        std::cerr << "quorvane-cli: " << error.what() << '\n';
        return kExitUsage;
    }
    Session session(std::move(registry), configuration, std::cout, std::cerr,
                    journal::JournalPlace{journal::defaultUndoDirectory(),
                                          journal::registryIdentity(location)});
#ifdef _WIN32
    const diagnosis::Places places = diagnosis::thisComputer();
#else
    const diagnosis::Places places = diagnosis::placesOf(location);
#endif
    return fix(session, places, numbers, dryRun, json);
}

}  // namespace quorvane::cli
