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

std::vector<std::string> components(std::string_view relative) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("\\/", start);
        end = end == std::string_view::npos ? relative.size() : end;
        if (end > start) {
            names.emplace_back(relative.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

void addIfFound(std::vector<fs::path>& list, const fs::path& base, std::string_view relative) {
    if (auto found = findCaseless(base, relative)) {
        list.push_back(std::move(*found));
    }
}

#ifndef _WIN32
bool isAbsoluteWindowsPath(std::string_view path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}
#endif

}  // namespace

std::optional<fs::path> findCaseless(const fs::path& base, std::string_view relative) {
    fs::path current = base;
    std::error_code error;
    for (const std::string& name : components(relative)) {
        if (fs::exists(current / name, error)) {
            current /= name;
            continue;
        }
        std::optional<fs::path> match;
        for (fs::directory_iterator it(current, error), end; !error && it != end;
             it.increment(error)) {
            if (equalIgnoringCase(displayPath(it->path().filename()), name)) {
                match = it->path();
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

Places prefixPlaces(const fs::path& prefix) {
    Places places;
    places.description = "the Wine prefix " + displayPath(prefix);
    const auto driveC = findCaseless(prefix, "drive_c");
    const auto system = driveC ? findCaseless(*driveC, "windows/system32") : std::nullopt;
    if (!system) {
        places.missing = displayPath(prefix) +
                         " holds no Windows system folder (drive_c/windows/system32), so it "
                         "has no Group Policy files, startup folders or scheduled tasks to look at";
        return places;
    }
    places.driveC = *driveC;
    places.systemFolder = *system;
    places.windowsFolder = system->parent_path();
    addIfFound(places.startupFolders, *driveC,
               "ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp");
    addIfFound(places.policyCaches, *driveC, "ProgramData/Microsoft/Group Policy/History");
    std::error_code error;
    if (const auto users = findCaseless(*driveC, "users")) {
        std::vector<fs::path> homes;
        for (fs::directory_iterator it(*users, error), end; !error && it != end;
             it.increment(error)) {
            homes.push_back(it->path());
        }
        std::sort(homes.begin(), homes.end());
        for (const fs::path& home : homes) {
            addIfFound(places.startupFolders, home,
                       "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Startup");
            addIfFound(places.policyCaches, home, "AppData/Local/Microsoft/Group Policy/History");
        }
    }
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
        std::error_code error;
        if (fs::exists(folder / given, error)) {
            return folder / given;
        }
    }
    return std::nullopt;
#else
    if (isAbsoluteWindowsPath(windowsPath)) {
        const char drive =
            static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
        if (drive == 'c' && !places.driveC.empty()) {
            return findCaseless(places.driveC, windowsPath.substr(3));
        }
        return std::nullopt;
    }
    for (const fs::path& folder : folders) {
        if (auto found = folder.empty() ? std::nullopt : findCaseless(folder, windowsPath)) {
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
            addIfFound(places.policyCaches, *found, "Microsoft\\Group Policy\\History");
        }
    }
    return places;
}

#endif

}  // namespace quorvane::diagnosis
