// The folders Quorvane gives an offline installation and its users: each its own, belonging to
// the installation, whatever path its disk is mounted at.
#include "journal/offline_place.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/offline_hive_file.h"

namespace quorvane::journal {
namespace {

using platform::offline::fileNameOf;

// Each name is one file name of its own: never a dot folder, a path, or empty, and a long one is
// shortened and still its own.
TEST(FolderName, IsOneFileNameOfItsOwn) {
    const std::pair<std::string, std::string> names[] = {
        {"S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1001"},  // a SID
        {"a/b\\c", "a%2Fb%5Cc"},                         // slashes
        {"Win 10 \xC3\xA9", "Win%2010%20%C3%A9"},        // spaces and other bytes
        {"..", "%2E."},                                  // never a dot folder
        {"", "%"},                                       // nothing
    };
    for (const auto& [text, name] : names) {
        EXPECT_EQ(fileNameOf(text), name);
    }
    const std::string base(300, 'x');
    std::set<std::string> shortened{fileNameOf(base + "a"), fileNameOf(base + "b")};
    EXPECT_EQ(shortened.size(), 2u);
    for (const std::string& name : shortened) {
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

    // The same disk mounted elsewhere is the same installation; another disk mounted at the same
    // path is another one, whose undo and copies are its own.
    const OfflinePlace elsewhere = at("/media/disk", "machine-a", ann);
    EXPECT_EQ(elsewhere.undo.directory, first.undo.directory);
    EXPECT_EQ(elsewhere.undo.registry, first.undo.registry);
    const OfflinePlace other = at("/mnt/windows", "machine-b", ann);
    EXPECT_NE(other.backups, first.backups);
    EXPECT_NE(other.undo.registry, first.undo.registry);
    const OfflinePlace bobs = at("/mnt/windows", "machine-a", bob);
    EXPECT_EQ(bobs.backups, first.backups);
    EXPECT_NE(bobs.undo.directory, first.undo.directory);
    EXPECT_EQ(at("/mnt/windows", "machine-a", {"Default", "/z", ""}).undo.directory.filename(),
              "Default");
}

}  // namespace
}  // namespace quorvane::journal
