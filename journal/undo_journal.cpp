#include "journal/undo_journal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <map>
#include <set>
#include <system_error>
#include <tuple>

#include "formats/file_access.h"
#include "formats/result.h"
#include "formats/utf16.h"
#include "journal/startup_keys.h"
#include "platform/letter_case.h"
#include "platform/value_data.h"
#include "restrictions/catalogue.h"
#include "restrictions/outcome.h"
#include "restrictions/restriction_manager.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shlobj.h needs its types.
#include <shlobj.h>
#endif

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;
using platform::lowerCase;
using restrictions::PlannedChange;

constexpr const char* kEntryExtension = ".undo";

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

// Entry files are named after the moment, so that names sort as the entries were made; those of
// the earlier format end in ".reg".
bool isEntryName(const std::string& name) {
    const fs::path file(name);
    const bool earlier = file.extension() == ".reg" && name.size() == 26;
    return (earlier || file.extension() == kEntryExtension) && !name.empty() &&
           std::isdigit(static_cast<unsigned char>(name[0]));
}

// The names of the entries in the journal's folder, newest first; none when there is no folder
// yet, a failure when it cannot be listed.
Result<std::vector<std::string>> entryNames(const fs::path& directory) {
    std::vector<std::string> files;
    auto folder = formats::Folder::open(directory);
    if (!folder && folder.failure().error == ENOENT) {
        return files;
    }
    auto listing =
        folder ? folder->list({}, std::size_t(-1)) : Result<formats::Listing>(folder.failure());
    if (!listing) {
        return listing.failure();
    }
    for (const formats::Entry& entry : listing->entries) {
        if (isEntryName(entry.name)) {
            files.push_back(entry.name);
        }
    }
    std::sort(files.rbegin(), files.rend());
    return files;
}

// What an entry says the action changed, one line per key or value.
std::vector<std::string> changedLines(const UndoEntry& entry) {
    std::vector<std::string> lines;
    for (const Record& record : entry.records) {
        const std::string key = restrictions::fullRegistryPath(record.hive, record.subKey);
        const bool made = !record.before.present;
        const bool deleted = record.after && !record.after->present;
        const char* what = made ? "made " : deleted ? "deleted " : "changed ";
        if (record.kind == Record::Kind::Key) {
            lines.push_back(what + std::string("key ") + key);
            continue;
        }
        const std::string name = record.valueName.empty() ? "(default)" : record.valueName;
        lines.push_back(what + std::string("value ") + name + " in " + key);
    }
    for (const FileRecord& file : entry.files) {
        lines.push_back(file.kind == FileRecord::Kind::Moved
                            ? "moved " + file.path + " to " + file.to
                            : (file.before ? "changed file " : "made file ") + file.path);
    }
    return lines;
}

// How a place is looked up among those kept: hive, key and value name, without regard to case.
std::string keptName(registry::Hive hive, const std::string& subKey,
                     const std::optional<std::string>& valueName) {
    std::string name = std::to_string(hive) + "\\" + platform::lowerCase(subKey);
    if (valueName) {
        name += "\n" + platform::lowerCase(*valueName);
    }
    return name;
}

// What a snapshot says of each key and value, by names without regard to case.
struct Flat {
    std::map<std::string, std::pair<std::string, bool>> keys;  // key -> spelling, present
    std::map<std::pair<std::string, std::string>, std::pair<Record, PlaceState>> values;
};

Flat flatten(const std::vector<formats::RegSection>& sections, registry::Hive hive) {
    Flat flat;
    const std::string prefix = std::string(restrictions::hiveName(hive)) + "\\";
    for (const formats::RegSection& section : sections) {
        std::string subKey = formats::utf16ToNarrow(section.key);
        subKey = subKey.starts_with(prefix) ? subKey.substr(prefix.size()) : subKey;
        const std::string folded = platform::lowerCase(subKey);
        auto& key = flat.keys[folded];
        key.first = subKey;
        key.second = key.second || !section.deleted;
        for (const formats::RegValue& value : section.values) {
            const std::string name = formats::utf16ToNarrow(value.name);
            Record record{Record::Kind::Value, hive, subKey, name, {}, {}};
            PlaceState state;
            if (!value.deleted) {
                state = {true, value.type, platform::narrowData(value.type, value.data)};
            }
            flat.values[{folded, platform::lowerCase(name)}] = {std::move(record),
                                                                std::move(state)};
        }
    }
    return flat;
}

