// Remove-all and its undo on the registry each build has: under Wine the real Win32 registry, so
// that the entry's reading, writing and putting back work with the Win32 functions too.
#include <gtest/gtest.h>

#include "journal/undo.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

using platform::kCurrentUser;
using platform::kLocalMachine;

TEST(UndoOnTheRegistry, RemoveAllComesBackWithEveryValueAndItsUndoIsUndoneAgain) {
    const auto target = makeRegistryTarget();
    platform::RegistryApi& registry = target->registry();
    const auto seeded = valuesOfEveryType();
    seed(registry, seeded);
    TempDir undo;
    journal::UndoJournal journal(registry, {undo.path(), "this registry"});
    Rig rig(registry, {}, &journal);
    rig.boxes.assign(4, toolkit::kChecked);
    rig.manager.RemoveAllRestrictions();
    ASSERT_EQ(stored(registry, kCurrentUser, kRestrictionsKey, "Multi"), std::nullopt);

    const journal::UndoResult undone = journal::undoLast(registry, journal);
    EXPECT_TRUE(undone.allDone()) << restrictions::describeRefusals(undone.outcome);
    expectHeld(registry, seeded);
    EXPECT_TRUE(journal::undoLast(registry, journal).allDone());
    expectHeld(registry, seeded, false);
    // That redid it; undoing the redo undoes the action once more.
    EXPECT_EQ(journal::undoLast(registry, journal).entry.action, "redo remove all restrictions");
    EXPECT_EQ(journal.list(1).entries.at(0).action, "undo remove all restrictions");
}

}  // namespace
}  // namespace quorvane::testing
