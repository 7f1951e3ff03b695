// Where Quorvane keeps what belongs to a Windows installation it changes from outside (a disk
// mounted on Linux): each user's undo entries apart from every other registry's, and the copies
// of the installation's hives taken before a change. Both belong to the installation itself,
// not to the path its disk is mounted at: another disk mounted at the same path is another
// installation, with folders of its own, and the same disk mounted elsewhere is the same one.
// $XDG_STATE_HOME/Quorvane/offline/<identity>/undo/<user's SID> and .../backups.
#pragma once

#include <filesystem>
#include <string>

#include "journal/undo_journal.h"
#include "platform/registry_location.h"
#include "platform/windows_installation.h"

namespace quorvane::journal {

struct OfflinePlace {
    std::filesystem::path folder;  // the installation's own folder
    // The user's undo entries; their registry names the installation and user by identity.
    JournalPlace undo;
    std::filesystem::path backups;  // the copies of the installation's hives
    // What is worked on, for people: "the Windows installation /mnt/windows, user ann".
    std::string description;
};

OfflinePlace offlinePlace(
    const platform::WindowsInstallation& installation, const platform::WindowsUser& user,
    const platform::EnvironmentLookup& environment = platform::processEnvironment);

}  // namespace quorvane::journal