// Whether `inner` is `outer` or a key below it, without regard to case.
bool within(const std::string& outer, const std::string& inner) {
    const std::string o = lowerCase(outer);
    const std::string i = lowerCase(inner);
    return i == o || i.starts_with(o + "\\");
}

// The places Quorvane's own actions change: the policy keys with everything they hold, the
// marker, the page values and the values of the restrictions, in both hives.
struct OwnPlaces {
    std::vector<std::pair<registry::Hive, std::string>> policyKeys;
    std::vector<std::pair<registry::Hive, std::string>> keys;  // keys that hold the values
    std::set<std::tuple<registry::Hive, std::string, std::string>> values;
    std::set<std::pair<registry::Hive, std::string>> startupKeys;

    OwnPlaces() {
        for (const PlannedChange& change : restrictions::policyKeysPlan()) {
            if (change.kind == PlannedChange::Kind::CreateKey) {
                policyKeys.emplace_back(change.hive, change.subKey);
            } else {
                addValue(change.hive, change.subKey, change.valueName);
            }
        }
        for (const registry::Hive hive :
             {registry::kHiveCurrentUser, registry::kHiveLocalMachine}) {
            for (const char* page : {"Search Page", "Start Page"}) {
                addValue(hive, restrictions::kBrowserMainKey, page);
            }
            for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
                addValue(hive, restriction.subKey, restriction.valueName);
            }
        }
        for (const StartupKey& key : kStartupKeys) {
            startupKeys.emplace(static_cast<registry::Hive>(key.root), lowerCase(key.subKey));
        }
    }

    void addValue(registry::Hive hive, const std::string& subKey, const std::string& name) {
        values.emplace(hive, lowerCase(subKey), lowerCase(name));
        keys.emplace_back(hive, subKey);
    }

    bool inPolicyKey(const Record& record) const {
        return std::any_of(policyKeys.begin(), policyKeys.end(), [&](const auto& key) {
            return key.first == record.hive && within(key.second, record.subKey);
        });
    }

    bool owns(const Record& record) const {
        if (inPolicyKey(record)) {
            return true;
        }
        if (record.kind == Record::Kind::Value &&
            startupKeys.contains({record.hive, lowerCase(record.subKey)})) {
            return true;  // a startup command fix deleted
        }
        if (record.kind == Record::Kind::Value) {
            return values.contains(
                {record.hive, lowerCase(record.subKey), lowerCase(record.valueName)});
        }
        // The keys on the way to them, which an action makes when they are missing.
        const auto onTheWay = [&](const auto& key) {
            return key.first == record.hive && within(record.subKey, key.second);
        };
        return std::any_of(policyKeys.begin(), policyKeys.end(), onTheWay) ||
               std::any_of(keys.begin(), keys.end(), onTheWay);
    }
};

// Whether `path` lies beneath `folder` by its names, with no ".." (anywhere, when `folder` is
// empty: files named by their full paths).
bool inside(const fs::path& folder, const std::string& path) {
    if (folder.empty()) {
        return formats::nameBeneath(fs::path(path).root_path(), path).has_value();
    }
    const auto name = formats::nameBeneath(folder, path);
    return name && !name->empty();
}

// The files `fix` changes, all beneath the entry's own prefix or installation (`files`):
// policy files and their gpt.ini, task definitions below a Tasks folder, and startup items
// moved into the journal's own folder.
bool ownsFile(const FileRecord& file, const fs::path& movedFolder, const fs::path& files) {
    if (file.kind == FileRecord::Kind::Moved) {
        // Moved aside into the folder, or (an undo's own record) back out of it.
        return (inside(movedFolder, file.to) && inside(files, file.path)) ||
               (inside(movedFolder, file.path) && inside(files, file.to));
    }
    if (!inside(files, file.path)) {
        return false;
    }
    const fs::path path(file.path);
    const std::string name = lowerCase(path.filename().string());
    if (name == "registry.pol" || name == "gpt.ini") {
        return true;
    }
    for (const fs::path& part : path.parent_path()) {
        if (lowerCase(part.string()) == "tasks") {
            return true;
        }
    }
    return false;
}

