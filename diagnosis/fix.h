// Stopping what sets a restriction again: the records of a local policy file that set it (the
// folder's gpt.ini version goes up, so that the policy engine reads the file again), the startup
// commands of the Run keys, the items of the Startup folders (moved aside into the undo folder,
// never deleted) and scheduled tasks (disabled, never deleted). Domain policy, its cached files
// and Winlogon's Userinit and Shell are never changed: the plan says why and what the user can do.
// Everything goes into the open undo entry before it changes, and only what a read-back confirms
// counts as done.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/diagnosis.h"
#include "journal/undo_journal.h"
#include "restrictions/outcome.h"
#include "restrictions/restriction_manager.h"

namespace quorvane::diagnosis {

struct FixItem {
    enum class Kind { PolicyRecords, StartupValue, StartupFile, Task, Left };
    Kind kind = Kind::Left;
    Finding finding;
    std::string change;  // what will change, for people; Left: why nothing, and what to do
    // PolicyRecords and Task: the file as the plan read it and as it will be.
    std::filesystem::path file;
    std::string before, after;
    // PolicyRecords: the folder's gpt.ini, as read and as it will be (none: left as it is).
    std::filesystem::path gptIni;
    std::string gptBefore, gptAfter;
    // StartupValue: the value to delete, and the command it held.
    registry::Hive hive = registry::kNoHive;
    std::string subKey, valueName, command;
};

struct FixPlan {
    std::vector<FixItem> items;
    std::vector<int> lift;  // the restrictions to lift afterwards
    std::vector<std::string> notes;

    bool leavesSomething() const;
};

// What `fix` would do for `numbers` (none: every restriction `why` finds): it runs the diagnosis
// and plans a change for each finding. Reads only.
FixPlan planFix(platform::RegistryApi& registry, registry::General2& general, const Places& places,
                const std::vector<int>& numbers);

// Carries out the changing items of `plan` inside the open action of `journal`: each file is read
// again first and left alone when it changed since the plan read it. For each item, done or why
// not; the left items are reported as not done with their reasons.
restrictions::Outcome applyFix(const FixPlan& plan, platform::RegistryApi& registry,
                               journal::UndoJournal& journal, const Places& places);

// `fix` as a whole, in one undo entry named `action`: applyFix, then each restriction of
// `plan.lift` lifted by its switching action (its box set to unchecked first through `untick`,
// quietly), then read back: one still in force counts as not done.
restrictions::Outcome stopAndLift(const FixPlan& plan, const std::string& action,
                                  platform::RegistryApi& registry, journal::UndoJournal& journal,
                                  const Places& places, restrictions::RestrictionManager& manager,
                                  registry::General2& general,
                                  const std::function<void(int)>& untick);

inline constexpr const char* kStoppedText =
    "What set these restrictions again is stopped (undo puts it back).";
inline constexpr const char* kNotStopped =
    "Not everything that sets a restriction again was stopped!";

// The plan as people read it: what will change, then what will not and why.
std::string formatPlan(const FixPlan& plan);

// The new bytes of a task definition (UTF-16 or 8-bit XML) with <Enabled>false</Enabled> in its
// <Settings>, every other byte kept; none when it has no <Settings>.
std::optional<std::string> disabledTask(const std::string& bytes);

// The new bytes of a gpt.ini whose Version= went up in the user half (upper 16 bits) or the
// machine half (lower 16 bits), every other byte kept; none without a Version= line.
std::optional<std::string> raisedVersion(const std::string& bytes, bool machine);

}  // namespace quorvane::diagnosis
