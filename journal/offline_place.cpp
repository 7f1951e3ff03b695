#include "journal/offline_place.h"

#include "platform/offline_hive_file.h"

namespace quorvane::journal {

OfflinePlace offlinePlace(const platform::WindowsInstallation& installation,
                          const platform::WindowsUser& user,
                          const platform::EnvironmentLookup& environment) {
    std::string path = installation.root.generic_string();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const std::filesystem::path folder = defaultUndoDirectory(environment).parent_path() /
                                         "offline" /
                                         platform::offline::fileNameOf(installation.identity);
    // The default profile has no SID: no user's profile takes its name.
    const std::string who = user.sid.empty() ? "Default" : user.sid;
    return {
        folder,
        {folder / "undo" / platform::offline::fileNameOf(who),
         "the Windows installation " + installation.identity + ", user " + who, installation.root},
        folder / "backups",
        "the Windows installation " + path + ", user " + user.name};
}

}  // namespace quorvane::journal