std::string refusedPlaces(const UndoEntry& entry, const fs::path& movedFolder,
                          const fs::path& files) {
    static const OwnPlaces own;
    std::vector<std::string> foreign;
    for (const FileRecord& file : entry.files) {
        if (!ownsFile(file, movedFolder, files)) {
            foreign.push_back("file " + file.path);
        }
    }
    for (const Record& record : entry.records) {
        if (!own.owns(record)) {
            foreign.push_back(
                (record.kind == Record::Kind::Key ? "key " : "value ") +
                (record.kind == Record::Kind::Key
                     ? restrictions::fullRegistryPath(record.hive, record.subKey)
                     : record.valueName + " in " +
                           restrictions::fullRegistryPath(record.hive, record.subKey)));
        }
    }
    if (foreign.empty()) {
        return {};
    }
    constexpr std::size_t kNamed = 5;
    std::string text = "it names what Quorvane never changes: ";
    for (std::size_t i = 0; i < foreign.size() && i < kNamed; ++i) {
        text += (i == 0 ? "" : ", ") + foreign[i];
    }
    if (foreign.size() > kNamed) {
        text += ", and " + std::to_string(foreign.size() - kNamed) + " more";
    }
    return text;
}

// The state of one value that a value place's sections give.
PlaceState valueState(const std::vector<formats::RegSection>& sections, const std::string& name) {
    for (const formats::RegSection& section : sections) {
        for (const formats::RegValue& value : section.values) {
            if (!value.deleted &&
                platform::equalIgnoringCase(formats::utf16ToNarrow(value.name), name)) {
                return {true, value.type, platform::narrowData(value.type, value.data)};
            }
        }
    }
    return {};
}

#ifdef _WIN32
// Whether the process has administrator rights; none under Wine, where there are none to tell
// apart: every program of the user runs with the same rights, the machine's hive is a file of the
// user's own, and Windows' answer there ("elevated", always) draws no line.
std::optional<bool> processElevated() {
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
        return std::nullopt;
    }
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    // When Windows cannot say, as elevated: the stricter undo.
    const bool elevated =
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) ||
        elevation.TokenIsElevated != 0;
    if (token != nullptr) {
        CloseHandle(token);
    }
    return elevated;
}

// Whether the entry changes what a program without administrator rights cannot: anything but
// the per-user hive, and files, which are named by their full paths here.
bool changesMachinePlaces(const UndoEntry& entry) {
    return !entry.files.empty() ||
           std::any_of(entry.records.begin(), entry.records.end(), [](const Record& record) {
               return record.hive != registry::kHiveCurrentUser;
           });
}

constexpr const char* kNotWrittenElevated =
    "it changes machine-wide settings or files, and it was not written with administrator "
    "rights, so it cannot be undone with them (any program of this user could have written "
    "it): undo it without administrator rights, which puts back only the per-user settings, or "
    "move the file out of its folder to undo the change before it";
constexpr const char* kNotForAdministrators =
    "cannot be undone with administrator rights: it changes machine-wide settings or files and "
    "was not written with them";
#endif

}  // namespace

std::optional<bool> UndoJournal::elevated() const {
#ifdef _WIN32
    static const std::optional<bool> process = processElevated();
    return place_.elevated ? place_.elevated : process;
#else
    return std::nullopt;
#endif
}

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
    return formats::canonicalPath(location.directory).string();
#endif
}

