#include "journal/undo_journal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <system_error>

#include "journal/whole_file.h"
#include "platform/narrow_text.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shlobj.h needs its types.
#include <shlobj.h>
#endif

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;

constexpr const char* kMark = "Quorvane: the registry before a change, for undo";
constexpr const char* kTimeField = "Time: ";
constexpr const char* kActionField = "Action: ";
constexpr const char* kRegistryField = "Registry: ";

std::tm utcTime(std::time_t seconds) {
#ifdef _WIN32
    // The C runtime's gmtime keeps its result per thread.
    return *std::gmtime(&seconds);
#else
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    return parts;
#endif
}

std::string formatted(const std::tm& parts, const char* format) {
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &parts));
}

// Entry files are named after the moment, so that names sort as the entries were made.
bool isEntryName(const fs::path& file) {
    const std::string name = file.filename().string();
    return file.extension() == ".reg" && name.size() == 26 &&
           std::isdigit(static_cast<unsigned char>(name[0]));
}

std::vector<fs::path> entryFiles(const fs::path& directory) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        if (isEntryName(it->path())) {
            files.push_back(it->path());
        }
    }
    std::sort(files.rbegin(), files.rend());
    return files;
}

// What an entry's sections say the action changed, one line per key or value.
std::vector<std::string> changedLines(const std::vector<RegSection>& sections) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const RegSection& section = sections[i];
        const std::string key = platform::utf16ToNarrow(section.key);
        if (section.deleted) {
            const std::u16string below = section.key + u'\\';
            const auto isBelow = [&](const RegSection& next) {
                return !next.deleted && (next.key == section.key || next.key.starts_with(below));
            };
            const bool whole = i + 1 < sections.size() && isBelow(sections[i + 1]);
            lines.push_back(whole ? "changed key " + key + " and what it holds"
                                  : "made key " + key);
            while (whole && i + 1 < sections.size() && isBelow(sections[i + 1])) {
                ++i;
            }
            continue;
        }
        for (const RegValue& value : section.values) {
            const std::string name =
                value.name.empty() ? "(default)" : platform::utf16ToNarrow(value.name);
            lines.push_back((value.deleted ? "made value " : "changed value ") + name + " in " +
                            key);
        }
    }
    return lines;
}

}  // namespace

fs::path defaultUndoDirectory([[maybe_unused]] const platform::EnvironmentLookup& environment) {
#ifdef _WIN32
    wchar_t folder[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder) == S_OK) {
        return fs::path(folder) / "Quorvane" / "undo";
    }
    return fs::path(environment("LOCALAPPDATA").value_or(".")) / "Quorvane" / "undo";
#else
    const auto state = environment("XDG_STATE_HOME");
    // The XDG rule: a relative path is no state folder.
    if (state && fs::path(*state).is_absolute()) {
        return fs::path(*state) / "Quorvane" / "undo";
    }
    return fs::path(environment("HOME").value_or(".")) / ".local" / "state" / "Quorvane" / "undo";
#endif
}

std::string registryIdentity([[maybe_unused]] const platform::RegistryLocation& location) {
#ifdef _WIN32
    return "the Windows registry";
#else
    std::error_code error;
    const fs::path full = fs::weakly_canonical(fs::absolute(location.directory), error);
    return (error ? fs::absolute(location.directory) : full).string();
#endif
}

UndoJournal::UndoJournal(platform::RegistryApi& registry, JournalPlace place)
    : registry_(registry), place_(std::move(place)) {}

void UndoJournal::begin(const std::string& action) {
    if (depth_++ > 0) {
        return;
    }
    action_ = action;
    file_.clear();
    kept_.clear();
}

std::optional<std::string> UndoJournal::record(
    const std::vector<restrictions::PlannedChange>& changes) {
    if (depth_ == 0) {
        return "no action has begun";
    }
    std::vector<Kept> kept = kept_;
    for (const restrictions::PlannedChange& change : changes) {
        const auto covers = [&](const Kept& k) { return k.place.covers(change); };
        if (std::any_of(kept.begin(), kept.end(), covers)) {
            continue;
        }
        auto place = placeToKeep(registry_, change);
        if (auto* failure = std::get_if<std::string>(&place)) {
            return *failure;
        }
        const std::optional<Place>& toKeep = std::get<0>(place);
        const auto same = [&](const Kept& k) {
            return k.place.hive == toKeep->hive && k.place.subKey == toKeep->subKey &&
                   k.place.valueName == toKeep->valueName;
        };
        if (!toKeep || std::any_of(kept.begin(), kept.end(), same)) {
            continue;
        }
        auto prior = snapshot(registry_, *toKeep);
        if (auto* failure = std::get_if<std::string>(&prior)) {
            return *failure;
        }
        kept.push_back({*toKeep, std::move(std::get<0>(prior))});
    }
    if (kept.size() == kept_.size()) {
        return std::nullopt;
    }
    if (auto failure = write(kept)) {
        return failure;
    }
    kept_ = std::move(kept);
    return std::nullopt;
}

