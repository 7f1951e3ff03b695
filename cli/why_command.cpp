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

using namespace Qt::StringLiterals;

QJsonValue toJson(const std::optional<diagnosis::StoredValue>& value) {
    if (!value) {
        return QJsonValue();
    }
    return QJsonObject{{u"type"_s, static_cast<int>(value->type)},
                       {u"value"_s, QString::fromStdString(value->describe())}};
}

QJsonObject toJson(const diagnosis::Finding& finding) {
    QJsonArray numbers;
    for (int number : finding.restrictions) {
        numbers.append(number);
    }
    return {{u"source"_s, QString::fromUtf8(diagnosis::sourceName(finding.source))},
            {u"where"_s, QString::fromStdString(finding.where)},
            {u"item"_s, QString::fromStdString(finding.item)},
            {u"command"_s, QString::fromStdString(finding.command)},
            {u"setsRegistry"_s, finding.setsRegistry},
            {u"restrictions"_s, numbers}};
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
        states.append(QJsonObject{{u"number"_s, state.number},
                                  {u"inForce"_s, state.inForce},
                                  {u"currentUser"_s, toJson(state.currentUser)},
                                  {u"localMachine"_s, toJson(state.localMachine)}});
    }
    QJsonArray notes;
    for (const std::string& note : report.notes) {
        notes.append(QString::fromStdString(note));
    }
    return {{u"place"_s, QString::fromStdString(report.place)},
            {u"restrictions"_s, states},
            {u"returning"_s, toJson(report.returning)},
            {u"otherStartupItems"_s, toJson(report.otherStartupItems)},
            {u"notes"_s, notes}};
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
