// Undo against Wine's own registry tools: remove-all on a real prefix, then Wine's `reg` adds a
// value to a key remove-all had deleted, then undo. Wine reads back every value remove-all took,
// of every type, and the value its own tool added since.
#include <gtest/gtest.h>

#include "journal/undo.h"
#include "platform/hive_store.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace quorvane::testing {
namespace {

using platform::kCurrentUser;
using platform::kLocalMachine;

TEST(UndoInterop, WineReadsWhatUndoPutBackBesideWhatItsOwnToolAddedSince) {
    WinePrefix wine;
    ASSERT_TRUE(wine.booted()) << wine.bootLog();
    wine.stopServer();
    TempDir dir;
    auto seeded = valuesOfEveryType();
    seeded.push_back({kLocalMachine, kControlPanelKey, "HomePage", dword(1)});
    {
        platform::HiveStore store(wine.path());
        seed(store, seeded);
        journal::UndoJournal journal(store, {dir.path() / "undo", "prefix"});
        Rig rig(store, {}, &journal);
        rig.manager.RemoveAllRestrictions();
        ASSERT_EQ(stored(store, kCurrentUser, kRestrictionsKey, "Blob"), std::nullopt);
    }

    const std::string restrictions =
        "\"HKCU\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions\"";
    ASSERT_EQ(wine.run("wine reg add " + restrictions + " /v Since /t REG_SZ /d x /f"), 0)
        << wine.log();
    wine.stopServer();
    {
        platform::HiveStore store(wine.path());
        journal::UndoJournal journal(store, {dir.path() / "undo", "prefix"});
        const journal::UndoResult undone = journal::undoLast(store, journal);
        EXPECT_TRUE(undone.allDone()) << restrictions::describeRefusals(undone.outcome);
    }

    ASSERT_EQ(wine.run("wine reg query " + restrictions), 0) << wine.log();
    for (const char* name : {"Other tool's", "Expand", "Multi", "Blob", "Big", "Since"}) {
        EXPECT_TRUE(contains(wine.log(), name)) << name << "\n" << wine.log();
    }
    wine.stopServer();
    platform::HiveStore store(wine.path());
    expectHeld(store, seeded);
    EXPECT_EQ(stored(store, kCurrentUser, kRestrictionsKey, "Since"), sz("x"));
}

}  // namespace
}  // namespace quorvane::testing