void UndoJournal::end() {
    if (depth_ == 0 || --depth_ > 0) {
        return;
    }
    if (file_.empty()) {
        return;
    }
    // Only what the action really changed: a refused or repeated change needs no undo, and
    // undoing it would overwrite what others may have changed since.
    std::vector<Kept> changed;
    for (const Kept& kept : kept_) {
        const auto now = snapshot(registry_, kept.place);
        const auto* sections = std::get_if<std::vector<RegSection>>(&now);
        if (sections == nullptr || *sections != kept.prior) {
            changed.push_back(kept);
        }
    }
    std::error_code ignored;
    if (changed.empty()) {
        fs::remove(file_, ignored);
    } else if (changed.size() != kept_.size()) {
        // When this fails, the entry keeps more than was changed, which undo puts back as it
        // was: still the state before the action.
        static_cast<void>(write(changed));
    }
    file_.clear();
    kept_.clear();
}

std::optional<std::string> UndoJournal::write(const std::vector<Kept>& kept) {
    std::error_code error;
    fs::create_directories(place_.directory, error);
    if (error) {
        return "the undo folder " + place_.directory.string() +
               " cannot be made: " + error.message();
    }
    if (file_.empty()) {
        const auto now = std::chrono::system_clock::now();
        const std::tm parts = utcTime(std::chrono::system_clock::to_time_t(now));
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
        time_ = formatted(parts, "%Y-%m-%d %H:%M:%S UTC");
        for (int number = 0; number < 100 && (file_.empty() || fs::exists(file_, error));
             ++number) {
            char name[32];
            std::snprintf(name, sizeof name, "%s-%03d-%02d.reg",
                          formatted(parts, "%Y%m%d-%H%M%S").c_str(),
                          static_cast<int>(millis.count()), number);
            file_ = place_.directory / name;
        }
    }
    std::vector<RegSection> sections;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        sections.insert(sections.end(), it->prior.begin(), it->prior.end());
    }
    const std::vector<std::u16string> comments = {
        platform::narrowToUtf16(std::string(" ") + kMark),
        platform::narrowToUtf16(std::string(" ") + kTimeField + time_),
        platform::narrowToUtf16(std::string(" ") + kActionField + action_),
        platform::narrowToUtf16(std::string(" ") + kRegistryField + place_.registry),
    };
    if (auto failure = writeWholeFile(file_, writeRegFile(sections, comments))) {
        return "the backup " + file_.string() + " cannot be written: " + *failure;
    }
    removeOldEntries();
    return std::nullopt;
}

void UndoJournal::removeOldEntries() const {
    const std::vector<fs::path> files = entryFiles(place_.directory);
    std::error_code ignored;
    for (std::size_t i = kEntriesKept; i < files.size(); ++i) {
        fs::remove(files[i], ignored);
    }
}

std::vector<EntrySummary> UndoJournal::entries() const {
    std::vector<EntrySummary> summaries;
    for (const fs::path& file : entryFiles(place_.directory)) {
        const auto bytes = readWholeFile(file);
        if (!bytes) {
            continue;
        }
        EntrySummary summary{file, {}, {}, {}};
        std::string registry;
        bool ours = false;
        for (const std::u16string& comment : readRegFileComments(*bytes)) {
            const std::string line = platform::utf16ToNarrow(comment);
            const std::string text = line.starts_with(' ') ? line.substr(1) : line;
            ours = ours || text == kMark;
            for (const auto& [field, target] :
                 {std::pair{kTimeField, &summary.time}, std::pair{kActionField, &summary.action},
                  std::pair{kRegistryField, &registry}}) {
                if (text.starts_with(field)) {
                    *target = text.substr(std::char_traits<char>::length(field));
                }
            }
        }
        const auto sections = readRegFile(*bytes);
        if (!ours || registry != place_.registry || sections.index() != 0) {
            continue;
        }
        summary.changed = changedLines(std::get<0>(sections));
        summaries.push_back(std::move(summary));
    }
    return summaries;
}

}  // namespace quorvane::journal
