// quorvane-cli as a user runs it: a process with arguments, an exit status and its output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "cli/commands.h"
#include "journal/undo_entry.h"
#include "platform/hive_store.h"
#include "tests/support/case_name.h"
#include "tests/support/cli_run.h"
#include "tests/support/contains.h"
#include "tests/support/recording_registry.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::contains;
using testing::kRestrictionsKey;
using testing::readFile;
using testing::TempDir;

using Outcome = testing::CliOutcome;

class CliTest : public ::testing::Test {
protected:
    CliTest() {
        fs::create_directory(registry());
        testing::copyFixtureHives(registry());
    }

    fs::path registry() const { return dir_.path() / "registry"; }
    fs::path state() const { return dir_.path() / "state"; }

    // `environment`: more variables for the command, such as "XDG_STATE_HOME=...".
    Outcome run(const std::string& arguments, const std::string& environment = {}) const {
        return runOnAny("--registry " + registry().string() + " " + arguments, environment);
    }
    // The same with the command line's own --registry, or none.
    Outcome runOnAny(const std::string& arguments, const std::string& environment = {}) const {
        // No configuration file or registry of the user's may be used instead.
        return testing::runCommandLine(
            "QUORVANE_CONFIG=" + (dir_.path() / "none.ini").string() +
                " XDG_CONFIG_HOME=" + (dir_.path() / "config").string() + " XDG_DATA_HOME=" +
                (dir_.path() / "data").string() + " XDG_STATE_HOME=" + state().string() + " " +
                environment + " WINEPREFIX= " QUORVANE_CLI " " + arguments,
            dir_.path());
    }

    std::string hives() const {
        return readFile(registry() / "user.reg") + readFile(registry() / "system.reg");
    }

    std::optional<testing::Stored> value(platform::KeyHandle root, const char* name) const {
        platform::HiveStore store(registry());
        return testing::stored(store, root, kRestrictionsKey, name);
    }

    void seed(platform::KeyHandle root, const char* name, std::uint32_t data) const {
        platform::HiveStore store(registry());
        testing::put(store, root, kRestrictionsKey, name, testing::dword(data));
    }

    TempDir dir_;
};

TEST_F(CliTest, ListShowsEachRestrictionAndBothHivesWithoutWriting) {
    seed(platform::kCurrentUser, "NoBrowserClose", 2);
    seed(platform::kLocalMachine, "NoPrinting", 1);
    {
        platform::HiveStore store(registry());
        testing::put(store, platform::kLocalMachine, testing::kMainKey, "Window Title",
                     testing::sz("Error"));
        // 256 bytes with the NUL: one more than the registry module reads.
        testing::put(store, platform::kCurrentUser, testing::kMainKey, "Window Title",
                     testing::sz(std::string(255, 't')));
    }
    const std::string before = hives();

    const Outcome text = run("list");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "  4 yes       1/1/4        Closing Internet Explorer"));
    EXPECT_TRUE(contains(text.out,
                         " 14 no        2/2/2        Print/Print Preview                  "
                         "absent              1\n"))
        << "the machine hive alone does not put a restriction in force";
    EXPECT_TRUE(contains(text.out, "unreadable          \"Error\"\n"))
        << "a title that reads Error is a title";

    EXPECT_EQ(hives(), before) << "list writes nothing, not even detection's rewrites";
}

// Commands that only read leave the registry directory, and Quorvane's own store, as they were:
// no lock file, no directory.
TEST_F(CliTest, CommandsThatOnlyReadCreateNothing) {
    const auto entries = [](const fs::path& directory) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    };
    const auto before = entries(registry());
    for (const std::string& arguments :
         {std::string("list"), std::string("list --json"), std::string("why"),
          std::string("why --json 4"), std::string("undo --list"),
          "export " + (dir_.path() / "out.reg").string()}) {
        const Outcome result = run(arguments);
        EXPECT_TRUE(result.status == 0 || result.status == 4) << arguments << ": " << result.err;
        EXPECT_EQ(entries(registry()), before) << arguments;
    }
    EXPECT_TRUE(fs::exists(dir_.path() / "out.reg"));

    const fs::path data = dir_.path() / "data";
    for (const char* arguments : {"list", "why"}) {
        const Outcome own = testing::runCommandLine(
            "QUORVANE_CONFIG=" + (dir_.path() / "none.ini").string() +
                " XDG_DATA_HOME=" + data.string() + " XDG_STATE_HOME=" + state().string() +
                " WINEPREFIX= " + QUORVANE_CLI + " " + arguments,
            dir_.path());
        EXPECT_TRUE(own.status == 0 || own.status == 4) << arguments << ": " << own.err;
        EXPECT_FALSE(fs::exists(data)) << arguments;
    }
}

