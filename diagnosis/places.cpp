#include "diagnosis/places.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "diagnosis/text_scan.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shlobj.h needs its types.
#include <shlobj.h>
#endif

namespace quorvane::diagnosis {

namespace {

namespace fs = std::filesystem;

// The names of `relative`, with "." dropped and ".." taking back the name before it; nullopt
// when ".." would lead above the start, unless `clamp`: then it stays there, as ".." does at the
// root of a Windows drive.
std::optional<std::vector<std::string>> components(std::string_view relative, bool clamp = false) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("\\/", start);
        end = end == std::string_view::npos ? relative.size() : end;
        const std::string_view name = relative.substr(start, end - start);
        if (name == "..") {
            if (names.empty() && !clamp) {
                return std::nullopt;
            }
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != ".") {
            names.emplace_back(name);
        }
        start = end + 1;
    }
    return names;
}

void addIfFound(const Places& places, std::vector<fs::path>& list, const fs::path& base,
                std::string_view relative) {
    if (auto found = findCaseless(places, base, relative)) {
        list.push_back(std::move(*found));
    }
}

// Whether there is anything of the name `path` (a link or a FIFO counts: it is refused when read).
bool exists(const Places& places, const fs::path& path) {
    const auto located = places.files.locate(path);
    const auto found = located ? located->folder.examine(located->name)
                               : Result<std::optional<formats::FileSignature>>(located.failure());
    return found && found->has_value();
}

// The entries of the folder `folder` of `places`; none when it cannot be listed.
std::vector<formats::Entry> entries(const Places& places, const fs::path& folder) {
    const auto located = places.files.locate(folder);
    auto listing = located ? located->folder.list(located->name, kMaxEntries)
                           : Result<formats::Listing>(located.failure());
    return listing ? std::move(listing->entries) : std::vector<formats::Entry>();
}

#ifndef _WIN32
// `path` below the drive folder, as Windows resolves it: ".." at the root stays there.
std::optional<fs::path> onDrive(const Places& places, std::string_view path) {
    std::string normalised;
    const auto names = components(path, true);  // never nullopt: ".." stays at the root
    for (const std::string& name : *names) {
        normalised.append(normalised.empty() ? "" : "/").append(name);
    }
    return findCaseless(places, places.driveC, normalised);
}

bool isAbsoluteWindowsPath(std::string_view path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}
#endif

}  // namespace

std::optional<fs::path> findCaseless(const Places& places, const fs::path& base,
                                     std::string_view relative) {
    const auto names = components(relative);
    if (!names) {
        return std::nullopt;
    }
    fs::path current = base;
    for (const std::string& name : *names) {
        if (exists(places, current / name)) {
            current /= name;
            continue;
        }
        std::optional<fs::path> match;
        for (const formats::Entry& entry : entries(places, current)) {
            if (equalIgnoringCase(entry.name, name)) {
                match = current / nameOf(entry.name);
                break;
            }
        }
        if (!match) {
            return std::nullopt;
        }
        current = std::move(*match);
    }
    return current;
}

