// quorvane-cli run by the shell in a scratch folder, as a user runs it: with no configuration
// file, data, state or Wine prefix of the user's, so that nothing outside the folder is read or
// changed. CliScene adds a Wine prefix made from the fixture hives.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/hive_store.h"
#include "tests/support/cli_run.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {

// `environment`: more variables for the command (an empty WINEPREFIX=, say), or a program that
// runs it ("timeout 60 env").
inline std::string cliCommand(const std::filesystem::path& scratch, const std::string& arguments,
                              const std::string& environment = {}) {
    return "env -u WINEPREFIX QUORVANE_CONFIG=" + (scratch / "none.ini").string() +
           " XDG_CONFIG_HOME=" + (scratch / "config").string() +
           " XDG_DATA_HOME=" + (scratch / "data").string() +
           " XDG_STATE_HOME=" + (scratch / "state").string() + " " + environment +
           " " QUORVANE_CLI " " + arguments;
}

// Whether a command exited with `status` and printed `part` on the stream `where` (&CliOutcome::out
// or &CliOutcome::err), as a check that shows what it printed when it fails.
inline ::testing::AssertionResult exits(const CliOutcome& outcome, int status,
                                        std::string CliOutcome::*where, std::string_view part) {
    if (outcome.status != status) {
        return ::testing::AssertionFailure()
               << "status " << outcome.status << ", not " << status << ":\n"
               << outcome.out << outcome.err;
    }
    return contains(outcome.*where, part);
}

// A scheduled task, as Windows stores it, that sets the restriction `valueName` again, enabled in
// its settings.
inline std::string relockTask(const std::string& valueName) {
    return utf16WithBom(
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\">\r\n"
        "  <Settings>\r\n    <Enabled>true</Enabled>\r\n  </Settings>\r\n"
        "  <Actions><Exec><Command>reg</Command><Arguments>add \"HKCU\\Software\\Policies\\"
        "Microsoft\\Internet Explorer\\Restrictions\" /v " +
        valueName + " /d 1 /f</Arguments></Exec></Actions>\r\n</Task>\r\n");
}

// Every entry below `folder` (links not followed) with its mode, owner and bytes.
inline std::map<std::filesystem::path, std::string> snapshot(const std::filesystem::path& folder) {
    std::map<std::filesystem::path, std::string> all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        struct stat info {};
        ::lstat(entry.path().c_str(), &info);
        all[entry.path()] = std::to_string(info.st_mode) + " " + std::to_string(info.st_uid) + " " +
                            (S_ISREG(info.st_mode) ? readFile(entry.path()) : "");
    }
    return all;
}

class CliScene {
public:
    CliScene() {
        std::filesystem::create_directories(system32());
        copyFixtureHives(prefix());
    }

    std::filesystem::path prefix() const { return dir_.path() / "prefix"; }
    std::filesystem::path system32() const { return prefix() / "drive_c" / "windows" / "system32"; }
    std::filesystem::path state() const { return dir_.path() / "state"; }

    // On any registry (`arguments` name it, or the program's own store is used).
    CliOutcome runOnAny(const std::string& arguments, const std::string& environment = {}) const {
        return runCommandLine(cliCommand(dir_.path(), arguments, environment), dir_.path());
    }
    CliOutcome run(const std::string& arguments, const std::string& environment = {}) const {
        return runOnAny("--registry " + prefix().string() + " " + arguments, environment);
    }

    std::string hives() const {
        return readFile(prefix() / "user.reg") + readFile(prefix() / "system.reg");
    }
    void put(platform::KeyHandle root, const std::string& key, const std::string& name,
             const Stored& data) const {
        platform::HiveStore store(prefix());
        testing::put(store, root, key, name, data);
    }
    std::optional<Stored> value(platform::KeyHandle root, const std::string& key,
                                const std::string& name) const {
        platform::HiveStore store(prefix());
        return stored(store, root, key, name);
    }

    TempDir dir_;
};

}  // namespace quorvane::testing