// Output that does not reach its place is no success: every command exits 1 and says why.
TEST_F(CliTest, StandardOutputThatCannotBeWrittenExitsOne) {
    seed(platform::kCurrentUser, "NoBrowserClose", 1);
    ASSERT_EQ(run("lift 4").status, 0) << "an entry for undo --list";
    const fs::path err = dir_.path() / "stderr.txt";
    for (const char* arguments : {"list", "list --json", "why", "why --json", "undo --list",
                                  "impose 5", "reset-pages", "--help", "--version"}) {
        const std::string command = "QUORVANE_CONFIG=" + (dir_.path() / "none.ini").string() +
                                    " XDG_STATE_HOME=" + state().string() +
                                    " WINEPREFIX= " + QUORVANE_CLI + " --registry " +
                                    registry().string() + " " + arguments + " >/dev/full 2>" +
                                    err.string();
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << arguments << ": " << status;
        EXPECT_TRUE(contains(readFile(err), "quorvane-cli: standard output could not be written"))
            << arguments;
    }
}

TEST_F(CliTest, ImposeAndLiftTakeNumbersOrValueNamesAndReportBothHives) {
    const Outcome imposed = run("impose 4 noprinting 4");
    EXPECT_EQ(imposed.status, 0) << imposed.err;
    EXPECT_EQ(imposed.out,
              "4 Closing Internet Explorer (NoBrowserClose): HKEY_CURRENT_USER 1, "
              "HKEY_LOCAL_MACHINE 1\n"
              "14 Print/Print Preview (NoPrinting): HKEY_CURRENT_USER 1, HKEY_LOCAL_MACHINE 1\n");
    EXPECT_EQ(value(platform::kLocalMachine, "NoPrinting"), testing::dword(1));

    const Outcome lifted = run("lift NOBROWSERCLOSE");
    EXPECT_EQ(lifted.status, 0) << lifted.err;
    EXPECT_EQ(value(platform::kCurrentUser, "NoBrowserClose"), std::nullopt);
    EXPECT_EQ(value(platform::kLocalMachine, "NoBrowserClose"), std::nullopt);
    EXPECT_EQ(value(platform::kCurrentUser, "NoPrinting"), testing::dword(1));
}

struct RefusedCommand {
    const char* what;     // the arguments
    const char* lead;     // of the warning on the error stream
    const char* notDone;  // one of the lines under it
};
class RefusedMachineHive : public CliTest, public ::testing::WithParamInterface<RefusedCommand> {};