std::string displayPath(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path nameOf(const std::string& name) {
    return fs::path(std::u8string(name.begin(), name.end()));
}

namespace {

// The folders of the Windows drive at `driveC` that hold what runs at logon and what policy left
// behind: the common Startup folder and policy cache, then those of each home in `homes`.
void addDriveFolders(Places& places, const fs::path& driveC, const std::vector<fs::path>& homes) {
    addIfFound(places, places.startupFolders, driveC,
               "ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp");
    addIfFound(places, places.policyCaches, driveC, "ProgramData/Microsoft/Group Policy/History");
    for (const fs::path& home : homes) {
        addIfFound(places, places.startupFolders, home,
                   "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Startup");
        addIfFound(places, places.policyCaches, home,
                   "AppData/Local/Microsoft/Group Policy/History");
    }
}

// Opens the prefix or installation at `root` once, for everything after; false, with the reason
// in `missing`, when it cannot be opened.
bool openRoot(Places& places, const fs::path& root) {
    auto folder = formats::Folder::open(root);
    if (!folder) {
        places.missing = displayPath(root) + " " + folder.failure().reason +
                         ", so its Group Policy files, startup folders and scheduled tasks were "
                         "not looked at";
        return false;
    }
    places.files = formats::PlaceFiles(std::move(folder).value());
    return true;
}

}  // namespace

Places prefixPlaces(const fs::path& prefix) {
    Places places;
    places.description = "the Wine prefix " + displayPath(prefix);
    places.prefix = prefix;
    if (!openRoot(places, prefix)) {
        return places;
    }
    places.locked = true;
    const auto driveC = findCaseless(places, prefix, "drive_c");
    const auto system = driveC ? findCaseless(places, *driveC, "windows/system32") : std::nullopt;
    if (!system) {
        places.missing = displayPath(prefix) +
                         " holds no Windows system folder (drive_c/windows/system32), so it "
                         "has no Group Policy files, startup folders or scheduled tasks to look at";
        return places;
    }
    places.driveC = *driveC;
    places.systemFolder = *system;
    places.windowsFolder = system->parent_path();
    std::vector<fs::path> homes;
    if (const auto users = findCaseless(places, *driveC, "users")) {
        for (const formats::Entry& entry : entries(places, *users)) {
            if (entry.kind == formats::Entry::Kind::Folder) {
                homes.push_back(*users / nameOf(entry.name));
            }
        }
    }
    addDriveFolders(places, *driveC, homes);
    return places;
}

Places installationPlaces(const fs::path& root, const std::string& description,
                          const std::optional<fs::path>& home) {
    Places places;
    places.description = description;
    places.prefix = root;
    if (!openRoot(places, root)) {
        return places;
    }
    const auto system = findCaseless(places, root, "windows/system32");
    if (!system) {
        places.missing = displayPath(root) +
                         " holds no Windows system folder (Windows/System32), so it has no Group "
                         "Policy files, startup folders or scheduled tasks to look at";
        return places;
    }
    places.driveC = root;
    places.systemFolder = *system;
    places.windowsFolder = system->parent_path();
    addDriveFolders(places, root, home ? std::vector<fs::path>{*home} : std::vector<fs::path>{});
    return places;
}

#ifndef _WIN32

Places placesOf(const platform::RegistryLocation& location) {
    if (location.kind == platform::RegistryLocation::Kind::OwnStore) {
        Places places;
        places.description = location.describe();
        places.missing =
            "Quorvane's own registry store is no Windows installation: it has no Group Policy "
            "files, startup folders or scheduled tasks, so only its registry was looked at";
        return places;
    }
    Places places = prefixPlaces(location.directory);
    places.description = location.describe();
    return places;
}

#endif

std::optional<fs::path> localFile(const Places& places, std::string_view windowsPath,
                                  const std::vector<fs::path>& folders) {
#ifdef _WIN32
    static_cast<void>(places);
    const fs::path given(std::u8string(windowsPath.begin(), windowsPath.end()));
    if (given.is_absolute()) {
        return given;
    }
    for (const fs::path& folder : folders) {
        if (exists(places, folder / given)) {
            return folder / given;
        }
    }
    return std::nullopt;
#else
    if (isAbsoluteWindowsPath(windowsPath)) {
        const char drive =
            static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
        if (drive != 'c' || places.driveC.empty()) {
            return std::nullopt;
        }
        return onDrive(places, windowsPath.substr(3));
    }
    for (const fs::path& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        // A folder on the drive: ".." may lead up from it as far as the drive's root.
        const fs::path below = folder.lexically_relative(places.driveC);
        const bool onTheDrive = !places.driveC.empty() && !below.empty() && *below.begin() != "..";
        auto found = onTheDrive
                         ? onDrive(places, displayPath(below) + "/" + std::string(windowsPath))
                         : findCaseless(places, folder, windowsPath);
        if (found) {
            return found;
        }
    }
    return std::nullopt;
#endif
}

#ifdef _WIN32

namespace {

// In UTF-16: a user's folder may hold characters outside the ANSI code page.
std::optional<fs::path> shellFolder(int which) {
    wchar_t buffer[MAX_PATH];
    if (SHGetFolderPathW(nullptr, which, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) {
        return std::nullopt;
    }
    return fs::path(buffer);
}

}  // namespace

Places thisComputer() {
    Places places;
    places.description = "this computer";
    char buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        places.missing = "the system folder could not be found";
        return places;
    }
    places.systemFolder = fs::path(std::string(buffer, length));
    places.windowsFolder = places.systemFolder.parent_path();
    places.driveC = places.systemFolder.root_path();
    for (int folder : {CSIDL_COMMON_STARTUP, CSIDL_STARTUP}) {
        if (auto found = shellFolder(folder)) {
            places.startupFolders.push_back(*found);
        }
    }
    for (int folder : {CSIDL_COMMON_APPDATA, CSIDL_LOCAL_APPDATA}) {
        if (auto found = shellFolder(folder)) {
            addIfFound(places, places.policyCaches, *found, "Microsoft\\Group Policy\\History");
        }
    }
    return places;
}

#endif

}  // namespace quorvane::diagnosis
