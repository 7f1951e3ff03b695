#include "journal/undo.h"

#include <variant>

#include "journal/whole_file.h"
#include "platform/narrow_text.h"

namespace quorvane::journal {

namespace {

using restrictions::PlannedChange;

// The hive and sub-key of a registry file's key; nothing for a key Quorvane does not manage or
// a whole hive, which an entry of its own never names.
std::optional<std::pair<registry::Hive, std::string>> splitKey(const std::u16string& key) {
    const std::string path = platform::utf16ToNarrow(key);
    for (const registry::Hive hive : {registry::kHiveCurrentUser, registry::kHiveLocalMachine}) {
        const std::string prefix = std::string(restrictions::hiveName(hive)) + "\\";
        if (path.size() > prefix.size() && path.starts_with(prefix)) {
            return std::pair{hive, path.substr(prefix.size())};
        }
    }
    return std::nullopt;
}

// The entry's sections as changes, in the order the registry editor would make them.
std::variant<std::vector<PlannedChange>, std::string> changesOf(
    const std::vector<RegSection>& sections) {
    std::vector<PlannedChange> changes;
    for (const RegSection& section : sections) {
        const auto key = splitKey(section.key);
        if (!key) {
            return "it names " + platform::utf16ToNarrow(section.key) +
                   ", which is no key below HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE";
        }
        const auto& [hive, subKey] = *key;
        if (section.deleted) {
            changes.push_back(PlannedChange::deleteKey(hive, subKey));
        } else if (section.values.empty()) {
            changes.push_back(PlannedChange::createKey(hive, subKey));
        }
        for (const RegValue& value : section.values) {
            const std::string name = platform::utf16ToNarrow(value.name);
            changes.push_back(value.deleted
                                  ? PlannedChange::deleteValue(hive, subKey, name)
                                  : PlannedChange::setValue(hive, subKey, name, value.type,
                                                            narrowData(value.type, value.data)));
        }
    }
    return changes;
}

bool ofAValue(const PlannedChange& change) {
    return change.kind == PlannedChange::Kind::SetValue ||
           change.kind == PlannedChange::Kind::DeleteValue;
}

Place placeOf(const PlannedChange& change) {
    return {change.hive, change.subKey,
            ofAValue(change) ? std::optional(change.valueName) : std::nullopt};
}

// Whether `later` decides what becomes of what `earlier` changed, so that only `later` can be
// read back.
bool supersedes(const PlannedChange& later, const PlannedChange& earlier) {
    const bool earlierDeletesKey = earlier.kind == PlannedChange::Kind::DeleteKey;
    if (earlierDeletesKey && placeOf(earlier).covers(later)) {
        return true;
    }
    return later.kind != PlannedChange::Kind::CreateKey && placeOf(later).covers(earlier);
}

std::string actionOf(const PlannedChange& change) {
    switch (change.kind) {
        case PlannedChange::Kind::SetValue:
            return "restore";
        case PlannedChange::Kind::DeleteValue:
            return "delete";
        case PlannedChange::Kind::CreateKey:
            return "make key";
        case PlannedChange::Kind::DeleteKey:
            break;
    }
    return "delete key";
}

restrictions::Change changeOf(const PlannedChange& change) {
    return {change.hive,
            actionOf(change),
            ofAValue(change) ? change.valueName : change.subKey,
            platform::kSuccess,
            {}};
}

void restore(platform::RegistryApi& registry, const std::vector<PlannedChange>& changes,
             restrictions::Outcome& outcome) {
    platform::BatchScope batch(registry);
    for (const PlannedChange& change : changes) {
        restrictions::Change done = changeOf(change);
        done.status = apply(registry, change);
        if (!done.done()) {
            done.reason =
                restrictions::refusalReason(change.hive, done.status, registry.lastFailure());
        }
        outcome.add(std::move(done));
    }
    outcome.storeFailed(batch.finish());
}

// Marks what the registry does not hold afterwards as not done.
restrictions::Outcome readBack(platform::RegistryApi& registry,
                               const std::vector<PlannedChange>& changes,
                               const restrictions::Outcome& restored) {
    restrictions::Outcome checked;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        restrictions::Change change = restored.changes()[i];
        bool decided = true;
        for (std::size_t later = i + 1; later < changes.size(); ++later) {
            decided = decided && !supersedes(changes[later], changes[i]);
        }
        if (change.done() && decided && !holds(registry, changes[i])) {
            change.status = platform::kRegistryIoFailed;
            change.reason = "the registry does not hold it afterwards";
        }
        checked.add(std::move(change));
    }
    return checked;
}

// Undoing an undo redoes the action, and undoing that undoes it again.
std::string undoName(const std::string& action) {
    if (action.starts_with("undo ")) {
        return "redo " + action.substr(5);
    }
    return "undo " + (action.starts_with("redo ") ? action.substr(5) : action);
}

}  // namespace

UndoResult undoLast(platform::RegistryApi& registry, UndoJournal& journal) {
    UndoResult result;
    const std::vector<EntrySummary> entries = journal.entries();
    if (entries.empty()) {
        return result;
    }
    result.entry = entries.front();
    result.kind = UndoResult::Kind::Unusable;
    const std::optional<std::string> bytes = readWholeFile(result.entry.file);
    if (!bytes) {
        result.failure = result.entry.file.string() + " cannot be read";
        return result;
    }
    const auto sections = readRegFile(*bytes);
    if (const auto* failure = std::get_if<std::string>(&sections)) {
        result.failure = result.entry.file.string() + " cannot be read: " + *failure;
        return result;
    }
    const auto changes = changesOf(std::get<0>(sections));
    if (const auto* failure = std::get_if<std::string>(&changes)) {
        result.failure = result.entry.file.string() + " is not undone: " + *failure;
        return result;
    }
    result.kind = UndoResult::Kind::Undone;
    const auto& plan = std::get<0>(changes);
    const restrictions::JournalEntry entry(&journal, undoName(result.entry.action));
    if (const auto failure = journal.record(plan)) {
        for (const PlannedChange& change : plan) {
            restrictions::Change refused = changeOf(change);
            refused.status = restrictions::kNoBackup;
            refused.reason = "changed nothing without a backup: " + *failure;
            result.outcome.add(std::move(refused));
        }
        return result;
    }
    restrictions::Outcome restored;
    restore(registry, plan, restored);
    result.outcome = readBack(registry, plan, restored);
    return result;
}

void tellUndo(const UndoResult& result, toolkit::MessageBox& messages) {
    switch (result.kind) {
        case UndoResult::Kind::NothingToUndo:
            messages.show("There is no change to undo.", toolkit::kInformation, kUndoTitle);
            return;
        case UndoResult::Kind::Unusable:
            messages.show("The last change cannot be undone: " + result.failure,
                          toolkit::kExclamation, kUndoTitle);
            return;
        case UndoResult::Kind::Undone:
            break;
    }
    if (result.outcome.allDone()) {
        messages.show("Undone: " + result.entry.action + " (" + result.entry.time + ").",
                      toolkit::kInformation, kUndoTitle);
    } else {
        messages.show(restrictions::warningText("The last change has not been undone everywhere!",
                                                result.outcome),
                      toolkit::kExclamation, kUndoTitle);
    }
}

}  // namespace quorvane::journal
