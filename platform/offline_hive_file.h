// The files of an offline Windows installation's hives: whether one may be written now, the
// copies kept before the first change, and replacing a hive so that it is either the old or the
// new file, never a torn one.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/hive_io.h"

namespace quorvane::platform::offline {

inline constexpr const char* kShutDownAdvice =
    "Windows was not shut down completely: start it and shut it down with Shift held, or turn "
    "off Fast Startup";

// How many copies of each hive the backup folder keeps.
inline constexpr int kBackupsKept = 3;

// Why the hive `name` in `folder` must not be written now, for people, naming the file: its
// header is damaged or says it was not written back cleanly, transaction logs beside it hold
// changes not yet in it, the mount is read-only or the folder or file may not be written.
// Nothing when it may be written.
std::optional<std::string> writeRefusal(const hive::Directory& folder, const std::string& name);

// Copies the hive `name` of `folder` into `backups` (made when missing) as
// `<label>-<UTC time>.hive`, flushed, and removes all but the newest kBackupsKept copies of that
// label. Returns the copy. Throws hive::FileError.
std::filesystem::path keepBackup(const hive::Directory& folder, const std::string& name,
                                 const std::filesystem::path& backups, const std::string& label);

// Replaces the hive `name` of `folder`: `write` fills a new, empty file beside it (throws
// hive::FileError), which must pass `verify` (throws std::runtime_error saying what did not read
// back), then takes the hive's mode, owner, the access time `accessed` (the hive's before
// Quorvane read it) and, on an NTFS mount, its creation time and attributes, and is flushed
// before it is renamed over the hive and the folder is flushed. On any failure the hive is left
// as it was. Returns the new version.
hive::FileSignature replaceHive(const hive::Directory& folder, const std::string& name,
                                const timespec& accessed,
                                const std::function<void(const std::filesystem::path&)>& write,
                                const std::function<void(const std::filesystem::path&)>& verify);

}  // namespace quorvane::platform::offline
