#include "cli/commands.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <charconv>
#include <iomanip>
#include <ostream>

#include "cli/hive_data.h"

namespace quorvane::cli {

namespace {

using restrictions::Restriction;

constexpr registry::Hive kHives[] = {registry::kHiveCurrentUser, registry::kHiveLocalMachine};

QJsonObject toJson(const HiveData& data) {
    switch (data.found) {
        case HiveData::Found::Absent:
            return {{"found", "absent"}};
        case HiveData::Found::Unreadable:
            return {{"found", "unreadable"}};
        case HiveData::Found::Number:
            return {{"found", "number"}, {"value", data.number}};
        case HiveData::Found::Text:
            break;
    }
    return {{"found", "text"}, {"value", QString::fromStdString(data.text)}};
}

// Whether the key may be opened for writing; opens nothing for long, writes nothing.
platform::Status writeAccess(Session& session, registry::Hive hive, const std::string& subKey) {
    platform::KeyHandle key = 0;
    const platform::Status status =
        session.platform->openKey(hive, subKey, platform::kKeyWrite, key);
    if (status == platform::kSuccess) {
        session.platform->closeKey(key);
    }
    return status;
}

// Why a change to `restriction` in `hive` did not take effect, as far as the registry tells.
std::string refusalReason(Session& session, registry::Hive hive, const Restriction& restriction) {
    platform::Status status = writeAccess(session, hive, "");
    if (status == platform::kSuccess) {
        status = writeAccess(session, hive, restriction.subKey);
    }
    const std::string failure = session.manager.lastStoreFailure();
    if (!failure.empty()) {
        return failure;
    }
    switch (status) {
        case platform::kAccessDenied:
            return "no write access";
        case platform::kFileNotFound:
            return "its key is missing";
        case platform::kSuccess:
            return "the change did not stick";
        default:
            return "registry status " + std::to_string(status);
    }
}

int reportStoreFailure(Session& session, std::ostream& err) {
    const std::string& failure = session.manager.lastStoreFailure();
    if (failure.empty()) {
        return kExitSuccess;
    }
    err << "quorvane-cli: the change was not stored: " << failure << '\n';
    return kExitRefused;
}

}  // namespace

std::optional<int> parseRestriction(const std::string& argument) {
    int number = 0;
    const auto [end, error] =
        std::from_chars(argument.data(), argument.data() + argument.size(), number);
    if (error == std::errc() && end == argument.data() + argument.size()) {
        return restrictions::restrictionByNumber(number) ? std::optional(number) : std::nullopt;
    }
    const auto byName = restrictions::restrictionByValueName(argument);
    return byName ? std::optional(byName->number) : std::nullopt;
}

int listRestrictions(Session& session, bool json, std::ostream& out) {
    QJsonArray rows;
    if (!json) {
        out << "No. In force  Tab/col/row  " << std::left << std::setw(37) << "Restriction"
            << std::setw(20) << "HKEY_CURRENT_USER"
            << "HKEY_LOCAL_MACHINE\n";
    }
    for (const Restriction& restriction : restrictions::kCatalogue) {
        const bool inForce = restrictions::isInForce(session.registry, restriction);
        const HiveData user = readHiveData(*session.platform, session.registry,
                                           registry::kHiveCurrentUser, restriction);
        const HiveData machine = readHiveData(*session.platform, session.registry,
                                              registry::kHiveLocalMachine, restriction);
        if (json) {
            rows.append(QJsonObject{{"number", restriction.number},
                                    {"caption", restriction.caption},
                                    {"valueName", restriction.valueName},
                                    {"tab", restriction.tab},
                                    {"column", restriction.column},
                                    {"row", restriction.row},
                                    {"position", restriction.position},
                                    {"inForce", inForce},
                                    {"currentUser", toJson(user)},
                                    {"localMachine", toJson(machine)}});
            continue;
        }
        const std::string place = std::to_string(restriction.tab) + "/" +
                                  std::to_string(restriction.column) + "/" +
                                  std::to_string(restriction.row);
        out << std::right << std::setw(3) << restriction.number << ' ' << std::left << std::setw(10)
            << (inForce ? "yes" : "no") << std::setw(13) << place << std::setw(37)
            << restriction.caption << std::setw(20) << user.describe() << machine.describe()
            << '\n';
    }
    if (json) {
        out << QJsonDocument(rows).toJson(QJsonDocument::Indented).toStdString();
    }
    return kExitSuccess;
}

int switchRestrictions(Session& session, const std::vector<int>& numbers, bool impose,
                       std::ostream& out, std::ostream& err) {
    {
        platform::BatchScope command(*session.platform);
        for (int number : numbers) {
            session.boxes.assign(number, impose ? toolkit::kChecked : toolkit::kUnchecked);
            session.manager.SwitchRestriction(number);
        }
        static_cast<void>(command.finish());
    }
    std::vector<std::string> refused;
    for (int number : numbers) {
        const Restriction restriction = *restrictions::restrictionByNumber(number);
        out << number << ' ' << restriction.caption << " (" << restriction.valueName << "):";
        for (registry::Hive hive : kHives) {
            const HiveData data =
                readHiveData(*session.platform, session.registry, hive, restriction);
            const bool tookEffect = impose
                                        ? data.found == HiveData::Found::Number && data.number == 1
                                        : data.found == HiveData::Found::Absent;
            out << ' ' << hiveName(hive) << ' ' << data.describe();
            if (!tookEffect) {
                const std::string reason = refusalReason(session, hive, restriction);
                out << " (not " << (impose ? "imposed" : "lifted") << ": " << reason << ')';
                refused.push_back(std::string(restriction.valueName) + " in " + hiveName(hive) +
                                  " (" + reason + ")");
            }
            out << (hive == registry::kHiveCurrentUser ? "," : "\n");
        }
    }
    if (refused.empty()) {
        return kExitSuccess;
    }
    err << "quorvane-cli: not everything took effect:";
    for (const std::string& what : refused) {
        err << "\n  " << what;
    }
    err << '\n';
    return kExitRefused;
}

int removeAllRestrictions(Session& session, std::ostream& err) {
    // The boxes show what the window would show, so that clearing them runs the lifting actions
    // of the restrictions in force, as in the window.
    for (const Restriction& restriction : restrictions::kCatalogue) {
        session.boxes.assign(restriction.number,
                             restrictions::isInForce(session.registry, restriction)
                                 ? toolkit::kChecked
                                 : toolkit::kUnchecked);
    }
    session.boxes.setClickHandler(
        [&session](int number) { session.manager.SwitchRestriction(number); });
    session.manager.RemoveAllRestrictions();
    return reportStoreFailure(session, err);
}

int resetHomeSearchPages(Session& session, std::ostream& err) {
    session.manager.ResetHomeSearchPages();
    return reportStoreFailure(session, err);
}

}  // namespace quorvane::cli
