#include "cli/commands.h"

#include <charconv>
#include <iomanip>
#include <iostream>
#include <ostream>

#include "cli/hive_data.h"
#include "cli/json_text.h"
#include "journal/undo.h"
#include "toolkit/application.h"

namespace quorvane::cli {

namespace {

using restrictions::Restriction;

constexpr registry::Hive kHives[] = {registry::kHiveCurrentUser, registry::kHiveLocalMachine};

Json toJson(const HiveData& data) {
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
    return {{"found", "text"}, {"value", data.text}};
}

int exitStatusOf(const restrictions::Outcome& outcome) {
    return outcome.allDone() ? kExitSuccess : kExitRefused;
}

}  // namespace

std::unique_ptr<platform::RegistryApi> openForCommand(const platform::RegistryLocation& location,
                                                      bool onlyReads) {
    if (!onlyReads) {
        return platform::openRegistry(location);
    }
    platform::ReadingRegistry reading = platform::openRegistryToRead(location);
    if (!reading.note.empty()) {
        std::cerr << "quorvane-cli: note: " << reading.note << '\n';
    }
    return std::move(reading.registry);
}

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
    Json rows = Json::array();
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
            rows.push_back({{"number", restriction.number},
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
        out << jsonText(rows);
    }
    return kExitSuccess;
}

int switchRestrictions(Session& session, const std::vector<int>& numbers, bool impose,
                       std::ostream& out) {
    const std::string action = impose ? "impose" : "lift";
    std::string named = action;
    for (int number : numbers) {
        named.append(" ").append(restrictions::restrictionByNumber(number)->valueName);
    }
    restrictions::Outcome outcome;
    {
        // One undo entry for the whole command.
        const restrictions::JournalEntry entry(session.journal.get(), named);
        platform::BatchScope command(*session.platform);
        for (int number : numbers) {
            session.boxes.assign(number, impose ? toolkit::kChecked : toolkit::kUnchecked);
            outcome.merge(session.manager.SwitchRestriction(number));
        }
        outcome.storeFailed(command.finish());
    }
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
            const restrictions::Change* change = outcome.find(hive, action, restriction.valueName);
            if (!tookEffect && (change == nullptr || change->done())) {
                // Done as far as the registry said, yet not what it holds now.
                outcome.add({hive, action, restriction.valueName, platform::kRegistryIoFailed,
                             "the change did not stick"});
                change = &outcome.changes().back();
            }
            if (change != nullptr && !change->done()) {
                out << " (not " << (impose ? "imposed" : "lifted") << ": " << change->reason << ')';
            }
            out << (hive == registry::kHiveCurrentUser ? "," : "\n");
        }
    }
    if (!outcome.allDone()) {
        session.messages.show(restrictions::warningText(restrictions::kChangesRefused, outcome),
                              toolkit::kExclamation, toolkit::kApplicationTitle);
    }
    return exitStatusOf(outcome);
}

int removeAllRestrictions(Session& session) {
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
    return exitStatusOf(session.manager.RemoveAllRestrictions());
}

int resetHomeSearchPages(Session& session) {
    return exitStatusOf(session.manager.ResetHomeSearchPages());
}

int undoCommand(Session& session, bool list, std::ostream& out) {
    if (!list) {
        const journal::UndoResult result = journal::undoLast(*session.platform, *session.journal);
        journal::tellUndo(result, session.messages);
        return result.allDone() ? kExitSuccess : kExitRefused;
    }
    const journal::JournalListing listing = session.journal->list();
    if (!listing.failure.empty()) {
        std::cerr << "quorvane-cli: " << listing.failure << '\n';
        return kExitUsage;
    }
    if (listing.entries.empty() && listing.skipped.empty()) {
        out << "There is no change to undo.\n";
    }
    for (const journal::EntrySummary& entry : listing.entries) {
        out << entry.time << "  " << entry.action << '\n';
        if (!entry.entry) {
            out << "    cannot be undone: " << entry.unusable << '\n';
        }
        if (!entry.note.empty()) {
            out << "    " << entry.note << '\n';
        }
        for (const std::string& line : entry.changed) {
            out << "    " << line << '\n';
        }
    }
    for (const std::string& skipped : listing.skipped) {
        out << "Skipped: " << skipped << '\n';
    }
    return kExitSuccess;
}

}  // namespace quorvane::cli