TEST_P(RefusedMachineHive, IsReportedWithStatusThree) {
    const RefusedCommand& c = GetParam();
    seed(platform::kLocalMachine, "NoPrinting", 1);
    ASSERT_EQ(::chmod((registry() / "system.reg").c_str(), 0444), 0);
    const Outcome result = run(c.what);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err.rfind(std::string("quorvane-cli: ") + c.lead +
                                   "\n\nNot done in HKEY_LOCAL_MACHINE (no write access to "
                                   "HKEY_LOCAL_MACHINE: run Quorvane as administrator):\n",
                               0),
              0u)
        << result.err;
    EXPECT_TRUE(contains(result.err, c.notDone));
    EXPECT_FALSE(contains(result.out, "have been removed!"));
    EXPECT_FALSE(contains(result.out, "restored to the originals!"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RefusedMachineHive,
    ::testing::Values(
        RefusedCommand{"impose 4", "Not every change took effect!", "  impose NoBrowserClose\n"},
        RefusedCommand{"lift 14", "Not every change took effect!", "  lift NoPrinting\n"},
        RefusedCommand{
            "remove-all", "Not all Restrictions have been removed!",
            "  delete key Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions\n"},
        RefusedCommand{"reset-pages", "Home and/or Search Page has not been restored everywhere!",
                       "  set Start Page\n"}),
    testing::CaseName());

// In a hive that refuses writes, a lift of what it does not hold is done; the four bytes of a 1
// stored as another type are no restriction in force, so the impose there is refused.
TEST_F(CliTest, ARefusedHiveCountsAsDoneOnlyWhereItAlreadyHoldsTheResult) {
    seed(platform::kCurrentUser, "NoBrowserClose", 1);
    seed(platform::kLocalMachine, "NoFileNew", 0);  // the key is there, the value is not
    ASSERT_EQ(::chmod((registry() / "system.reg").c_str(), 0444), 0);
    const Outcome lifted = run("lift 4");
    EXPECT_EQ(lifted.status, 0) << lifted.err;
    EXPECT_TRUE(contains(lifted.out, "HKEY_CURRENT_USER absent, HKEY_LOCAL_MACHINE absent\n"));

    ASSERT_EQ(::chmod((registry() / "system.reg").c_str(), 0644), 0);
    {
        platform::HiveStore store(registry());
        testing::put(store, platform::kLocalMachine, kRestrictionsKey, "NoBrowserClose",
                     {platform::kRegBinary, std::string("\1\0\0\0", 4)});
    }
    ASSERT_EQ(::chmod((registry() / "system.reg").c_str(), 0444), 0);
    const Outcome imposed = run("impose 4");
    EXPECT_EQ(imposed.status, 3);
    EXPECT_TRUE(contains(imposed.out, "(not imposed: no write access to HKEY_LOCAL_MACHINE"))
        << imposed.out;
}

TEST_F(CliTest, ImposeReportsEachHiveOnItsOwn) {
    ASSERT_EQ(::chmod((registry() / "system.reg").c_str(), 0444), 0);
    EXPECT_TRUE(contains(run("impose 4").out,
                         "HKEY_CURRENT_USER 1, HKEY_LOCAL_MACHINE absent (not "
                         "imposed: no write access to HKEY_LOCAL_MACHINE"));
    EXPECT_EQ(value(platform::kCurrentUser, "NoBrowserClose"), testing::dword(1))
        << "the per-user half works";
}

// What the batch of a command could not store counts, with the registry's reason.
TEST_F(CliTest, AHiveNotStoredAtTheEndOfTheCommandIsReportedWithStatusThree) {
    platform::HiveStore store(registry());
    auto recorder = std::make_unique<testing::RecordingRegistry>(store);
    recorder->failNextStore = {
        {platform::kLocalMachine, platform::kRegistryIoFailed, "disk full writing system.reg"}};
    std::ostringstream out;
    std::ostringstream err;
    cli::Session session(std::move(recorder), {}, out, err);

    EXPECT_EQ(cli::switchRestrictions(session, {4}, true, out), 3);
    EXPECT_TRUE(contains(out.str(), "(not imposed: disk full writing system.reg)"));
    EXPECT_TRUE(contains(err.str(),
                         "Not done in HKEY_LOCAL_MACHINE (disk full writing system.reg):\n"
                         "  impose NoBrowserClose\n"));
}

// A change the registry said it made but does not hold afterwards is reported as not made.
TEST_F(CliTest, AChangeTheRegistryLostIsReportedWithStatusThree) {
    platform::HiveStore store(registry());
    auto recorder = std::make_unique<testing::RecordingRegistry>(store);
    recorder->loses = [](const testing::RegistryCall& call) { return call.name == "NoPrinting"; };
    std::ostringstream out;
    std::ostringstream err;
    cli::Session session(std::move(recorder), {}, out, err);
    EXPECT_EQ(cli::switchRestrictions(session, {14}, true, out), 3);
    EXPECT_TRUE(
        contains(out.str(), "HKEY_CURRENT_USER absent (not imposed: the change did not stick)"))
        << out.str();
}

TEST_F(CliTest, BulkCommandsPrintTheirMessages) {
    seed(platform::kCurrentUser, "NoBrowserClose", 1);
    const Outcome removed = run("remove-all");
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(removed.out,
              "All Restrictions have been removed!\n\nIf after restarting your PC a Restriction "
              "returns see the Help file for information about Startup items\n");
    EXPECT_EQ(value(platform::kCurrentUser, "NoBrowserClose"), std::nullopt);

    const Outcome reset = run("reset-pages");
    EXPECT_EQ(reset.status, 0) << reset.err;
    EXPECT_EQ(reset.out.rfind("Home and/or Search Page has been restored to the originals!\n\n", 0),
              0u);
    EXPECT_TRUE(
        contains(readFile(registry() / "user.reg"), "\"Start Page\"=\"http://www.msn.com/\""));
}

TEST_F(CliTest, UndoPutsBackTheLastChangeOfThisRegistryAndNoOther) {
    seed(platform::kCurrentUser, "NoBrowserClose", 1);
    ASSERT_EQ(run("lift 4").status, 0);
    const Outcome list = run("undo --list");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, " UTC  lift NoBrowserClose\n"));
    EXPECT_TRUE(contains(list.out,
                         "\n    deleted value NoBrowserClose in HKEY_CURRENT_USER\\Software\\"
                         "Policies\\Microsoft\\Internet Explorer\\Restrictions\n"));

    const fs::path other = dir_.path() / "other";
    fs::create_directory(other);
    testing::copyFixtureHives(other);
    const Outcome elsewhere = runOnAny("--registry " + other.string() + " undo");
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
    EXPECT_EQ(elsewhere.out, "There is no change to undo.\n");
    EXPECT_EQ(value(platform::kCurrentUser, "NoBrowserClose"), std::nullopt);

    const Outcome undone = run("undo");
    EXPECT_EQ(undone.status, 0) << undone.err;
    EXPECT_EQ(undone.out.rfind("Undone: lift NoBrowserClose (", 0), 0u) << undone.out;
    EXPECT_EQ(value(platform::kCurrentUser, "NoBrowserClose"), testing::dword(1));
    platform::HiveStore store(registry());
    EXPECT_FALSE(testing::keyExists(store, platform::kCurrentUser, "Software\\Quorvane"))
        << "the marker's key was made by the lift";
}