std::vector<Record> recordsOf(const Place& place, const std::vector<formats::RegSection>& before,
                              const std::vector<formats::RegSection>* after, bool changedOnly) {
    std::vector<Record> records;
    const auto add = [&](Record record) {
        if (!changedOnly || record.after != record.before) {
            records.push_back(std::move(record));
        }
    };
    if (place.valueName) {
        Record record{Record::Kind::Value, place.hive, place.subKey, *place.valueName, {}, {}};
        record.before = valueState(before, *place.valueName);
        if (after != nullptr) {
            record.after = valueState(*after, *place.valueName);
        }
        add(std::move(record));
        return records;
    }
    const Flat was = flatten(before, place.hive);
    const Flat now = after != nullptr ? flatten(*after, place.hive) : Flat{};
    std::map<std::string, std::string> keys;
    for (const Flat* flat : {&was, &now}) {
        for (const auto& [folded, key] : flat->keys) {
            keys.emplace(folded, key.first);
        }
    }
    for (const auto& [folded, subKey] : keys) {
        Record record{Record::Kind::Key, place.hive, subKey, {}, {}, {}};
        const auto it = was.keys.find(folded);
        record.before.present = it != was.keys.end() && it->second.second;
        if (after != nullptr) {
            const auto later = now.keys.find(folded);
            record.after = PlaceState{later != now.keys.end() && later->second.second, 0, {}};
        }
        add(std::move(record));
    }
    std::map<std::pair<std::string, std::string>, Record> values;
    for (const Flat* flat : {&was, &now}) {
        for (const auto& [id, value] : flat->values) {
            values.emplace(id, value.first);
        }
    }
    for (auto& [id, record] : values) {
        const auto it = was.values.find(id);
        record.before = it != was.values.end() ? it->second.second : PlaceState{};
        if (after != nullptr) {
            const auto later = now.values.find(id);
            record.after = later != now.values.end() ? later->second.second : PlaceState{};
        }
        add(std::move(record));
    }
    return records;
}

UndoJournal::UndoJournal(platform::RegistryApi& registry, JournalPlace place)
    : registry_(registry), place_(std::move(place)) {}

void UndoJournal::begin(const std::string& action) {
    if (depth_++ > 0) {
        return;
    }
    action_ = action;
    file_.clear();
    entryFiles_.reset();
    kept_.clear();
    keptNames_.clear();
    written_.clear();
    files_.clear();
}

Result<formats::PlaceFiles::Located> EntryFiles::locate(const std::string& path) const {
    const auto& root = journal_.root();
    if (root && formats::nameBeneath(root->path(), path)) {
        return journal_.locate(path);
    }
    return place_.locate(path);
}

Result<bool> EntryFiles::exists(const std::string& path) const {
    const auto located = locate(path);
    if (!located) {
        return located.failure();
    }
    const auto found = located->folder.examine(located->name);
    if (!found) {
        return found.failure();
    }
    return found->has_value();
}

Result<std::optional<formats::FileContent>> EntryFiles::now(const std::string& path) const {
    const auto there = exists(path);
    if (!there) {
        return there.failure();
    }
    if (!*there) {
        return std::optional<formats::FileContent>();
    }
    const auto located = locate(path);
    auto read = located->folder.read(located->name, kEntryLimit);
    if (!read) {
        return read.failure();
    }
    return std::optional(std::move(read).value());
}

bool EntryFiles::holds(const std::string& path, const std::optional<std::string>& content) const {
    const auto file = now(path);
    return file && (*file ? std::optional((*file)->bytes) : std::nullopt) == content;
}

bool EntryFiles::changed(const FileRecord& record) const {
    if (record.kind == FileRecord::Kind::Moved) {
        const auto atItsName = exists(record.path);
        const auto whereMoved = exists(record.to);
        return atItsName && !*atItsName && whereMoved && *whereMoved;
    }
    return !holds(record.path, record.before);
}

fs::path UndoJournal::filesFolder() const {
    if (!place_.files.empty()) {
        return place_.files;
    }
#ifdef _WIN32
    return {};
#else
    const fs::path registry(place_.registry);
    return registry.is_absolute() ? registry : fs::path();
#endif
}

Result<EntryFiles> UndoJournal::entryFiles() const {
    formats::PlaceFiles place;
    if (const fs::path folder = filesFolder(); !folder.empty()) {
        auto opened = formats::Folder::open(folder);
        if (!opened) {
            return failure(folder.string() + " " + opened.failure().reason);
        }
        place = formats::PlaceFiles(std::move(opened).value());
    }
    auto journal = formats::Folder::make(place_.directory);
    if (!journal) {
        return failure("the undo folder " + place_.directory.string() + " " +
                       journal.failure().reason);
    }
    return EntryFiles(std::move(place), formats::PlaceFiles(std::move(journal).value()));
}

