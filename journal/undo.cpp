#include "journal/undo.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "formats/file_access.h"
#include "formats/result.h"
#include "journal/file_change.h"
#include "platform/letter_case.h"

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;
using platform::lowerCase;
using restrictions::PlannedChange;

std::string itemOf(const Record& record) {
    if (record.kind == Record::Kind::Key) {
        return record.subKey;
    }
    return (record.valueName.empty() ? std::string("(default)") : record.valueName) + " in " +
           record.subKey;
}

std::string actionOf(const Record& record) {
    if (record.kind == Record::Kind::Key) {
        return record.before.present ? "make key" : "delete key";
    }
    return record.before.present ? "restore" : "delete";
}

// What the keys hold now, each read once for all the records of that key.
class Present {
public:
    explicit Present(platform::RegistryApi& registry) : registry_(registry) {}

    const KeyContents& of(registry::Hive hive, const std::string& subKey) {
        auto [it, added] = keys_.try_emplace({hive, lowerCase(subKey)});
        if (added) {
            it->second = readKey(registry_, hive, subKey);
        }
        return it->second;
    }

    // The state of a record's place now; none when it cannot be read.
    std::optional<PlaceState> stateOf(const Record& record) {
        const KeyContents& key = of(record.hive, record.subKey);
        if (key.status == platform::kFileNotFound) {
            return PlaceState{};
        }
        if (key.status != platform::kSuccess) {
            return std::nullopt;
        }
        if (record.kind == Record::Kind::Key) {
            return PlaceState{true, 0, {}};
        }
        const auto it = key.values.find(lowerCase(record.valueName));
        if (it == key.values.end()) {
            return PlaceState{};
        }
        return PlaceState{true, it->second.first, it->second.second};
    }

private:
    platform::RegistryApi& registry_;
    std::map<std::pair<registry::Hive, std::string>, KeyContents> keys_;
};

// What the undo will do to one place, and what it is to hold afterwards.
struct Step {
    Record record;
    PlannedChange change;
    std::string folded;  // the key, for putting steps in order
};

PlannedChange changeFor(const Record& record) {
    if (record.kind == Record::Kind::Key) {
        return record.before.present ? PlannedChange::createKey(record.hive, record.subKey)
                                     : PlannedChange::deleteKey(record.hive, record.subKey);
    }
    return record.before.present
               ? PlannedChange::setValue(record.hive, record.subKey, record.valueName,
                                         record.before.type, record.before.data)
               : PlannedChange::deleteValue(record.hive, record.subKey, record.valueName);
}

restrictions::Change leftAlone(const Record& record, const std::string& why) {
    return {record.hive, actionOf(record), itemOf(record), kLeftAlone, why};
}

