// Finding an installation's hives and users on a case-sensitive mount.
#include "platform/windows_installation.h"

#include <gtest/gtest.h>

#include "platform/hive_store.h"
#include "platform/offline_registry.h"
#include "tests/platform/platform_rig.h"
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
    EXPECT_EQ(found.identity, std::string("machine-") + kFakeMachineGuid);
}

// The fake installation with more profiles in its list, each a folder under Users with a hive.
struct Profile {
    const char* sid;
    std::string imagePath;  // the profile's registered path, its NUL included
    const char* folder;
};
WindowsInstallation withProfiles(const std::filesystem::path& root,
                                 std::initializer_list<Profile> profiles) {
    const FakeInstallation made = makeFakeInstallation(root);
    {
        OfflineRegistry registry({{made.software, "SOFTWARE"}, std::nullopt, root / "b"});
        for (const Profile& profile : profiles) {
            put(registry, kLocalMachine,
                std::string("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
                    profile.sid,
                "ProfileImagePath", {kRegExpandSz, profile.imagePath});
        }
    }
    for (const Profile& profile : profiles) {
        std::filesystem::create_directories(root / "users" / profile.folder);
        std::filesystem::copy_file(made.ann, root / "users" / profile.folder / "NTUSER.DAT");
    }
    return findWindowsInstallation(root);
}

// Names compare as Windows compares them, beyond ASCII too: a profile whose registered path
// differs from its folder in a letter's case is found, and two names that differ in a letter
// are two users, each with copies of their own.
TEST(WindowsInstallation, LettersBeyondAsciiCompareAsOnWindows) {
    TempDir root;
    const WindowsInstallation found = withProfiles(
        root.path(),
        {{"S-1-5-21-1-2-3-1004", std::string("C:\\Users\\\xC5\x81UKASZ") + '\0', "\xC5\x81ukasz"},
         {"S-1-5-21-1-2-3-1005", std::string("C:\\Users\\\xC5\xBBukasz") + '\0', "\xC5\xBCukasz"}});
    const WindowsUser* lukasz = findUser(found, "\xC5\x82ukasz");
    const WindowsUser* zukasz = findUser(found, "\xC5\xBBUKASZ");
    ASSERT_NE(lukasz, nullptr);
    ASSERT_NE(zukasz, nullptr);
    EXPECT_EQ(lukasz->sid, "S-1-5-21-1-2-3-1004");
    EXPECT_EQ(zukasz->sid, "S-1-5-21-1-2-3-1005");
    EXPECT_NE(hivesOf(found, *lukasz, "b").user->label, hivesOf(found, *zukasz, "b").user->label);
}

// A profile path may end in a backslash; its last folder is still the user's.
TEST(WindowsInstallation, AProfilePathEndingInABackslashNamesItsFolder) {
    TempDir root;
    const WindowsInstallation found = withProfiles(
        root.path(), {{"S-1-5-21-1-2-3-1003", std::string("C:\\Users\\cy\\\0", 13), "cy"}});
    ASSERT_NE(findUser(found, "cy"), nullptr);
    EXPECT_EQ(findUser(found, "cy")->sid, "S-1-5-21-1-2-3-1003");
    EXPECT_EQ(onlyUser(found), nullptr) << "Ann and cy";
}

TEST(WindowsInstallation, AFolderWithoutSoftwareIsNoInstallation) {
    TempDir root;
    std::filesystem::create_directories(root.path() / "Windows" / "System32" / "config");
    const std::string refusal = refusalOf([&] { findWindowsInstallation(root.path()); });
    EXPECT_TRUE(contains(refusal, "Windows/System32/config/SOFTWARE"));
    EXPECT_TRUE(contains(refusal, root.path().string()));
}

}  // namespace
}  // namespace quorvane::testing
