// Where the things that set registry values again live: the system folder (Group Policy files,
// scheduled tasks), the Startup folders and the Group Policy caches. On Windows these are the
// computer's own folders; elsewhere the same folders inside the Wine prefix whose registry
// Quorvane works on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_location.h"

namespace quorvane::diagnosis {

struct Places {
    std::string description;              // "this computer", "the Wine prefix /home/a/.wine"
    std::filesystem::path systemFolder;   // System32; empty when there are no files to look at
    std::filesystem::path windowsFolder;  // where relative commands are looked for too
    std::filesystem::path driveC;         // what C:\ stands for
    std::vector<std::filesystem::path> startupFolders;  // the common one, then each user's
    std::vector<std::filesystem::path> policyCaches;    // each "Microsoft\Group Policy\History"
    std::string missing;  // why there are no files to look at, for people
    // What every file looked at must lie in (after links are followed), and whose owner's eyes
    // root reads with: the prefix. Empty on Windows, where the computer's own folders are read.
    std::filesystem::path prefix;

    // Whether `path`, with its links followed, lies inside the prefix (always, without one).
    bool contains(const std::filesystem::path& path) const;
};

#ifdef _WIN32
Places thisComputer();
#else
// The folders inside the prefix that holds the hive files of `location`.
Places placesOf(const platform::RegistryLocation& location);
#endif

// The folders for a Wine prefix at `prefix` (drive_c/windows/system32, ...), those that exist.
Places prefixPlaces(const std::filesystem::path& prefix);

// `relative` (components separated by '\' or '/') below `base`, matching each name without
// regard to case as Windows does; nullopt when some component is missing.
std::optional<std::filesystem::path> findCaseless(const std::filesystem::path& base,
                                                  std::string_view relative);

// The local file a Windows path names ("C:\Users\...", or relative to one of `folders`). ".."
// is taken lexically, as Windows takes it, and never leads above the drive folder (or a folder
// outside it). A link on the way may still lead out of the prefix: check `contains` before
// reading.
std::optional<std::filesystem::path> localFile(const Places& places, std::string_view windowsPath,
                                               const std::vector<std::filesystem::path>& folders);

// A path as text for people and for matching, in the registry's narrow encoding.
std::string displayPath(const std::filesystem::path& path);

}  // namespace quorvane::diagnosis