Result<void> UndoJournal::recordFiles(const std::vector<FileRecord>& files) {
    if (depth_ == 0) {
        return failure("no action has begun");
    }
    if (!entryFiles_) {
        auto opened = entryFiles();
        if (!opened) {
            return opened.failure();
        }
        entryFiles_ = std::move(opened).value();
    }
    std::vector<FileRecord> all = files_;
    all.insert(all.end(), files.begin(), files.end());
    std::swap(files_, all);
    std::vector<Record> records = written_;
    if (auto written = write(records); !written) {
        std::swap(files_, all);
        return written;
    }
    return {};
}

bool UndoJournal::isKept(const restrictions::PlannedChange& change) const {
    const bool ofAValue = change.kind == restrictions::PlannedChange::Kind::SetValue ||
                          change.kind == restrictions::PlannedChange::Kind::DeleteValue;
    if (ofAValue && keptNames_.contains(keptName(change.hive, change.subKey, change.valueName))) {
        return true;
    }
    // A key kept whole holds every key and value below it.
    for (std::size_t end = change.subKey.size(); end != std::string::npos;
         end = end == 0 ? std::string::npos : change.subKey.rfind('\\', end - 1)) {
        if (keptNames_.contains(
                keptName(change.hive, change.subKey.substr(0, end), std::nullopt))) {
            return true;
        }
    }
    return false;
}

Result<void> UndoJournal::record(const std::vector<restrictions::PlannedChange>& changes) {
    if (depth_ == 0) {
        return failure("no action has begun");
    }
    std::vector<Kept> added;
    std::unordered_set<std::string> addedNames;
    // A value in a key that is there is kept from one reading of the key, whatever the number of
    // its values; anything else place by place.
    std::map<std::pair<registry::Hive, std::string>, KeyContents> read;
    for (const restrictions::PlannedChange& change : changes) {
        if (isKept(change)) {
            continue;
        }
        if (change.kind == PlannedChange::Kind::SetValue ||
            change.kind == PlannedChange::Kind::DeleteValue) {
            auto [it, fresh] = read.try_emplace({change.hive, lowerCase(change.subKey)});
            if (fresh) {
                it->second = readKey(registry_, change.hive, change.subKey);
            }
            const KeyContents& key = it->second;
            if (key.status == platform::kSuccess) {
                const auto value = key.values.find(lowerCase(change.valueName));
                const bool present = value != key.values.end();
                const bool holds = change.kind == PlannedChange::Kind::DeleteValue
                                       ? !present
                                       : present && value->second.first == change.type &&
                                             value->second.second == change.data;
                std::string name = keptName(change.hive, change.subKey, change.valueName);
                if (holds || keptNames_.contains(name) || !addedNames.insert(name).second) {
                    continue;
                }
                PlaceState prior;
                if (present) {
                    prior = {true, value->second.first, value->second.second};
                }
                // What the change will leave, unless something else changes it first: end()
                // checks it against what the registry holds then.
                PlaceState planned;
                if (change.kind == PlannedChange::Kind::SetValue) {
                    planned = {true, change.type, change.data};
                }
                added.push_back(
                    {{change.hive, change.subKey, change.valueName}, {}, prior, planned});
                continue;
            }
        }
        auto place = placeToKeep(registry_, change);
        if (!place) {
            return place.failure();
        }
        const std::optional<Place>& toKeep = *place;
        if (!toKeep) {
            continue;
        }
        std::string name = keptName(toKeep->hive, toKeep->subKey, toKeep->valueName);
        if (keptNames_.contains(name) || !addedNames.insert(name).second) {
            continue;
        }
        auto prior = snapshot(registry_, *toKeep);
        if (!prior) {
            return prior.failure();
        }
        added.push_back({*toKeep, std::move(prior).value(), std::nullopt, std::nullopt});
    }
    if (added.empty()) {
        return {};
    }
    std::vector<Record> records;
    for (const std::vector<Kept>* kept : {&kept_, &added}) {
        for (const Kept& k : *kept) {
            if (k.value) {
                records.push_back({Record::Kind::Value, k.place.hive, k.place.subKey,
                                   *k.place.valueName, *k.value, k.planned});
                continue;
            }
            std::vector<Record> more = recordsOf(k.place, k.prior, nullptr, false);
            records.insert(records.end(), std::make_move_iterator(more.begin()),
                           std::make_move_iterator(more.end()));
        }
    }
    if (auto written = write(records); !written) {
        return written;
    }
    kept_.insert(kept_.end(), std::make_move_iterator(added.begin()),
                 std::make_move_iterator(added.end()));
    keptNames_.merge(addedNames);
    return {};
}

