// quorvane-cli --windows DIR [--user NAME|all]: every command on a Windows installation that is
// not running (its disk mounted on Linux), once for each user chosen. Each user's undo entries
// and the copies of the hives lie apart from every other registry's (journal/offline_place.h).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/session.h"
#include "toolkit/configuration.h"

namespace quorvane::cli {

// One user of the installation, as a command runs on it.
struct OfflineTarget {
    std::filesystem::path root;  // the installation's folder, links followed
    std::string user;            // the profile folder's name, as found
    std::filesystem::path home;  // the profile folder
    std::string description;     // "the Windows installation /mnt/windows, user ann"
};

enum class OfflineOutput {
    Text,      // each user's output under a line that names the installation and user
    ListJson,  // one array: every user's rows, each naming the installation and user
    // Each user's object, naming the installation and user; with --user all an array of them:
    // one JSON document whatever --user says.
    ObjectJson,
};

// After a run that changed a hive, the copies kept of the hives from before are named.
struct OfflineCommand {
    OfflineOutput output = OfflineOutput::Text;
    std::function<int(Session&, const OfflineTarget&)> run;
};

// Runs `command` for the user the command line chose (--user NAME; the only user when there is
// one), or for every user and the default profile (--user all), one after the other. Without
// --user and with several users it lists them on standard error and returns kExitUsage. Every
// chosen user's hives are read first: when one cannot be, nothing is run for anyone (kExitUsage,
// nothing written). Returns the worst exit status of the runs.
int runOffline(const CommandLine& line, const toolkit::Configuration& configuration,
               const OfflineCommand& command);

}  // namespace quorvane::cli