// The three-way merge: the steps that put back what is still as the action left it, in the
// order they must run (keys to make, parents first; values; keys to delete, children first).
// What is left alone goes into `outcome`.
std::vector<Step> plan(const UndoEntry& entry, Present& present, restrictions::Outcome& outcome) {
    std::vector<Step> makeKeys, values, deleteKeys;
    std::set<std::tuple<registry::Hive, std::string, std::string>> valuesDeleted, valuesNamed;
    std::set<std::pair<registry::Hive, std::string>> keysNamed;
    for (const Record& record : entry.records) {
        if (record.kind == Record::Kind::Key) {
            keysNamed.emplace(record.hive, lowerCase(record.subKey));
        } else {
            valuesNamed.emplace(record.hive, lowerCase(record.subKey), lowerCase(record.valueName));
        }
    }
    for (const Record& record : entry.records) {
        const std::optional<PlaceState> now = present.stateOf(record);
        if (!now) {
            outcome.add({record.hive, actionOf(record), itemOf(record),
                         present.of(record.hive, record.subKey).status,
                         "it cannot be read; left as it is"});
            continue;
        }
        if (*now == record.before) {
            continue;  // as it was before the action: nothing to put back
        }
        if (!record.after) {
            outcome.add(leftAlone(record, "the action did not end; left as it is"));
            continue;
        }
        if (*now != *record.after) {
            outcome.add(leftAlone(record, kChangedSince));
            continue;
        }
        Step step{record, changeFor(record), lowerCase(record.subKey)};
        if (record.kind == Record::Kind::Value) {
            if (!record.before.present) {
                valuesDeleted.emplace(record.hive, lowerCase(record.subKey),
                                      lowerCase(record.valueName));
            }
            values.push_back(std::move(step));
        } else {
            (record.before.present ? makeKeys : deleteKeys).push_back(std::move(step));
        }
    }
    const auto byPath = [](const Step& a, const Step& b) {
        return std::tie(a.record.hive, a.folded) < std::tie(b.record.hive, b.folded);
    };
    std::sort(makeKeys.begin(), makeKeys.end(), byPath);
    std::stable_sort(values.begin(), values.end(), byPath);
    std::sort(deleteKeys.rbegin(), deleteKeys.rend(), byPath);
    // A key the action made goes only when nothing but what the undo deletes is in it.
    std::set<std::pair<registry::Hive, std::string>> keysDeleted;
    std::vector<Step> steps = std::move(makeKeys);
    steps.insert(steps.end(), std::make_move_iterator(values.begin()),
                 std::make_move_iterator(values.end()));
    for (Step& step : deleteKeys) {
        const std::string& folded = step.folded;
        const KeyContents& key = present.of(step.record.hive, step.record.subKey);
        const registry::Hive hive = step.record.hive;
        bool stays = false;
        bool others = false;  // what stays is not the entry's own, which is reported already
        for (const auto& value : key.values) {
            if (!valuesDeleted.contains({hive, folded, value.first})) {
                stays = true;
                others = others || !valuesNamed.contains({hive, folded, value.first});
            }
        }
        for (const std::string& child : key.children) {
            const std::string path = folded + "\\" + child;
            if (!keysDeleted.contains({hive, path})) {
                stays = true;
                others = others || !keysNamed.contains({hive, path});
            }
        }
        if (stays) {
            if (others) {
                outcome.add(leftAlone(step.record, kChangedSince));
            }
            continue;
        }
        keysDeleted.emplace(step.record.hive, folded);
        steps.push_back(std::move(step));
    }
    return steps;
}

// Runs the steps, the values of one key through one handle.
void apply(platform::RegistryApi& registry, const std::vector<Step>& steps,
           std::vector<restrictions::Change>& changes) {
    platform::KeyHandle open = 0;
    std::pair<registry::Hive, std::string> openKey;
    platform::Status openStatus = platform::kSuccess;
    const auto close = [&] {
        if (open != 0) {
            registry.closeKey(open);
            open = 0;
        }
    };
    for (const Step& step : steps) {
        const Record& record = step.record;
        platform::Status status = platform::kSuccess;
        if (record.kind == Record::Kind::Key) {
            close();
            openKey = {};
            platform::KeyHandle made = 0;
            if (record.before.present) {
                status = registry.createKey(record.hive, record.subKey, made);
                if (status == platform::kSuccess) {
                    registry.closeKey(made);
                }
            } else {
                status = registry.deleteKey(record.hive, record.subKey);
                status = status == platform::kFileNotFound ? platform::kSuccess : status;
            }
        } else {
            const std::pair<registry::Hive, std::string> key{record.hive, lowerCase(record.subKey)};
            if (open == 0 || key != openKey) {
                close();
                openKey = key;
                // A value to restore may need its key; deleting needs none.
                openStatus =
                    record.before.present
                        ? registry.createKey(record.hive, record.subKey, open)
                        : registry.openKey(record.hive, record.subKey, platform::kKeyWrite, open);
                if (openStatus != platform::kSuccess) {
                    open = 0;
                }
            }
            if (openStatus != platform::kSuccess) {
                status = !record.before.present && openStatus == platform::kFileNotFound
                             ? platform::kSuccess
                             : openStatus;
            } else if (record.before.present) {
                status = registry.setValue(
                    open, record.valueName, record.before.type,
                    reinterpret_cast<const std::uint8_t*>(record.before.data.data()),
                    static_cast<std::uint32_t>(record.before.data.size()));
            } else {
                status = registry.deleteValue(open, record.valueName);
                status = status == platform::kFileNotFound ? platform::kSuccess : status;
            }
        }
        restrictions::Change change{record.hive, actionOf(record), itemOf(record), status, {}};
        if (!change.done()) {
            change.reason =
                restrictions::refusalReason(record.hive, status, registry.lastFailure());
        }
        changes.push_back(std::move(change));
    }
    close();
}

