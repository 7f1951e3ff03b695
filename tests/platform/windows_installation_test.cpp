// Finding an installation's hives and users on a case-sensitive mount.
#include "platform/windows_installation.h"

#include <gtest/gtest.h>

#include "platform/hive_store.h"
#include "tests/support/contains.h"
#include "tests/support/fake_installation.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

using namespace quorvane::platform;

TEST(WindowsInstallation, FindsSoftwareAndTheListedUsersWithHivesRegardlessOfCase) {
    TempDir root;
    const FakeInstallation made = makeFakeInstallation(root.path());
    const WindowsInstallation found = findWindowsInstallation(root.path());
    EXPECT_EQ(found.software, made.software);
    // bob's folder is gone and the system profile is not under Users.
    ASSERT_EQ(found.users.size(), 2u);
    EXPECT_EQ(found.users[0].name, "Ann");
    EXPECT_EQ(found.users[0].hive, made.ann);
    EXPECT_EQ(found.users[0].sid, "S-1-5-21-1-2-3-1001");
    EXPECT_EQ(found.users[1].name, "default");
    EXPECT_EQ(found.users[1].hive, made.defaultProfile);
    EXPECT_EQ(found.users[1].sid, "");

    EXPECT_EQ(findUser(found, "ANN"), &found.users[0]);
    EXPECT_EQ(findUser(found, "Default"), &found.users[1]);
    EXPECT_EQ(findUser(found, "bob"), nullptr);
}

TEST(WindowsInstallation, AFolderWithoutSoftwareIsNoInstallation) {
    TempDir root;
    std::filesystem::create_directories(root.path() / "Windows" / "System32" / "config");
    try {
        findWindowsInstallation(root.path());
        FAIL() << "found one";
    } catch (const StoreError& error) {
        EXPECT_TRUE(contains(error.what(), "Windows/System32/config/SOFTWARE"));
        EXPECT_TRUE(contains(error.what(), root.path().string()));
    }
}

}  // namespace
}  // namespace quorvane::testing
