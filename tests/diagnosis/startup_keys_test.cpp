// The startup keys' reader, and what the registry files their commands import put in force.
#include "journal/startup_keys.h"

#include <gtest/gtest.h>

#include "tests/diagnosis/prefix_rig.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

// Registry files a startup command imports count for the values they put in force only. (One
// that sets a value and deletes another: the prefix every place is looked in.)
TEST_F(PrefixDiagnosis, ImportedRegistryFilesCountOnlyWhatTheyPutInForce) {
    const struct {
        const char* what;
        const char* lines;  // below the Restrictions key
        std::vector<int> restrictions;
        bool returns;
    } cases[] = {
        {"negative", "\"NoBrowserClose\"=dword:ffffffff\r\n", {}, false},
        {"text one", "\"NoBrowserClose\"=\"1\"\r\n", {4}, true},
        {"other value", "\"NoBrowserCloseX\"=dword:00000001\r\n", {}, false},
        {"name inside a name", "\"XNoBrowserClose\"=dword:00000001\r\n", {}, false},
        {"other key",
         "[HKEY_CURRENT_USER\\Software\\Acme]\r\n\"NoBrowserClose\"=dword:00000001\r\n",
         {},
         false},
        {"a user s key",
         "[HKEY_USERS\\S-1-5-21-7\\Software\\Policies\\Microsoft\\Internet "
         "Explorer\\Restrictions]\r\n\"NoBrowserClose\"=dword:00000001\r\n",
         {4},
         true},
        {"not a registry file", "garbage\r\n", {}, true},
    };
    setRunEntry("Import", "regedit /s C:\\users\\Public\\x.reg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::writeFile(driveC() / "users" / "Public" / "x.reg", restrictionsRegFile(c.lines));
        const Report report = diagnoseWith();
        ASSERT_EQ(report.somethingReturns(), c.returns) << formatReport(report);
        if (c.returns) {
            EXPECT_EQ(report.returning[0].restrictions, c.restrictions);
        }
    }
}

// Every startup key of both hives is read, in order; a value that holds no text runs nothing.
TEST_F(PrefixDiagnosis, ReadsEveryStartupKeyOfBothHives) {
    {
        platform::HiveStore store(prefix());
        for (const journal::StartupKey& key : journal::kStartupKeys) {
            // A command is held as REG_SZ or as REG_EXPAND_SZ.
            const auto type =
                key.root == platform::kLocalMachine ? platform::kRegExpandSz : platform::kRegSz;
            testing::put(store, key.root, key.subKey, "Relock",
                         {type, testing::sz(testing::relock("NoPrinting")).bytes});
            testing::put(store, key.root, key.subKey, "Number", testing::dword(1));
        }
    }
    const Findings found = readWith(readStartupKeys);
    ASSERT_EQ(found.setting.size(), std::size(journal::kStartupKeys));
    for (std::size_t i = 0; i < found.setting.size(); ++i) {
        const journal::StartupKey& key = journal::kStartupKeys[i];
        const std::string hive =
            key.root == platform::kLocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\";
        EXPECT_EQ(found.setting[i].where, hive + key.subKey);
        EXPECT_EQ(found.setting[i].restrictions, std::vector<int>{14});
    }
    EXPECT_TRUE(found.others.empty());
}

}  // namespace
}  // namespace quorvane::diagnosis
