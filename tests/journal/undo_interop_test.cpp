// The undo entry against Wine's own registry editor: the entry that remove-all leaves, imported
// with `regedit /s` into a fresh prefix, gives that prefix the state before remove-all: the
// deleted keys with every value they held, of every type, and nothing else in them.
#include <gtest/gtest.h>

#include "journal/undo_journal.h"
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

TEST(UndoInterop, RegeditImportsAnEntryAsThePriorState) {
    WinePrefix wine;
    ASSERT_TRUE(wine.booted()) << wine.bootLog();
    TempDir dir;
    platform::HiveStore source(dir.path() / "source",
                               platform::HiveStore::Creation::CreateIfMissing);
    makeBaselineKeys(source);
    auto seeded = valuesOfEveryType();
    seeded.push_back({kLocalMachine, kControlPanelKey, "HomePage", dword(1)});
    seeded.push_back({kCurrentUser, kMainKey, "Window Title", sz("Kiosk")});
    seed(source, seeded);
    journal::UndoJournal journal(source, {dir.path() / "undo", "source"});
    Rig rig(source, {}, &journal);
    rig.manager.RemoveAllRestrictions();
    ASSERT_EQ(stored(source, kCurrentUser, kRestrictionsKey, "Blob"), std::nullopt);
    const auto entries = journal.entries();
    ASSERT_EQ(entries.size(), 1u);

    // What the import must remove: a value the entry's keys did not hold.
    const std::string restrictions =
        "\"HKCU\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions\"";
    ASSERT_EQ(wine.run("wine reg add " + restrictions + " /v Stray /t REG_SZ /d x /f"), 0)
        << wine.log();
    ASSERT_EQ(wine.run("wine regedit /s '" + windowsPathOf(entries[0].file) + "'"), 0)
        << wine.log();
    ASSERT_EQ(wine.run("wine reg query " + restrictions + " /v \"Other tool's\""), 0) << wine.log();
    EXPECT_TRUE(contains(wine.log(), "REG_SZ"));
    EXPECT_NE(wine.run("wine reg query " + restrictions + " /v Stray"), 0);

    wine.stopServer();
    platform::HiveStore imported(wine.path());
    expectHeld(imported, seeded);
}

}  // namespace
}  // namespace quorvane::testing
