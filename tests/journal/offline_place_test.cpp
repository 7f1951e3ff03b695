// The folders Quorvane gives an offline installation and its users: each its own, belonging to
// the installation, whatever path its disk is mounted at.
#include "journal/offline_place.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/offline_hive_file.h"
#include "tests/support/case_name.h"

namespace quorvane::journal {
namespace {

using platform::offline::fileNameOf;

struct Named {
    const char* what;
    std::string text;
    std::string name;
};
class FolderName : public ::testing::TestWithParam<Named> {};

TEST_P(FolderName, IsOneFileNameOfItsOwn) {
    EXPECT_EQ(fileNameOf(GetParam().text), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Offline, FolderName,
    ::testing::Values(Named{"a SID", "S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1001"},
                      Named{"a slash", "a/b\\c", "a%2Fb%5Cc"},
                      Named{"spaces and other bytes", "Win 10 \xC3\xA9", "Win%2010%20%C3%A9"},
                      Named{"never a dot folder", "..", "%2E."}, Named{"nothing", "", "%"}),
    testing::CaseName());

TEST(FolderName, ALongPathIsShortenedAndStillItsOwn) {
    const std::string base(300, 'x');
    std::set<std::string> names{fileNameOf(base + "a"), fileNameOf(base + "b")};
    EXPECT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        EXPECT_LE(name.size(), 200u);
    }
}

TEST(OfflinePlace, BelongsToTheInstallationAndUserNotToTheMountPath) {
    const auto environment = [](const std::string& name) -> std::optional<std::string> {
        return name == "XDG_STATE_HOME" ? std::optional<std::string>("/state") : std::nullopt;
    };
    const auto at = [&](const char* root, const char* identity, const platform::WindowsUser& user) {
        platform::WindowsInstallation installation;
        installation.root = root;
        installation.identity = identity;
        return offlinePlace(installation, user, environment);
    };
    const platform::WindowsUser ann{"ann", "/x", "S-1-5-21-1-2-3-1001"};
    const platform::WindowsUser bob{"bob", "/y", "S-1-5-21-1-2-3-1002"};
    const OfflinePlace first = at("/mnt/windows/", "machine-a", ann);
    EXPECT_EQ(first.folder, "/state/Quorvane/offline/machine-a");
    EXPECT_EQ(first.undo.directory, "/state/Quorvane/offline/machine-a/undo/S-1-5-21-1-2-3-1001");
    EXPECT_EQ(first.description, "the Windows installation /mnt/windows, user ann");

    const OfflinePlace elsewhere = at("/media/disk", "machine-a", ann);
    EXPECT_EQ(elsewhere.undo.directory, first.undo.directory);
    EXPECT_EQ(elsewhere.undo.registry, first.undo.registry);
    const OfflinePlace other = at("/mnt/windows", "machine-b", ann);
    EXPECT_NE(other.folder, first.folder);
    EXPECT_NE(other.undo.registry, first.undo.registry);
    const OfflinePlace bobs = at("/mnt/windows", "machine-a", bob);
    EXPECT_EQ(bobs.backups, first.backups);
    EXPECT_NE(bobs.undo.directory, first.undo.directory);
    EXPECT_EQ(at("/mnt/windows", "machine-a", {"Default", "/z", ""}).undo.directory.filename(),
              "Default");
}

}  // namespace
}  // namespace quorvane::journal
