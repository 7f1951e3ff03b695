// Where Quorvane keeps what belongs to a Windows installation it changes from outside (a disk
// mounted on Linux): each user's undo entries apart from every other registry's, and the copies
// of the installation's hives taken before a change. Both lie in a folder of its own, named
// after the installation's path, in the folder of the undo entries' parent:
// $XDG_STATE_HOME/Quorvane/offline/<installation>/undo/<user> and .../backups.
#pragma once

#include <filesystem>
#include <string>

#include "journal/undo_journal.h"
#include "platform/registry_location.h"

namespace quorvane::journal {

struct OfflinePlace {
    std::filesystem::path folder;  // the installation's own folder
    // The user's undo entries; their registry is named "the Windows installation /mnt/windows,
    // user ann", which also says for people what is worked on.
    JournalPlace undo;
    std::filesystem::path backups;  // the copies of the installation's hives
};

// `root` is the installation's folder as the system reaches it (links followed); `user` the
// profile folder's name, as found.
OfflinePlace offlinePlace(
    const std::filesystem::path& root, const std::string& user,
    const platform::EnvironmentLookup& environment = platform::processEnvironment);

// A path or name as one file name that no other path or name gives: letters, digits, '.' and
// '_' stay, '/' becomes '-', every other byte %XX. A long one is shortened and ends with a
// checksum of the whole.
std::string folderNameOf(const std::string& text);

}  // namespace quorvane::journal
