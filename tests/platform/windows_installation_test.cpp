// Finding an installation's hives and users on a case-sensitive mount.
#include "platform/windows_installation.h"

#include <gtest/gtest.h>

#include "platform/hive_store.h"
#include "platform/offline_registry.h"
#include "tests/support/contains.h"
#include "tests/support/fake_installation.h"
#include "tests/support/registry_target.h"
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
    EXPECT_EQ(onlyUser(found), &found.users[0]) << "the default profile is no second user";
}

// A profile path may end in a backslash; its last folder is still the user's.
TEST(WindowsInstallation, AProfilePathEndingInABackslashNamesItsFolder) {
    TempDir root;
    const FakeInstallation made = makeFakeInstallation(root.path());
    {
        OfflineRegistry registry({{made.software, "SOFTWARE"}, std::nullopt, root.path() / "b"});
        put(registry, kLocalMachine,
            "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-1003",
            "ProfileImagePath", {kRegExpandSz, std::string("C:\\Users\\cy\\\0", 13)});
    }
    std::filesystem::create_directories(root.path() / "users" / "cy");
    std::filesystem::copy_file(made.ann, root.path() / "users" / "cy" / "NTUSER.DAT");
    const WindowsInstallation found = findWindowsInstallation(root.path());
    ASSERT_NE(findUser(found, "cy"), nullptr);
    EXPECT_EQ(findUser(found, "cy")->sid, "S-1-5-21-1-2-3-1003");
    EXPECT_EQ(onlyUser(found), nullptr) << "Ann and cy";
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
