// The undo journal: before an action writes, the prior state of everything it will change goes
// into one entry in the user's state folder, and when the action ends, what it left there too
// (journal/undo_entry.h). The newest entries are kept; each names the registry it belongs to,
// so that an entry is never undone on another one. Each entry gets a name of its own, taken
// exclusively: two programs acting at once never write over each other's entry.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "formats/file_access.h"
#include "journal/registry_snapshot.h"
#include "journal/undo_entry.h"
#include "platform/registry_api.h"
#include "platform/registry_location.h"
#include "restrictions/journal.h"

namespace quorvane::journal {

inline constexpr std::size_t kEntriesKept = 50;
// The largest entry read: a key of 20,000 values makes an entry of a few megabytes.
inline constexpr std::uintmax_t kEntryLimit = 64u << 20;

struct JournalPlace {
    JournalPlace(std::filesystem::path directory, std::string registry,
                 std::filesystem::path files = {})
        : directory(std::move(directory)), registry(std::move(registry)), files(std::move(files)) {}

    std::filesystem::path directory;  // where the entries lie
    std::string registry;             // the registry the entries belong to
    // The prefix or installation every file an entry names lies beneath; when empty, the
    // registry's own folder where the registry is one (a hive directory's identity is its path).
    std::filesystem::path files;
    // Whether this program has administrator rights (Windows); none: as Windows says of its
    // process.
    std::optional<bool> elevated;
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
    std::optional<UndoEntry> entry;    // none when it cannot be undone
    std::string unusable;              // why it cannot be undone
    // Who else cannot undo it: on Windows, an undo with administrator rights of an entry that
    // changes machine-wide places and was written without them.
    std::string note;
};

struct JournalListing {
    std::vector<EntrySummary> entries;  // of this journal's registry, newest first
    std::vector<std::string> skipped;   // files named like entries that were not read, and why
    // Why the undo folder itself cannot be listed; then nothing is known of its entries.
    std::string failure;
};

// The files an entry names, reached through the file-access layer: those of its prefix or
// installation beneath that folder, opened once (no "..", no link; as root with its owner's
// rights), and the items moved aside beneath the journal's own folder.
class EntryFiles {
public:
    EntryFiles(formats::PlaceFiles place, formats::PlaceFiles journal)
        : place_(std::move(place)), journal_(std::move(journal)) {}

    const formats::PlaceFiles& place() const { return place_; }
    // The folder that holds `path` and its name there.
    Result<formats::PlaceFiles::Located> locate(const std::string& path) const;
    // Whether anything has the name `path` (a link, a FIFO count); a failure when that cannot be
    // told (a link on the way).
    Result<bool> exists(const std::string& path) const;
    // What the file holds now: none when there is no file; a failure when it cannot be read.
    Result<std::optional<formats::FileContent>> now(const std::string& path) const;
    // Whether `path` holds `content` (none: there is no file); a file that cannot be read holds
    // nothing a record says.
    bool holds(const std::string& path, const std::optional<std::string>& content) const;
    // Whether a file record still says that the action changed something: the file does not
    // hold what it held before, or the moved item is where it was moved to and not where it was.
    bool changed(const FileRecord& record) const;

private:
    formats::PlaceFiles place_;
    formats::PlaceFiles journal_;
};

class UndoJournal final : public restrictions::Journal {
public:
    UndoJournal(platform::RegistryApi& registry, JournalPlace place);

    void begin(const std::string& action) override;
    Result<void> record(const std::vector<restrictions::PlannedChange>& changes) override;
    void end() override;

    // Before the open action changes files: adds them to its entry, with what the action will
    // leave (journal/undo_entry.h). Nothing when the entry holds them; else why not, for people,
    // and the caller must change nothing.
    Result<void> recordFiles(const std::vector<FileRecord>& files);
    // Where items moved out of the way are kept, a folder per entry below it.
    std::filesystem::path movedFolder() const { return place_.directory / "moved"; }
    // The folder every file an entry names lies beneath (JournalPlace::files); empty where files
    // are named by their full paths (Windows' own folders).
    std::filesystem::path filesFolder() const;
    // That folder and the journal's own, opened for the files of an entry.
    Result<EntryFiles> entryFiles() const;
    // Whether changes to those files take the lock of their folder: where it is the registry's
    // hive directory (a Wine prefix), whose store takes the same lock; not on a Windows disk.
    bool locksFilesFolder() const { return place_.files.empty(); }

    // The entries of this journal's registry, newest first, and the files that were skipped:
    // only regular files within kEntryLimit are read, never blocking on anything else.
    // At most `most` entries are read.
    JournalListing list(std::size_t most = kEntriesKept) const;
    std::vector<EntrySummary> entries() const { return list().entries; }

private:
    struct Kept {
        Place place;
        std::vector<formats::RegSection> prior;  // what the place held, as registry-file sections
        std::optional<PlaceState> value;         // or, for a value read with its key, its state
        std::optional<PlaceState> planned;       // and what the change will leave there
    };

    // Whether the entries are written and undone with administrator rights (Windows): then they
    // are written so that only administrators can change them, and an entry that changes
    // machine-wide places and was not is refused. None where there are no such rights to tell
    // apart (elsewhere, and under Wine).
    std::optional<bool> elevated() const;
    // Writes the open entry with `records`, taking a new name for it the first time.
    Result<void> write(const std::vector<Record>& records);
    void removeOldEntries() const;
    // Removes the entry file `name` of the journal's folder.
    void removeEntry(const std::string& name) const;
    bool isKept(const restrictions::PlannedChange& change) const;
    // What a value place holds now, its key read once for all its values (`read`); nothing
    // when the key cannot be read.
    std::optional<PlaceState> valueNow(
        const Place& place, std::map<std::pair<registry::Hive, std::string>, KeyContents>& read);

    platform::RegistryApi& registry_;
    JournalPlace place_;
    int depth_ = 0;
    std::string action_;
    std::string time_;
    std::filesystem::path file_;  // the open entry, once written
    std::vector<Kept> kept_;
    std::vector<Record> written_;                // what the entry's file holds
    std::vector<FileRecord> files_;              // the files the action changes
    std::optional<EntryFiles> entryFiles_;       // where they are, once the action names any
    std::unordered_set<std::string> keptNames_;  // the places in kept_, as isKept looks them up
};

// The records that tell what became of `place` between `before` and `after` (two snapshots of
// it; no `after` while the action runs): one for each key and value either of them holds.
// With `changedOnly`, only those whose state differs.
std::vector<Record> recordsOf(const Place& place, const std::vector<formats::RegSection>& before,
                              const std::vector<formats::RegSection>* after, bool changedOnly);

}  // namespace quorvane::journal