TEST_F(CliTest, ACommandWhoseUndoEntryCannotBeWrittenChangesNothing) {
    const fs::path blocked = dir_.path() / "blocked";
    testing::writeFile(blocked, "a file where the state folder should be");
    const std::string before = hives();
    const Outcome result = run("impose 4", "XDG_STATE_HOME=" + blocked.string());
    EXPECT_EQ(result.status, 3);
    EXPECT_TRUE(contains(result.err, "changed nothing without a backup: the undo folder " +
                                         (blocked / "Quorvane" / "undo").string() +
                                         " cannot be made"));
    EXPECT_EQ(hives(), before);
}

// Files in the undo folder that Quorvane did not write, or wrote in its earlier format: undo
// refuses them by name, changes nothing, and never waits on one.
struct PlacedEntry {
    const char* name;
    const char* file;
    std::string (*bytes)(const std::string& registry);
    std::vector<std::string> said;  // by `undo`, which exits 3
};

void PrintTo(const PlacedEntry& placed, std::ostream* out) {
    *out << placed.name;
}

class PlacedEntries : public CliTest, public ::testing::WithParamInterface<PlacedEntry> {};

TEST_P(PlacedEntries, AreRefusedByName) {
    const fs::path undo = state() / "Quorvane" / "undo";
    fs::create_directories(undo);
    const std::string identity = fs::weakly_canonical(registry()).string();
    testing::writeFile(undo / GetParam().file, GetParam().bytes(identity));
    const std::string before = hives();
    const Outcome undone = run("undo");
    EXPECT_EQ(undone.status, 3) << undone.out << undone.err;
    for (const std::string& text : GetParam().said) {
        EXPECT_TRUE(contains(undone.out + undone.err, text)) << undone.out << undone.err;
    }
    EXPECT_EQ(hives(), before);
    const Outcome list = run("undo --list");
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(contains(list.out, "    cannot be undone: ")) << list.out;
}

