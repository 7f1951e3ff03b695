// The folder names Quorvane gives an offline installation's path and its users: each its own.
#include "journal/offline_place.h"

#include <gtest/gtest.h>

#include <set>

#include "tests/support/case_name.h"

namespace quorvane::journal {
namespace {

struct Named {
    const char* what;
    std::string text;
    std::string name;
};
class FolderName : public ::testing::TestWithParam<Named> {};

TEST_P(FolderName, IsOneFileNameOfItsOwn) {
    EXPECT_EQ(folderNameOf(GetParam().text), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Offline, FolderName,
                         ::testing::Values(Named{"a mount point", "mnt/windows", "mnt-windows"},
                                           Named{"a dash is not a slash", "mnt/a-b", "mnt-a%2Db"},
                                           Named{"spaces and other bytes", "media/Win 10/\xC3\xA9",
                                                 "media-Win%2010-%C3%A9"},
                                           Named{"never a dot folder", "..", "%2E."},
                                           Named{"the root folder", "", "%2F"}),
                         testing::CaseName());

TEST(FolderName, ALongPathIsShortenedAndStillItsOwn) {
    const std::string base(300, 'x');
    std::set<std::string> names{folderNameOf(base + "a"), folderNameOf(base + "b")};
    EXPECT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        EXPECT_LE(name.size(), 200u);
    }
}

TEST(OfflinePlace, EachUserOfAnInstallationHasItsOwnUndoFolderAndIdentity) {
    const auto environment = [](const std::string& name) -> std::optional<std::string> {
        return name == "XDG_STATE_HOME" ? std::optional<std::string>("/state") : std::nullopt;
    };
    const OfflinePlace ann = offlinePlace("/mnt/windows/", "ann", environment);
    const OfflinePlace bob = offlinePlace("/mnt/windows", "bob", environment);
    EXPECT_EQ(ann.folder, "/state/Quorvane/offline/mnt-windows");
    EXPECT_EQ(ann.undo.directory, "/state/Quorvane/offline/mnt-windows/undo/ann");
    EXPECT_EQ(ann.backups, bob.backups);
    EXPECT_NE(ann.undo.registry, bob.undo.registry);
    EXPECT_EQ(ann.undo.registry, "the Windows installation /mnt/windows, user ann");
}

}  // namespace
}  // namespace quorvane::journal
