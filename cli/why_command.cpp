// quorvane-cli why: where each restriction is set and what will set it again.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <iostream>

#include "cli/commands.h"
#include "cli/report_commands.h"
#include "diagnosis/diagnosis.h"

namespace quorvane::cli {

namespace {

QJsonValue toJson(const std::optional<diagnosis::StoredValue>& value) {
    if (!value) {
        return QJsonValue();
    }
    return QJsonObject{{"type", static_cast<int>(value->type)},
                       {"value", QString::fromStdString(value->describe())}};
}

QJsonObject toJson(const diagnosis::Finding& finding) {
    QJsonArray numbers;
    for (int number : finding.restrictions) {
        numbers.append(number);
    }
    return {{"source", diagnosis::sourceName(finding.source)},
            {"where", QString::fromStdString(finding.where)},
            {"item", QString::fromStdString(finding.item)},
            {"command", QString::fromStdString(finding.command)},
            {"setsRegistry", finding.setsRegistry},
            {"restrictions", numbers}};
}

QJsonArray toJson(const std::vector<diagnosis::Finding>& findings) {
    QJsonArray array;
    for (const diagnosis::Finding& finding : findings) {
        array.append(toJson(finding));
    }
    return array;
}

QJsonObject toJson(const diagnosis::Report& report) {
    QJsonArray states;
    for (const diagnosis::RestrictionState& state : report.states) {
        states.append(QJsonObject{{"number", state.number},
                                  {"inForce", state.inForce},
                                  {"currentUser", toJson(state.currentUser)},
                                  {"localMachine", toJson(state.localMachine)}});
    }
    QJsonArray notes;
    for (const std::string& note : report.notes) {
        notes.append(QString::fromStdString(note));
    }
    return {{"place", QString::fromStdString(report.place)},
            {"restrictions", states},
            {"returning", toJson(report.returning)},
            {"otherStartupItems", toJson(report.otherStartupItems)},
            {"notes", notes}};
}

}  // namespace

int whyCommand(Session& session, const diagnosis::Places& places, const QStringList& arguments,
               bool json) {
    std::vector<int> numbers;
    for (const QString& argument : arguments) {
        const auto number = parseRestriction(argument.toStdString());
        if (!number) {
            std::cerr << "quorvane-cli: no restriction '" << argument.toStdString()
                      << "': give a number from 1 to 24 or a value name such as NoBrowserClose\n";
            return kExitUsage;
        }
        numbers.push_back(*number);
    }
    const diagnosis::Report report =
        diagnosis::diagnose(*session.platform, session.registry, places, numbers);
    if (json) {
        std::cout << QJsonDocument(toJson(report)).toJson(QJsonDocument::Indented).toStdString();
    } else {
        std::cout << diagnosis::formatReport(report);
    }
    return report.somethingReturns() ? kExitReturns : kExitSuccess;
}

}  // namespace quorvane::cli