// A file to put back: the record, the record of the undo itself (the way back again), and what
// the file holds now (what the action left), as it was read.
struct FileStep {
    FileRecord record;
    FileRecord reverse;
    std::optional<formats::FileContent> now;
};

restrictions::Change fileChange(const FileRecord& record, platform::Status status,
                                std::string reason) {
    const bool moved = record.kind == FileRecord::Kind::Moved;
    return {registry::kNoHive, moved ? "move back" : "restore file",
            moved ? record.to + " to " + record.path : record.path, status, std::move(reason)};
}

// The three-way merge for files: a file goes back only where it still holds what the action
// left, a moved item only where it still lies where it was moved and its old name is free.
// A file that cannot be reached beneath the entry's place (a link on the way) goes into
// `unreachable`: then nothing of the entry is undone.
std::vector<FileStep> planFiles(const UndoEntry& entry, const EntryFiles& files,
                                restrictions::Outcome& outcome,
                                std::vector<std::string>& unreachable) {
    std::vector<FileStep> steps;
    for (const FileRecord& record : entry.files) {
        if (record.kind == FileRecord::Kind::Moved) {
            const auto atItsName = files.exists(record.path);
            const auto whereMoved = files.exists(record.to);
            if (!atItsName || !whereMoved) {
                unreachable.push_back("file " + (atItsName ? record.to : record.path) + " (" +
                                      (atItsName ? whereMoved : atItsName).failure().reason + ")");
                continue;
            }
            if (*atItsName && !*whereMoved) {
                continue;  // moved back already
            }
            // A file that has taken the name since is another one: the item stays where it is.
            if (*atItsName || !*whereMoved) {
                outcome.add(fileChange(record, kLeftAlone, kChangedSince));
                continue;
            }
            FileRecord reverse = record;
            std::swap(reverse.path, reverse.to);
            steps.push_back({record, std::move(reverse), std::nullopt});
            continue;
        }
        auto now = files.now(record.path);
        if (!now) {
            if (now.failure().error == ELOOP || now.failure().error == EXDEV) {
                unreachable.push_back("file " + record.path + " (" + now.failure().reason + ")");
            } else {
                outcome.add(
                    fileChange(record, kLeftAlone, now.failure().reason + "; left as it is"));
            }
            continue;
        }
        const auto bytes = *now ? std::optional((*now)->bytes) : std::nullopt;
        if (bytes == record.before) {
            continue;  // as it was before the action
        }
        if (!record.ended) {
            outcome.add(fileChange(record, kLeftAlone, "the action did not end; left as it is"));
            continue;
        }
        if (bytes != record.after) {
            outcome.add(fileChange(record, kLeftAlone, kChangedSince));
            continue;
        }
        FileRecord reverse = record;
        std::swap(reverse.before, reverse.after);
        steps.push_back({record, std::move(reverse), std::move(*now)});
    }
    return steps;
}