std::optional<PlaceState> UndoJournal::valueNow(
    const Place& place, std::map<std::pair<registry::Hive, std::string>, KeyContents>& read) {
    auto [it, fresh] = read.try_emplace({place.hive, lowerCase(place.subKey)});
    if (fresh) {
        it->second = readKey(registry_, place.hive, place.subKey);
    }
    const KeyContents& key = it->second;
    if (key.status == platform::kFileNotFound) {
        return PlaceState{};
    }
    if (key.status != platform::kSuccess) {
        return std::nullopt;
    }
    const auto found = key.values.find(lowerCase(*place.valueName));
    if (found == key.values.end()) {
        return PlaceState{};
    }
    return PlaceState{true, found->second.first, found->second.second};
}

void UndoJournal::end() {
    if (depth_ == 0 || --depth_ > 0) {
        return;
    }
    if (file_.empty()) {
        return;
    }
    // What each place holds now, beside what it held: only what really changed is kept. A
    // refused or repeated change needs no undo. A place that cannot be read now keeps the
    // entry's unknown end, which undo leaves alone.
    std::vector<Record> records;
    bool unread = false;
    std::map<std::pair<registry::Hive, std::string>, KeyContents> read;
    for (const Kept& kept : kept_) {
        if (kept.value) {
            Record record{Record::Kind::Value,   kept.place.hive, kept.place.subKey,
                          *kept.place.valueName, *kept.value,     valueNow(kept.place, read)};
            unread = unread || !record.after;
            if (record.after != record.before) {
                records.push_back(std::move(record));
            }
            continue;
        }
        const auto now = snapshot(registry_, kept.place);
        const auto* sections = now ? &*now : nullptr;
        unread = unread || sections == nullptr;
        std::vector<Record> more = recordsOf(kept.place, kept.prior, sections, sections != nullptr);
        records.insert(records.end(), std::make_move_iterator(more.begin()),
                       std::make_move_iterator(more.end()));
    }
    // A file the action did not change in the end (its write failed) needs no undo; one that
    // holds something else than planned keeps what it holds as what the action left.
    const std::vector<FileRecord> planned = files_;
    files_.clear();
    for (FileRecord file : planned) {
        if (!entryFiles_->changed(file)) {
            continue;
        }
        if (file.kind == FileRecord::Kind::Content && !entryFiles_->holds(file.path, file.after)) {
            // Not what was planned: what it holds, or when that cannot be read, an unknown end
            // that undo leaves alone.
            const auto now = entryFiles_->now(file.path);
            file.ended = now.ok();
            file.after = now && *now ? std::optional((*now)->bytes) : std::nullopt;
        }
        files_.push_back(std::move(file));
    }
    if (records.empty() && files_.empty() && !unread) {
        removeEntry(file_.filename().string());
    } else if (records != written_ || files_ != planned) {
        // When this fails, the entry says that the action did not end: undo leaves alone what
        // is not as it was before.
        static_cast<void>(write(records));
    }
    file_.clear();
    kept_.clear();
    keptNames_.clear();
    written_.clear();
    files_.clear();
    entryFiles_.reset();
}

