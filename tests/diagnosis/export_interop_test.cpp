// quorvane-cli export against Wine's own registry editor: the file it writes, imported with
// `regedit /s` into a fresh prefix that holds other values, leaves that prefix with exactly the
// restrictions' values of the exported registry; `reg query` and the hive files both say so.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <optional>

#include "platform/hive_store.h"
#include "restrictions/catalogue.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using platform::kCurrentUser;
using platform::kLocalMachine;
using restrictions::kBrowserMainKey;
using restrictions::kControlPanelKey;
using restrictions::kRestrictionsKey;
using restrictions::kSystemPoliciesKey;
using restrictions::kToolbarRestrictionsKey;
using testing::dword;
using testing::put;
using testing::sz;

class ExportInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() { wine_ = new testing::WinePrefix; }
    static void TearDownTestSuite() { delete wine_; }
    void SetUp() override { ASSERT_TRUE(wine_->booted()) << wine_->bootLog(); }

    int cli(const std::string& arguments) const {
        const std::string command = "QUORVANE_CONFIG=" + (dir_.path() / "none.ini").string() +
                                    " " QUORVANE_CLI " --registry " + source().string() + " " +
                                    arguments + " >" + (dir_.path() / "cli.log").string() + " 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path source() const { return dir_.path() / "source"; }

    static int reg(const std::string& arguments) { return wine_->run("wine reg " + arguments); }

    static inline testing::WinePrefix* wine_ = nullptr;
    testing::TempDir dir_;
};

TEST_F(ExportInterop, RegeditImportReproducesTheExportedValues) {
    {
        platform::HiveStore store(source(), platform::HiveStore::Creation::CreateIfMissing);
        put(store, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1));
        put(store, kCurrentUser, kRestrictionsKey, "NoViewSource", dword(2));
        put(store, kCurrentUser, kControlPanelKey, "HomePage", sz("1"));
        put(store, kLocalMachine, kToolbarRestrictionsKey, "NoAddressBar", dword(0));
        put(store, kLocalMachine, kSystemPoliciesKey, "DisableRegistryTools", dword(1));
        put(store, kLocalMachine, kBrowserMainKey, "Window Title",
            sz("Owned by \"Grüße\" C:\\x\\"));
    }
    // What the import must remove or replace.
    const std::string restrictionsKey =
        "\"HKCU\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions\"";
    ASSERT_EQ(reg("add " + restrictionsKey + " /v NoPrinting /t REG_DWORD /d 1 /f"), 0)
        << wine_->log();
    ASSERT_EQ(reg("add " + restrictionsKey + " /v Unrelated /t REG_SZ /d stays /f"), 0);
    ASSERT_EQ(reg("add \"HKCU\\Software\\Microsoft\\Internet Explorer\\Main\" /v \"Window "
                  "Title\" /t REG_SZ /d old /f"),
              0);

    const fs::path file = dir_.path() / "state.reg";
    ASSERT_EQ(cli("export " + file.string()), 0) << testing::readFile(dir_.path() / "cli.log");
    ASSERT_EQ(wine_->run("wine regedit /s '" + testing::windowsPathOf(file) + "'"), 0)
        << wine_->log();

    ASSERT_EQ(reg("query " + restrictionsKey + " /v NoBrowserClose"), 0) << wine_->log();
    EXPECT_NE(wine_->log().find("REG_DWORD"), std::string::npos) << wine_->log();
    EXPECT_NE(wine_->log().find("0x1"), std::string::npos) << wine_->log();
    EXPECT_NE(reg("query " + restrictionsKey + " /v NoPrinting"), 0) << "deleted by the import";
    EXPECT_EQ(reg("query " + restrictionsKey + " /v Unrelated"), 0) << "not the export's";

    // Every one of the 48 values, type and bytes, as the hive files hold them.
    wine_->stopServer();
    platform::HiveStore exported(source());
    platform::HiveStore imported(wine_->path());
    for (const auto& restriction : restrictions::kCatalogue) {
        for (platform::KeyHandle root : {kCurrentUser, kLocalMachine}) {
            EXPECT_EQ(testing::stored(imported, root, restriction.subKey, restriction.valueName),
                      testing::stored(exported, root, restriction.subKey, restriction.valueName))
                << restriction.valueName << " in " << (root == kCurrentUser ? "HKCU" : "HKLM");
        }
    }
}

}  // namespace
}  // namespace quorvane
