// Undo on the hive store, through the restriction logic as the window wires it: what comes back
// after a half-refused switch, what others wrote since the action, an action whose backup cannot
// be written, two programs acting at once, and how many entries are kept.
#include "journal/undo.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/hive_store.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/contains.h"
#include "tests/support/recording_registry.h"
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

// A value put in a hive, or looked for there (no data: absent).
struct Value {
    platform::KeyHandle root;
    std::string key;
    const char* name;
    std::optional<Stored> data;
};

// An action, then another program's write, then undo: what the other program wrote stays, and
// what the undo had to leave for it is reported as changed since. A value added to a key
// remove-all deleted: undo_interop_test, with Wine's own tool adding it.
struct WrittenSince {
    const char* name;
    void (*action)(Scene&);
    std::vector<Value> meanwhile;
    std::vector<Value> after;  // what the registry holds after the undo
    std::vector<std::pair<platform::KeyHandle, const char*>> keysGone;
    std::vector<std::string> left;  // what the undo reports as changed since
};

void imposeFour(Scene& scene) {
    scene.rig.boxes.assign(4, toolkit::kChecked);
}

class UndoAfterOthers : public ::testing::TestWithParam<WrittenSince> {};

TEST_P(UndoAfterOthers, KeepsWhatTheyWroteAndSaysWhatItLeft) {
    Scene scene;
    GetParam().action(scene);
    for (const Value& value : GetParam().meanwhile) {
        put(scene.store, value.root, value.key, value.name, *value.data);
    }
    const journal::UndoResult undone = scene.undo();
    ASSERT_EQ(undone.kind, journal::UndoResult::Kind::Undone) << undone.failure;
    for (const Value& value : GetParam().after) {
        EXPECT_EQ(stored(scene.store, value.root, value.key, value.name), value.data) << value.name;
    }
    for (const auto& [root, key] : GetParam().keysGone) {
        EXPECT_FALSE(keyExists(scene.store, root, key)) << key;
    }
    std::vector<std::string> left;
    for (const restrictions::Change& change : undone.outcome.changes()) {
        if (!change.done()) {
            EXPECT_EQ(change.reason, journal::kChangedSince);
            left.push_back(std::string(restrictions::hiveName(change.hive)) + " " + change.action +
                           " " + change.item);
        }
    }
    EXPECT_EQ(left, GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(
    Undo, UndoAfterOthers,
    ::testing::Values(
        WrittenSince{"AKeyBesideThePolicyKeysTheActionMade",
                     imposeFour,
                     {{kCurrentUser, "Software\\Policies\\Other", "Agent", sz("Setting")}},
                     {{kCurrentUser, "Software\\Policies\\Other", "Agent", sz("Setting")},
                      {kCurrentUser, kRestrictionsKey, "NoBrowserClose", std::nullopt}},
                     {{kCurrentUser, "Software\\Policies\\Microsoft"},
                      {kLocalMachine, "Software\\Policies"}},
                     {"HKEY_CURRENT_USER delete key Software\\Policies"}},
        WrittenSince{
            "AValueTheActionSetAndAnotherProgramChanged",
            imposeFour,
            {{kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(7)}},
            {{kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(7)},
             {kLocalMachine, kRestrictionsKey, "NoBrowserClose", std::nullopt}},
            {},
            {"HKEY_CURRENT_USER delete NoBrowserClose in " + std::string(kRestrictionsKey)}},
        // A switch half refused (the machine hive may not be written): only what it changed is
        // put back, and the machine hive another program changed since is left alone.
        WrittenSince{"AHalfRefusedSwitch",
                     [](Scene& scene) {
                         const fs::path machine = scene.hive("system.reg");
                         fs::permissions(machine, fs::perms::owner_write, fs::perm_options::remove);
                         imposeFour(scene);
                         fs::permissions(machine, fs::perms::owner_write, fs::perm_options::add);
                         EXPECT_EQ(
                             stored(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose"),
                             dword(1));
                     },
                     {{kLocalMachine, kRestrictionsKey, "NoBrowserClose", dword(7)}},
                     {{kCurrentUser, kRestrictionsKey, "NoBrowserClose", std::nullopt},
                      {kLocalMachine, kRestrictionsKey, "NoBrowserClose", dword(7)}},
                     {{kCurrentUser, "Software\\Policies"}},
                     {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Two programs acting at once, each with its own store and journal on one registry and one undo
// folder, round after round: every action keeps an entry of its own.
TEST(Undo, TwoProgramsActingAtOnceEachKeepTheirOwnEntries) {
    Scene scene;
    // The first program is the scene's own; the second has a store and journal of its own.
    platform::HiveStore store(scene.temp.path() / "registry");
    journal::UndoJournal journal(store, {scene.undoFolder, "the test registry"});
    Rig second(store, {}, &journal);
    constexpr int kRounds = 20;  // 40 entries: within the 50 kept
    std::barrier start(2);
    const auto act = [&](Rig& rig, int number) {
        for (int round = 0; round < kRounds; ++round) {
            start.arrive_and_wait();
            rig.boxes.assign(number, round % 2 == 0 ? toolkit::kChecked : toolkit::kUnchecked);
        }
    };
    std::thread other([&] { act(second, 5); });
    act(scene.rig, 4);
    other.join();
    const auto entries = scene.journal.entries();
    std::multiset<std::string> actions;
    for (const journal::EntrySummary& entry : entries) {
        actions.insert(entry.action);
    }
    EXPECT_EQ(entries.size(), 2u * kRounds);
    for (const char* action : {"impose NoBrowserClose", "lift NoBrowserClose",
                               "impose NoBrowserContextMenu", "lift NoBrowserContextMenu"}) {
        EXPECT_EQ(actions.count(action), kRounds / 2u) << action;
    }
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

// In a key whose values cannot be listed: the key cannot be read whole, so its deletion is not
// recorded as kept, and says why; a value in it is kept on its own, and one of the planned bytes
// but another type comes back with its type once the action has ended.
TEST(Undo, AKeyWhoseValuesCannotBeListedIsNotKeptWholeButItsValuesAre) {
    Scene scene;
    const Stored binary{platform::kRegBinary, std::string("\1\0\0\0", 4)};
    put(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose", binary);
    RecordingRegistry unlisted(scene.store);
    unlisted.refuse = RecordingRegistry::denies(RegistryCall::EnumValue);
    journal::UndoJournal journal(unlisted, {scene.undoFolder, "the test registry"});
    journal.begin("remove-all");
    const Result<void> recorded = journal.record(
        {restrictions::PlannedChange::deleteKey(registry::kHiveCurrentUser, kRestrictionsKey)});
    ASSERT_FALSE(recorded);
    EXPECT_TRUE(contains(recorded.failure().reason, "cannot be read")) << recorded.failure().reason;
    journal.end();

    // A key that cannot even be opened is no missing key either.
    RecordingRegistry unopened(scene.store);
    unopened.refuse = RecordingRegistry::denies(RegistryCall::Open);
    journal::UndoJournal closed(unopened, {scene.undoFolder, "the test registry"});
    closed.begin("impose NoPrinting");
    const Result<void> refused = closed.record(
        {restrictions::PlannedChange::setValue(registry::kHiveCurrentUser, kRestrictionsKey,
                                               "NoPrinting", platform::kRegDword, dword(1).bytes)});
    ASSERT_FALSE(refused);
    EXPECT_TRUE(contains(refused.failure().reason, "cannot be read")) << refused.failure().reason;
    closed.end();

    journal.begin("impose NoBrowserClose");
    ASSERT_TRUE(journal.record({restrictions::PlannedChange::setValue(
        registry::kHiveCurrentUser, kRestrictionsKey, "NoBrowserClose", platform::kRegDword,
        dword(1).bytes)}));
    put(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1));
    // Before the action ends, its entry holds no state after it, as a program stopped in the
    // middle leaves it: its undo changes nothing and says so.
    const journal::UndoResult early = scene.undo();
    ASSERT_EQ(early.outcome.changes().size(), 1u);
    EXPECT_EQ(early.outcome.changes()[0].reason, "the action did not end; left as it is");
    EXPECT_EQ(stored(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
    journal.end();
    EXPECT_TRUE(scene.undo().allDone());
    EXPECT_EQ(stored(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), binary);
}

// Only what the registry holds once the undo is done counts as done: a value another program puts
// back meanwhile is reported.
TEST(Undo, WhatTheRegistryDoesNotHoldAfterwardsIsNotDone) {
    Scene scene;
    put(scene.store, kCurrentUser, kRestrictionsKey, "Other", dword(2));
    imposeFour(scene);
    RecordingRegistry racing(scene.store);
    racing.afterEach = [&] {
        if (racing.calls.back().kind == RegistryCall::DeleteValue &&
            !stored(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose")) {
            put(scene.store, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1));
        }
    };
    const std::string refusals =
        restrictions::describeRefusals(journal::undoLast(racing, scene.journal).outcome);
    EXPECT_TRUE(contains(refusals, "the registry does not hold it afterwards")) << refusals;
}

// An entry that names places Quorvane never changes is not undone in part: the undo names them,
// and changes nothing. Its places lie in Quorvane's own keys and folders and beneath the entry's
// own prefix, reached without ".." and without a link. RunServices is not a key fix deletes
// startup commands from (Run, RunOnce); a key whose name only begins as a policy key's does is
// no policy key; a moved item whose name leaves the folder of moved items, even to come back
// into it, is not one of Quorvane's.
TEST(Undo, AnEntryNamingAnythingElseIsRefusedWholeByName) {
    Scene scene;
    const fs::path prefix = scene.temp.path() / "prefix";
    const fs::path outside = scene.temp.path() / "outside";
    fs::create_directories(prefix / "drive_c");
    fs::create_directory_symlink(outside, prefix / "drive_c" / "linked");
    journal::UndoJournal bound{scene.store, {scene.undoFolder, prefix.string()}};
    const std::string runServices = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
    journal::UndoEntry foreign{"2026-12-07 03:05:01 UTC", "fix", prefix.string(), {}, {}};
    for (const registry::Hive hive : {registry::kHiveCurrentUser, registry::kHiveLocalMachine}) {
        foreign.records.push_back({journal::Record::Kind::Value, hive, runServices, "Agent",
                                   journal::PlaceState{true, platform::kRegSz, "C:\\agent.exe"},
                                   journal::PlaceState{}});
    }
    foreign.records.push_back({journal::Record::Kind::Key, registry::kHiveLocalMachine,
                               "Software\\Wine", "", journal::PlaceState{},
                               journal::PlaceState{true, 0, {}}});
    foreign.records.push_back({journal::Record::Kind::Value, registry::kHiveCurrentUser,
                               std::string(kRestrictionsKey) + "Old", "NoPrinting",
                               journal::PlaceState{},
                               journal::PlaceState{true, platform::kRegSz, "x"}});
    const auto withFile = [&](journal::FileRecord file) {
        journal::UndoEntry entry{"2026-12-07 03:05:01 UTC", "fix", prefix.string(), {}, {file}};
        return journal::writeUndoEntry(entry);
    };
    const auto content = [&](const fs::path& file) {
        return withFile(
            {journal::FileRecord::Kind::Content, file.string(), {}, "before", "after", true});
    };
    const fs::path moved = prefix / "drive_c" / "run.bat";
    const std::string never = "is not undone: it names what Quorvane never changes: ";
    const std::tuple<const char*, std::string, std::string> entries[] = {
        {"foreign keys and values", journal::writeUndoEntry(foreign),
         never + "value Agent in HKEY_CURRENT_USER\\" + runServices +
             ", value Agent in HKEY_LOCAL_MACHINE\\" + runServices +
             ", key HKEY_LOCAL_MACHINE\\Software\\Wine, value NoPrinting in HKEY_CURRENT_USER\\" +
             kRestrictionsKey + "Old"},
        {"a moved item leaving the folder of moved items",
         withFile({journal::FileRecord::Kind::Moved,
                   moved.string(),
                   (scene.undoFolder / "moved" / "1" / ".." / "run.bat").string(),
                   {},
                   {},
                   true}),
         never + "file " + moved.string()},
        {"a task elsewhere", content(outside / "Tasks" / "Relock"),
         never + "file " + (outside / "Tasks" / "Relock").string()},
        {"a task reached through ..",
         content(prefix / "drive_c" / ".." / ".." / "outside" / "Tasks" / "Relock"),
         never + "file " +
             (prefix / "drive_c" / ".." / ".." / "outside" / "Tasks" / "Relock").string()},
        {"a task reached through a link",
         content(prefix / "drive_c" / "linked" / "Tasks" / "Relock"),
         "file " + (prefix / "drive_c" / "linked" / "Tasks" / "Relock").string() +
             " (is reached through a link, which Quorvane does not follow)"},
    };
    put(scene.store, kCurrentUser, kRestrictionsKey, "NoPrinting", dword(1));
    const std::string before = scene.hives();
    fs::create_directories(outside / "Tasks");
    writeFile(outside / "Tasks" / "Relock", "after");
    fs::create_directories(scene.undoFolder);
    for (const auto& [what, bytes, why] : entries) {
        SCOPED_TRACE(what);
        writeFile(scene.undoFolder / "20261207-030501-000000-000.undo", bytes);
        const journal::UndoResult undone = journal::undoLast(scene.store, bound);
        EXPECT_EQ(undone.kind, journal::UndoResult::Kind::Unusable);
        EXPECT_TRUE(contains(undone.failure, why)) << undone.failure;
        EXPECT_EQ(scene.hives(), before);
        EXPECT_EQ(readFile(outside / "Tasks" / "Relock"), "after");
    }
}

// Each new entry's writer keeps the newest fifty entries, and removes the temporary file a writer
// killed between making its entry and naming it left behind, never one of a writer still at work.
TEST(Undo, ANewEntryKeepsTheNewestFiftyAndRemovesWhatAKilledWriterLeft) {
    Scene scene;
    fs::create_directories(scene.undoFolder);
    const auto older = [&](int number) {
        return scene.undoFolder / ("20000101-000000-000-" + std::to_string(10 + number) + ".reg");
    };
    for (int number = 0; number < 55; ++number) {
        writeFile(older(number), "an entry of long ago");
    }
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const fs::path left = scene.undoFolder / (".a.reg.quorvane-" + std::to_string(ended) + "-1");
    const fs::path working =
        scene.undoFolder / (".b.reg.quorvane-" + std::to_string(::getppid()) + "-1");
    writeFile(left, "");
    writeFile(working, "");
    scene.rig.boxes.assign(4, toolkit::kChecked);
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.undoFolder), fs::directory_iterator()), 51)
        << "fifty entries and the file of the writer at work";
    EXPECT_FALSE(fs::exists(older(5)));
    EXPECT_TRUE(fs::exists(older(6)));
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(working));
    EXPECT_EQ(scene.journal.entries().size(), 1u);
}

}  // namespace
}  // namespace quorvane::testing