restrictions::Change applyFile(const FileStep& step, const EntryFiles& files) {
    const FileRecord& record = step.record;
    Result<void> done;
    if (record.kind == FileRecord::Kind::Moved) {
        const auto from = files.locate(record.to);
        const auto to = files.locate(record.path);
        const auto item = from ? files.now(record.to)
                               : Result<std::optional<formats::FileContent>>(from.failure());
        if (!to) {
            done = to.failure();
        } else if (!item || !*item) {
            done = item ? failure(record.to + " is gone") : item.failure();
        } else {
            done = moveFile(*from, **item, *to);
        }
    } else if (const auto located = files.locate(record.path); !located) {
        done = located.failure();
    } else if (!record.before) {
        done = located->folder.remove(located->name, step.now->signature);
    } else {
        formats::WriteOptions options;
        if (record.after) {
            options.expected = step.now->signature;
            options.onlyWhatItsOwnerCould = true;
        } else {
            options.placing = formats::Placing::NewName;
        }
        const auto written = located->folder.write(located->name, *record.before, options);
        done = written ? Result<void>() : Result<void>(written.failure());
    }
    if (!done) {
        return fileChange(
            record,
            done.failure().status == formats::kFileChanged ? kLeftAlone : platform::kAccessDenied,
            done.failure().status == formats::kFileChanged ? kChangedSince : done.failure().reason);
    }
    return fileChange(record, platform::kSuccess, {});
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
    JournalListing listing = journal.list(1);
    std::vector<EntrySummary>& entries = listing.entries;
    // What cannot be read may be the newest change: undoing an older one past it would undo
    // changes in the wrong order, so nothing is undone, and the message says how to go on.
    if (!listing.failure.empty() || !listing.skipped.empty()) {
        result.kind = UndoResult::Kind::Unusable;
        result.failure = !listing.failure.empty()
                             ? listing.failure
                             : listing.skipped.front() +
                                   ". Move that file out of its folder to undo the change "
                                   "before it.";
        return result;
    }
    if (entries.empty()) {
        return result;
    }
    result.entry = std::move(entries.front());
    result.kind = UndoResult::Kind::Unusable;
    if (!result.entry.entry) {
        result.failure = result.entry.file.string() + " is not undone: " + result.entry.unusable;
        return result;
    }
    const UndoEntry& entry = *result.entry.entry;
    // The entry's files are reached beneath its own prefix or installation, opened once, and
    // changed under its lock.
    std::optional<EntryFiles> files;
    std::optional<formats::FolderLock> lock;
    if (!entry.files.empty()) {
        auto opened = journal.entryFiles();
        const bool locks = opened && opened->place().root() && journal.locksFilesFolder();
        auto taken = locks ? opened->place().root()->lock(formats::kLockTimeout)
                           : Result<formats::FolderLock>(formats::FolderLock());
        if (!opened || !taken) {
            result.failure = result.entry.file.string() + " is not undone: " +
                             (opened ? taken.failure() : opened.failure()).reason;
            return result;
        }
        if (locks && !taken->held()) {
            result.failure = result.entry.file.string() + " is not undone: another program kept " +
                             opened->place().root()->path().string() + " locked";
            return result;
        }
        files = std::move(opened).value();
        lock = std::move(taken).value();
    }
    restrictions::Outcome fileOutcome;
    std::vector<std::string> unreachable;
    const std::vector<FileStep> fileSteps =
        files ? planFiles(entry, *files, fileOutcome, unreachable) : std::vector<FileStep>();
    if (!unreachable.empty()) {
        result.failure =
            result.entry.file.string() +
            " is not undone: it names files that are not reached beneath its own "
            "prefix or installation: " +
            unreachable.front() +
            (unreachable.size() > 1 ? ", and " + std::to_string(unreachable.size() - 1) + " more"
                                    : std::string());
        return result;
    }
    result.kind = UndoResult::Kind::Undone;
    Present present(registry);
    const std::vector<Step> steps = plan(entry, present, result.outcome);
    result.outcome.merge(fileOutcome);
    if (steps.empty() && fileSteps.empty()) {
        return result;
    }
    std::vector<PlannedChange> changes;
    for (const Step& step : steps) {
        changes.push_back(step.change);
    }
    std::vector<FileRecord> reverse;
    for (const FileStep& step : fileSteps) {
        reverse.push_back(step.reverse);
    }
    const restrictions::JournalEntry own(&journal, undoName(result.entry.action));
    Result<void> recorded = changes.empty() ? Result<void>() : journal.record(changes);
    if (recorded && !reverse.empty()) {
        recorded = journal.recordFiles(reverse);
    }
    if (!recorded) {
        const std::string why = "changed nothing without a backup: " + recorded.failure().reason;
        for (const Step& step : steps) {
            result.outcome.add({step.record.hive, actionOf(step.record), itemOf(step.record),
                                restrictions::kNoBackup, why});
        }
        for (const FileStep& step : fileSteps) {
            result.outcome.add(fileChange(step.record, restrictions::kNoBackup, why));
        }
        return result;
    }
    for (const FileStep& step : fileSteps) {
        result.outcome.add(applyFile(step, *files));
    }
    std::vector<restrictions::Change> done;
    {
        platform::BatchScope batch(registry);
        apply(registry, steps, done);
        restrictions::Outcome stored;
        for (restrictions::Change& change : done) {
            stored.add(std::move(change));
        }
        stored.storeFailed(batch.finish());
        done = stored.changes();
    }
    // Only what the registry holds afterwards counts as done.
    Present after(registry);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        restrictions::Change& change = done[i];
        const Record& target = steps[i].record;
        if (change.done() && after.stateOf(target) != target.before) {
            change.status = platform::kRegistryIoFailed;
            change.reason = "the registry does not hold it afterwards";
        }
        result.outcome.add(std::move(change));
    }
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
