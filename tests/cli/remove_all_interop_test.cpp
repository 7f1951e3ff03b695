// Remove-all with only the registry editor's restriction in force, over and over, each round
// checked by Wine's own `reg`: the six policy keys are back and empty, and the restriction is
// gone from both hives, whenever quorvane-cli said so. The rounds come from
// QUORVANE_INTEROP_ROUNDS (3 when unset) and stop after QUORVANE_INTEROP_SECONDS (120);
// QUORVANE_INTEROP_LOAD busy processes run beside them (none when unset).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/cli_run.h"
#include "tests/support/contains.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace quorvane::testing {
namespace {

int setting(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// Busy processes, stopped when it goes.
class Load {
public:
    explicit Load(int processes) {
        for (int i = 0; i < processes; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                volatile unsigned long spins = 0;
                while (true) {
                    spins = spins + 1;
                }
            }
            pids_.push_back(pid);
        }
    }
    ~Load() {
        for (pid_t pid : pids_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

private:
    std::vector<pid_t> pids_;
};

const std::string kPolicies = "Software\\Policies\\Microsoft\\Internet Explorer";
const std::string kSystem = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

TEST(RemoveAllInterop, WinesRegFindsWhatTheSuccessTextSays) {
    WinePrefix wine;
    ASSERT_TRUE(wine.booted()) << wine.bootLog();
    TempDir scratch;
    const std::string cli = "QUORVANE_CONFIG=" + (scratch.path() / "none.ini").string() +
                            " XDG_STATE_HOME=" + (scratch.path() / "state").string() +
                            " WINEPREFIX='" + wine.path().string() + "' " QUORVANE_CLI;
    const int rounds = setting("QUORVANE_INTEROP_ROUNDS", 3);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(setting("QUORVANE_INTEROP_SECONDS", 120));
    const Load load(setting("QUORVANE_INTEROP_LOAD", 0));
    for (int round = 1; round <= rounds && std::chrono::steady_clock::now() < deadline; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (const char* hive : {"HKCU", "HKLM"}) {
            ASSERT_EQ(wine.run(std::string("wine reg add '") + hive + "\\" + kSystem +
                               "' /v DisableRegistryTools /t REG_DWORD /d 1 /f"),
                      0)
                << wine.log();
        }
        wine.stopServer();

        const CliOutcome removed = runCommandLine(cli + " remove-all", scratch.path());
        ASSERT_EQ(removed.status, 0) << removed.err;
        ASSERT_TRUE(contains(removed.out, "All Restrictions have been removed!"));

        for (const char* hive : {"HKCU", "HKLM"}) {
            for (const char* key :
                 {"\\Restrictions", "\\Control Panel", "\\Toolbars\\Restrictions"}) {
                const std::string path = std::string(hive) + "\\" + kPolicies + key;
                EXPECT_EQ(wine.run("wine reg query '" + path + "'"), 0) << path << wine.log();
                EXPECT_FALSE(contains(wine.log(), "REG_")) << path << " is not empty";
            }
            EXPECT_NE(wine.run(std::string("wine reg query '") + hive + "\\" + kSystem +
                               "' /v DisableRegistryTools"),
                      0)
                << hive << wine.log();
        }
        wine.stopServer();
    }
}

}  // namespace
}  // namespace quorvane::testing
