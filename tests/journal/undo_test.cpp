// Undo on the hive store, through the restriction logic as the window wires it: what comes back
// after a half-refused switch, an action whose backup cannot be written, and how many entries
// are kept.
#include "journal/undo.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/hive_store.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using platform::kCurrentUser;
using platform::kLocalMachine;

struct Scene : StoreScene {
    std::string hives() const { return readFile(hive("user.reg")) + readFile(hive("system.reg")); }
    journal::UndoResult undo() { return journal::undoLast(store, journal); }

    fs::path undoFolder = temp.path() / "undo";
    journal::UndoJournal journal{store, {undoFolder, "the test registry"}};
    Rig rig{store, {}, &journal};
};

TEST(Undo, AfterAHalfRefusedSwitchOnlyWhatWasChangedIsPutBack) {
    Scene scene;
    const auto machineHive = [&](fs::perms perms) {
        fs::permissions(scene.hive("system.reg"), perms);
    };
    machineHive(fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    scene.rig.boxes.assign(4, toolkit::kChecked);
    ASSERT_EQ(stored(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
    const auto entries = scene.journal.entries();
    ASSERT_EQ(entries.size(), 1u);
    for (const std::string& line : entries[0].changed) {
        EXPECT_FALSE(contains(line, "HKEY_LOCAL_MACHINE"));
    }
    // Another program changes the machine hive meanwhile: the undo leaves that alone.
    machineHive(fs::perms::owner_read | fs::perms::owner_write);
    put(scene.store, kLocalMachine, kRestrictionsKey, "NoBrowserClose", dword(7));

    const journal::UndoResult undone = scene.undo();
    EXPECT_TRUE(undone.allDone()) << restrictions::describeRefusals(undone.outcome);
    EXPECT_EQ(stored(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), std::nullopt);
    EXPECT_FALSE(keyExists(scene.store, kCurrentUser, "Software\\Policies"))
        << "made by the switch";
    EXPECT_EQ(stored(scene.store, kLocalMachine, kRestrictionsKey, "NoBrowserClose"), dword(7));
}

TEST(Undo, AnActionWhoseBackupCannotBeWrittenChangesNothingAndSaysWhy) {
    Scene scene;
    writeFile(scene.undoFolder, "a file where the folder should be");
    put(scene.store, kCurrentUser, kRestrictionsKey, "NoViewSource", dword(1));
    const std::string before = scene.hives();

    // Each click is refused and says so, not only the first of the session.
    scene.rig.boxes.assign(4, toolkit::kChecked);
    scene.rig.boxes.assign(4, toolkit::kChecked);
    scene.rig.manager.RemoveAllRestrictions();
    EXPECT_EQ(scene.hives(), before);
    EXPECT_EQ(scene.rig.checkedBoxes(), std::vector<int>{17}) << "the boxes show the registry";
    ASSERT_EQ(scene.rig.messages.shown.size(), 3u);
    for (const ShownMessage& message : scene.rig.messages.shown) {
        EXPECT_EQ(message.style, toolkit::kExclamation);
        EXPECT_TRUE(contains(message.text, "changed nothing without a backup: the undo folder " +
                                               scene.undoFolder.string() + " cannot be made"));
    }
    EXPECT_EQ(scene.rig.messages.shown[2].title, "Remove all Restrictions not complete");
}

TEST(Undo, OnlyTheNewestFiftyEntriesAreKept) {
    Scene scene;
    fs::create_directories(scene.undoFolder);
    const auto older = [&](int number) {
        return scene.undoFolder / ("20000101-000000-000-" + std::to_string(10 + number) + ".reg");
    };
    for (int number = 0; number < 55; ++number) {
        writeFile(older(number), "an entry of long ago");
    }
    scene.rig.boxes.assign(4, toolkit::kChecked);
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.undoFolder), fs::directory_iterator()),
              50);
    EXPECT_FALSE(fs::exists(older(5)));
    EXPECT_TRUE(fs::exists(older(6)));
    EXPECT_EQ(scene.journal.entries().size(), 1u);
}

}  // namespace
}  // namespace quorvane::testing