Result<void> UndoJournal::write(const std::vector<Record>& records) {
    auto folder = formats::Folder::make(place_.directory);
    if (!folder) {
        return failure("the undo folder " + place_.directory.string() + " " +
                       folder.failure().reason);
    }
    // What writers killed half-way left: the entries' own folder has no lock to wait for.
    folder->removeLeftoversOfEndedWriters();
    const UndoEntry entry{time_, action_, place_.registry, records, files_};
    formats::WriteOptions options;
#ifdef _WIN32
    options.administratorsOnly = elevated().value_or(false);
#endif
    if (!file_.empty()) {
        written_.clear();
        if (const auto written = folder->write(file_.filename(), writeUndoEntry(entry), options);
            !written) {
            return failure("the backup " + file_.string() +
                           " cannot be written: " + written.failure().reason);
        }
        written_ = records;
        return {};
    }
    const auto now = std::chrono::system_clock::now();
    const std::tm parts = utcTime(std::chrono::system_clock::to_time_t(now));
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()) % 1000000;
    time_ = formatted(parts, "%Y-%m-%d %H:%M:%S UTC");
    const std::string bytes = writeUndoEntry({time_, action_, place_.registry, records, files_});
    options.placing = formats::Placing::NewName;
    // The name is taken by creating it: whoever comes second takes the next number.
    for (int number = 0; number < 1000; ++number) {
        char name[48];
        std::snprintf(name, sizeof name, "%s-%06d-%03d%s",
                      formatted(parts, "%Y%m%d-%H%M%S").c_str(), static_cast<int>(micros.count()),
                      number, kEntryExtension);
        const auto created = folder->write(name, bytes, options);
        if (created) {
            file_ = place_.directory / name;
            written_ = records;
            removeOldEntries();
            return {};
        }
        if (created.failure().status != formats::kNameTaken) {
            return failure("the backup " + (place_.directory / name).string() +
                           " cannot be written: " + created.failure().reason);
        }
    }
    return failure("the backup cannot be written: every name for this moment in " +
                   place_.directory.string() + " is taken");
}

void UndoJournal::removeEntry(const std::string& name) const {
    const auto folder = formats::Folder::open(place_.directory);
    const auto found = folder ? folder->examine(name)
                              : Result<std::optional<formats::FileSignature>>(folder.failure());
    if (found && *found) {
        static_cast<void>(folder->remove(name, **found));
    }
}

void UndoJournal::removeOldEntries() const {
    const auto names = entryNames(place_.directory);
    for (std::size_t i = kEntriesKept; names && i < names->size(); ++i) {
        removeEntry((*names)[i]);
    }
}

JournalListing UndoJournal::list(std::size_t most) const {
    JournalListing listing;
    const auto names = entryNames(place_.directory);
    if (!names) {
        listing.failure =
            "the undo folder " + place_.directory.string() + " " + names.failure().reason;
        return listing;
    }
    const auto folder = formats::Folder::open(place_.directory);
    for (const std::string& name : *names) {
        if (listing.entries.size() >= most) {
            break;
        }
        const fs::path file = place_.directory / name;
        const auto read = folder ? folder->read(name, kEntryLimit)
                                 : Result<formats::FileContent>(folder.failure());
        if (!read) {
            listing.skipped.push_back(file.string() + " " + read.failure().reason);
            continue;
        }
        auto content = readUndoEntry(read->bytes);
        EntrySummary summary{file, {}, {}, {}, {}, {}, {}};
        if (auto* entry = std::get_if<UndoEntry>(&content)) {
            if (entry->registry != place_.registry) {
                continue;
            }
            summary.time = entry->time;
            summary.action = entry->action;
            summary.changed = changedLines(*entry);
            summary.unusable = refusedPlaces(*entry, movedFolder(), filesFolder());
#ifdef _WIN32
            // Any program of the user can write the folder: only Windows itself tells who wrote.
            const std::optional<bool> rights = elevated();
            if (rights && summary.unusable.empty() && changesMachinePlaces(*entry) &&
                !read->administratorsOnly) {
                if (*rights) {
                    summary.unusable = kNotWrittenElevated;
                } else {
                    summary.note = kNotForAdministrators;
                }
            }
#endif
            if (summary.unusable.empty()) {
                summary.entry = std::move(*entry);
            }
        } else {
            const UnreadableEntry& unreadable = std::get<UnreadableEntry>(content);
            if (!unreadable.earlierFormat) {
                listing.skipped.push_back(file.string() + " cannot be read: " + unreadable.reason);
                continue;
            }
            if (unreadable.registry != place_.registry) {
                continue;
            }
            summary.time = unreadable.time;
            summary.action = unreadable.action;
            summary.unusable = unreadable.reason;
        }
        listing.entries.push_back(std::move(summary));
    }
    return listing;
}

}  // namespace quorvane::journal
