// Where the things that set registry values again live: the system folder (Group Policy files,
// scheduled tasks), the Startup folders and the Group Policy caches. On Windows these are the
// computer's own folders; elsewhere the same folders inside the Wine prefix whose registry
// Quorvane works on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/file_access.h"
#include "platform/registry_location.h"

namespace quorvane::diagnosis {

// A key or folder with more entries than this is not walked further (no real one has them), and
// the report says so.
inline constexpr std::uint32_t kMaxEntries = 10'000;

struct Places {
    std::string description;              // "this computer", "the Wine prefix /home/a/.wine"
    std::filesystem::path systemFolder;   // System32; empty when there are no files to look at
    std::filesystem::path windowsFolder;  // where relative commands are looked for too
    std::filesystem::path driveC;         // what C:\ stands for
    std::vector<std::filesystem::path> startupFolders;  // the common one, then each user's
    std::vector<std::filesystem::path> policyCaches;    // each "Microsoft\Group Policy\History"
    std::string missing;  // why there are no files to look at, for people
    // The prefix (or installation) every folder above lies in; empty on Windows, where the
    // computer's own folders are read.
    std::filesystem::path prefix;
    // The prefix, opened once when the places were found: every file and folder above is reached
    // beneath it (no "..", no link), with its owner's rights when root looks at another user's
    // prefix. On Windows each is reached by its path.
    formats::PlaceFiles files;
    // Whether changes take the lock of `files`' folder: a Wine prefix's, which its hive store takes
    // too. An installation's writers are kept apart by the offline registry's own lock, and no
    // lock file is left on a Windows disk.
    bool locked = false;
};

#ifdef _WIN32
Places thisComputer();
#else
// The folders inside the prefix that holds the hive files of `location`.
Places placesOf(const platform::RegistryLocation& location);
#endif

// The folders for a Wine prefix at `prefix` (drive_c/windows/system32, ...), those that exist.
Places prefixPlaces(const std::filesystem::path& prefix);

// The folders of a Windows installation mounted at `root` (its drive C:), those that exist: the
// system folder's Group Policy files and scheduled tasks, the common Startup folder and policy
// cache, and those of the one user whose profile folder is `home` (none without it).
Places installationPlaces(const std::filesystem::path& root, const std::string& description,
                          const std::optional<std::filesystem::path>& home);

// `relative` (components separated by '\' or '/') below `base`, a folder of `places`, matching
// each name without regard to case as Windows does; nullopt when some component is missing.
std::optional<std::filesystem::path> findCaseless(const Places& places,
                                                  const std::filesystem::path& base,
                                                  std::string_view relative);

// The local file a Windows path names ("C:\Users\...", or relative to one of `folders`). ".."
// is taken lexically, as Windows takes it, and never leads above the drive folder (or a folder
// outside it); a link on the way is refused when the file is read.
std::optional<std::filesystem::path> localFile(const Places& places, std::string_view windowsPath,
                                               const std::vector<std::filesystem::path>& folders);

// A path as text for people and for matching, in the registry's narrow encoding.
std::string displayPath(const std::filesystem::path& path);
// The path of an entry's name, given as a listing gives it (UTF-8 on Windows).
std::filesystem::path nameOf(const std::string& name);

}  // namespace quorvane::diagnosis