std::string foreignEntry(const std::string& registry) {
    journal::UndoEntry entry{"2026-12-07 03:05:01 UTC", "impose NoBrowserClose", registry, {}, {}};
    // Not a key fix deletes startup commands from (Run, RunOnce): never Quorvane's.
    const char* run = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
    for (const registry::Hive hive : {registry::kHiveCurrentUser, registry::kHiveLocalMachine}) {
        entry.records.push_back({journal::Record::Kind::Value,
                                 hive,
                                 run,
                                 "Agent",
                                 {true, platform::kRegSz, "C:\\agent.exe"},
                                 journal::PlaceState{}});
    }
    entry.records.push_back({journal::Record::Kind::Key, registry::kHiveLocalMachine,
                             "Software\\Wine", "", journal::PlaceState{},
                             journal::PlaceState{true, 0, {}}});
    return journal::writeUndoEntry(entry);
}

std::string earlierEntry(const std::string& registry) {
    return testing::utf16WithBom(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; Quorvane: the registry before a change, for undo\r\n"
        "; Time: 2026-12-07 03:05:01 UTC\r\n; Action: impose NoBrowserClose\r\n; Registry: " +
        registry + "\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Policies]\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Undo, PlacedEntries,
    ::testing::Values(
        PlacedEntry{
            "OneThatReachesBeyondQuorvanesPlaces",
            "20261207-030501-000000-000.undo",
            foreignEntry,
            {"it names what Quorvane never changes: value Agent in HKEY_CURRENT_USER\\"
             "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices, value Agent in "
             "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices, "
             "key HKEY_LOCAL_MACHINE\\Software\\Wine"}},
        PlacedEntry{"OneOfTheEarlierFormat",
                    "20261207-030501-000-00.reg",
                    earlierEntry,
                    {"written by an earlier version of Quorvane", "regedit /s"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, UndoKeepsWhatAnotherProgramWroteSinceAndExitsThree) {
    ASSERT_EQ(run("impose 4").status, 0);
    {
        platform::HiveStore store(registry());
        testing::put(store, platform::kCurrentUser, "Software\\Policies\\Other", "Agent",
                     testing::sz("Setting"));
    }
    const Outcome undone = run("undo");
    EXPECT_EQ(undone.status, 3);
    EXPECT_TRUE(contains(undone.out + undone.err,
                         "Not done in HKEY_CURRENT_USER (changed since; left as it is):\n"
                         "  delete key Software\\Policies"))
        << undone.out << undone.err;
    platform::HiveStore store(registry());
    EXPECT_EQ(testing::stored(store, platform::kCurrentUser, "Software\\Policies\\Other", "Agent"),
              testing::sz("Setting"));
    EXPECT_EQ(value(platform::kCurrentUser, "NoBrowserClose"), std::nullopt);
    EXPECT_EQ(value(platform::kLocalMachine, "NoBrowserClose"), std::nullopt);
}

TEST_F(CliTest, AFifoNamedLikeAnEntryStopsUndoWithoutWaiting) {
    ASSERT_EQ(run("impose 4").status, 0);
    const fs::path fifo = state() / "Quorvane" / "undo" / "29991231-235959-000-00.reg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A hang would end in timeout's status 124.
    const Outcome list = run("undo --list", "timeout 60 env");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_TRUE(contains(list.out, "Skipped: " + fifo.string() + " is not a regular file\n"))
        << list.out;
    EXPECT_TRUE(contains(list.out, " UTC  impose NoBrowserClose\n")) << list.out;
    // It may be the newest change: nothing older is undone past it, and the message says how
    // to go on.
    const Outcome refused = run("undo", "timeout 60 env");
    EXPECT_EQ(refused.status, 3) << refused.err;
    EXPECT_TRUE(contains(refused.err, fifo.string() + " is not a regular file. Move that file"))
        << refused.err;
    ASSERT_EQ(::unlink(fifo.c_str()), 0);
    const Outcome undone = run("undo", "timeout 60 env");
    EXPECT_EQ(undone.status, 0) << undone.err;
    EXPECT_EQ(undone.out.rfind("Undone: impose NoBrowserClose (", 0), 0u) << undone.out;
}

// An undo folder that cannot be listed is not an empty one.
TEST_F(CliTest, AnUndoFolderThatCannotBeListedIsNotNothingToUndo) {
    ASSERT_EQ(run("impose 4").status, 0);
    const fs::path folder = state() / "Quorvane" / "undo";
    fs::rename(folder, folder.string() + ".away");
    testing::writeFile(folder, "");
    const Outcome list = run("undo --list");
    EXPECT_EQ(list.status, 2) << list.out;
    const Outcome undo = run("undo");
    EXPECT_EQ(undo.status, 3) << undo.out;
    for (const Outcome& outcome : {list, undo}) {
        EXPECT_FALSE(contains(outcome.out + outcome.err, "no change to undo")) << outcome.out;
        EXPECT_TRUE(contains(outcome.err, "the undo folder " + folder.string())) << outcome.err;
    }
}

// A writer killed between making its new entry and naming it leaves a temporary file: the next
// entry's writer removes it, and never one of a writer still at work.
TEST_F(CliTest, TheNextEntryRemovesWhatAKilledWriterLeft) {
    ASSERT_EQ(run("impose 4").status, 0);
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const fs::path folder = state() / "Quorvane" / "undo";
    const fs::path left = folder / (".a.reg.quorvane-" + std::to_string(ended) + "-1");
    const fs::path working = folder / (".b.reg.quorvane-" + std::to_string(::getpid()) + "-1");
    testing::writeFile(left, "");
    testing::writeFile(working, "");
    ASSERT_EQ(run("lift 4").status, 0);
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(working));
}

TEST_F(CliTest, BadCommandLinesAndUnusableRegistriesExitTwoWritingNothing) {
    const std::string before = hives();
    // One command line each, the first empty.
    std::istringstream badLines(
        "|frob|impose|impose 24|impose 25|impose 4x|lift 0|lift NoSuchValue|list extra|impose 4 "
        "--json|"
        "--bogus list|--registry '' list|--registry '' why|--registry '' export a.reg|--registry "
        "'' "
        "fix|undo 4|list --list|why 25|why NoSuchValue|why --policy "
        "user|export|export a.reg b.reg|export --json a.reg|export --policy group a.pol");
    for (std::string arguments; std::getline(badLines, arguments, '|');) {
        const Outcome result =
            arguments.starts_with("--registry") ? runOnAny(arguments) : run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_TRUE(contains(result.err, "quorvane-cli: ")) << arguments;
        EXPECT_TRUE(result.out.empty()) << arguments;
    }
    // What is wrong is named: an option that does not go with the command names the one it goes
    // with; a second registry is not silently taken.
    for (const auto& [arguments, says] : {
             std::pair("impose 24", "can only be lifted"),
             std::pair("why --list", "--list goes with undo only"),
             std::pair("fix --list", "--list goes with undo only"),
             std::pair("why --dry-run", "--dry-run goes with fix only"),
             std::pair("fix --policy user", "--policy goes with export only"),
             std::pair("impose -1", "no restriction '-1'"),
             std::pair("--registry /tmp list", "--registry is given twice"),
         }) {
        const Outcome result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_TRUE(contains(result.err, says)) << arguments << ": " << result.err;
    }
    EXPECT_EQ(hives(), before);
    EXPECT_FALSE(fs::exists(dir_.path() / "data")) << "an empty --registry is no default";

    testing::writeFile(registry() / "user.reg", "not a hive\n");
    const Outcome damaged = run("impose 4");
    EXPECT_EQ(damaged.status, 2);
    EXPECT_TRUE(contains(damaged.err, "user.reg"));
    EXPECT_EQ(readFile(registry() / "user.reg"), "not a hive\n");

    fs::remove_all(registry());
    EXPECT_EQ(run("list").status, 2);
}

}  // namespace
}  // namespace quorvane
