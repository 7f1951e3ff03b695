// The undo journal: before an action writes, the prior state of everything it will change goes
// into one entry, a registry file in the user's state folder that Windows' and Wine's registry
// editors import as well. The newest entries are kept; each names the registry it belongs to,
// so that an entry is never undone on another one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "journal/registry_snapshot.h"
#include "platform/registry_api.h"
#include "platform/registry_location.h"
#include "restrictions/journal.h"

namespace quorvane::journal {

inline constexpr std::size_t kEntriesKept = 50;

struct JournalPlace {
    std::filesystem::path directory;  // where the entries lie
    std::string registry;             // the registry the entries belong to
};

// $XDG_STATE_HOME/Quorvane/undo ($HOME/.local/state when unset); on Windows Quorvane\undo in
// the user's local application data folder.
std::filesystem::path defaultUndoDirectory(
    const platform::EnvironmentLookup& environment = platform::processEnvironment);
// The name entries give the registry at `location`: the hive directory's full path, or the
// Windows registry.
std::string registryIdentity(const platform::RegistryLocation& location);

struct EntrySummary {
    std::filesystem::path file;
    std::string time;  // "2026-12-07 03:05:01 UTC"
    std::string action;
    std::vector<std::string> changed;  // one line for each key or value the action changed
};

class UndoJournal final : public restrictions::Journal {
public:
    UndoJournal(platform::RegistryApi& registry, JournalPlace place);

    void begin(const std::string& action) override;
    std::optional<std::string> record(
        const std::vector<restrictions::PlannedChange>& changes) override;
    void end() override;

    // The entries of this journal's registry, newest first; unreadable ones are left out.
    std::vector<EntrySummary> entries() const;

private:
    struct Kept {
        Place place;
        std::vector<RegSection> prior;
    };

    // Writes the open entry with `kept`: the latest kept first, so that what was kept earlier,
    // before the action changed anything, is imported last and wins.
    std::optional<std::string> write(const std::vector<Kept>& kept);
    void removeOldEntries() const;

    platform::RegistryApi& registry_;
    JournalPlace place_;
    int depth_ = 0;
    std::string action_;
    std::string time_;
    std::filesystem::path file_;  // the open entry, once written
    std::vector<Kept> kept_;
};

}  // namespace quorvane::journal
