// Remove-all with only the registry editor's restriction in force, over and over, each round
// checked by Wine's own `reg`: the restriction is gone from both hives whenever quorvane-cli said
// so. In force in both hives, the six policy keys are back and empty; in force in the machine hive
// only, no box is checked, so no lifting action makes them again, and the next switch does. Each
// round first reads its set-up back from the hive files, so that a set-up Wine did not store
// shows as that and not as a fault of remove-all. The rounds come from QUORVANE_INTEROP_ROUNDS
// (4 when unset) and stop after QUORVANE_INTEROP_SECONDS (120).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <sstream>
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

const std::string kPolicies = "Software\\Policies\\Microsoft\\Internet Explorer";
const std::string kSystem = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// The registry editor's row of `list`: its two hive columns.
std::string registryEditorColumns(const std::string& list) {
    const std::size_t row = list.find("Registry Editor");
    if (row == std::string::npos) {
        return "(no row)";
    }
    std::istringstream words(list.substr(row, list.find('\n', row) - row));
    std::vector<std::string> all{std::istream_iterator<std::string>(words), {}};
    return all.size() < 2 ? "(cut short)" : all[all.size() - 2] + " " + all.back();
}

TEST(RemoveAllInterop, WinesRegFindsWhatTheSuccessTextSays) {
    WinePrefix wine;
    ASSERT_TRUE(wine.booted()) << wine.bootLog();
    TempDir scratch;
    const std::string cli = "QUORVANE_CONFIG=" + (scratch.path() / "none.ini").string() +
                            " XDG_STATE_HOME=" + (scratch.path() / "state").string() +
                            " WINEPREFIX='" + wine.path().string() + "' " QUORVANE_CLI;
    const int rounds = setting("QUORVANE_INTEROP_ROUNDS", 4);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::seconds(setting("QUORVANE_INTEROP_SECONDS", 120));
    const auto keysAreThereAndEmpty = [&](bool there) {
        for (const char* hive : {"HKCU", "HKLM"}) {
            for (const char* key :
                 {"\\Restrictions", "\\Control Panel", "\\Toolbars\\Restrictions"}) {
                const std::string path = std::string(hive) + "\\" + kPolicies + key;
                EXPECT_EQ(wine.run("wine reg query '" + path + "'") == 0, there)
                    << path << wine.log();
                EXPECT_FALSE(contains(wine.log(), "REG_")) << path << " is not empty";
            }
        }
        wine.stopServer();
    };
    for (int round = 1; round <= rounds && std::chrono::steady_clock::now() < deadline; ++round) {
        const bool bothHives = round % 2 == 1;
        SCOPED_TRACE("round " + std::to_string(round) +
                     (bothHives ? ", in force in both hives" : ", in the machine hive only"));
        for (const char* hive : {"HKCU", "HKLM"}) {
            if (bothHives || hive == std::string("HKLM")) {
                ASSERT_EQ(wine.run(std::string("wine reg add '") + hive + "\\" + kSystem +
                                   "' /v DisableRegistryTools /t REG_DWORD /d 1 /f"),
                          0)
                    << wine.log();
            }
        }
        wine.stopServer();
        const CliOutcome before = runCommandLine(cli + " list", scratch.path());
        ASSERT_EQ(registryEditorColumns(before.out), bothHives ? "1 1" : "absent 1")
            << "Wine did not store the set-up\n"
            << before.out;

        const CliOutcome removed = runCommandLine(cli + " remove-all", scratch.path());
        ASSERT_EQ(removed.status, 0) << removed.err;
        ASSERT_TRUE(contains(removed.out, "All Restrictions have been removed!"));

        for (const char* hive : {"HKCU", "HKLM"}) {
            EXPECT_NE(wine.run(std::string("wine reg query '") + hive + "\\" + kSystem +
                               "' /v DisableRegistryTools"),
                      0)
                << hive << wine.log();
        }
        wine.stopServer();
        keysAreThereAndEmpty(bothHives);
        if (!bothHives) {
            // Any switch makes them again, a lift of what is not in force too.
            ASSERT_EQ(runCommandLine(cli + " lift 23", scratch.path()).status, 0);
            keysAreThereAndEmpty(true);
        }
    }
}

}  // namespace
}  // namespace quorvane::testing
