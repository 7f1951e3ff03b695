// Winlogon's reader: the programs of Userinit and Shell, and no other value of the key.
#include <gtest/gtest.h>

#include "tests/diagnosis/prefix_rig.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

class WinlogonReader : public PrefixDiagnosis {};

TEST_F(WinlogonReader, RunsEachProgramOfUserinitAndShellAndShowsThemAsWritten) {
    const std::string winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    testing::writeFile(driveC() / "users" / "Public" / "relock.cmd",
                       testing::relock("NoFavorites") + "\r\n");
    putText(platform::kLocalMachine, winlogon, "Userinit",
            "C:\\windows\\system32\\userinit.exe,C:\\users\\Public\\relock.cmd");
    putText(platform::kCurrentUser, winlogon, "Userinit", "C:\\windows\\system32\\userinit.exe,");
    putText(platform::kLocalMachine, winlogon, "Other", testing::relock("NoPrinting"));
    const Findings found = readWith(readWinlogon);
    ASSERT_EQ(found.setting.size(), 1u);
    EXPECT_EQ(found.setting[0].item, "Userinit");
    EXPECT_EQ(found.setting[0].where, "HKEY_LOCAL_MACHINE\\" + winlogon);
    EXPECT_EQ(found.setting[0].restrictions, std::vector<int>{8});
    EXPECT_EQ(found.setting[0].command,
              "C:\\windows\\system32\\userinit.exe,C:\\users\\Public\\relock.cmd");
    // The prefix's own machine Shell is there too.
    // Shown as written, Windows' trailing comma included.
    ASSERT_FALSE(found.others.empty());
    EXPECT_EQ(found.others[0].item, "Userinit");
    EXPECT_EQ(found.others[0].where, "HKEY_CURRENT_USER\\" + winlogon);
    EXPECT_EQ(found.others[0].command, "C:\\windows\\system32\\userinit.exe,");
    for (const Finding& other : found.others) {
        EXPECT_NE(other.item, "Other");
    }
}

}  // namespace
}  // namespace quorvane::diagnosis
