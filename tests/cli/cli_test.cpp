// quorvane-cli as a user runs it: a process with arguments, an exit status and its output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "cli/commands.h"
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
using testing::readFile;
using testing::TempDir;

constexpr const char* kRestrictionsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";

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
        // No configuration file or registry of the user's may be used instead.
        return testing::runCommandLine(
            "QUORVANE_CONFIG=" + (dir_.path() / "none.ini").string() +
                " XDG_CONFIG_HOME=" + (dir_.path() / "config").string() +
                " XDG_DATA_HOME=" + (dir_.path() / "data").string() +
                " XDG_STATE_HOME=" + state().string() + " " + environment +
                " WINEPREFIX= " QUORVANE_CLI " --registry " + registry().string() + " " + arguments,
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
    }
    const std::string before = hives();

    const Outcome text = run("list");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "  4 yes       1/1/4        Closing Internet Explorer"));
    EXPECT_TRUE(contains(text.out,
                         " 14 no        2/2/2        Print/Print Preview                  "
                         "absent              1\n"))
        << "the machine hive alone does not put a restriction in force";
    EXPECT_TRUE(contains(text.out, "absent              \"Error\"\n"))
        << "a title that reads Error is a title";

    EXPECT_EQ(hives(), before) << "list writes nothing, not even detection's rewrites";
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
                         "\n    changed value NoBrowserClose in HKEY_CURRENT_USER\\Software\\"
                         "Policies\\Microsoft\\Internet Explorer\\Restrictions\n"));

    const fs::path other = dir_.path() / "other";
    fs::create_directory(other);
    testing::copyFixtureHives(other);
    const Outcome elsewhere = run("--registry " + other.string() + " undo");
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

TEST_F(CliTest, BadCommandLinesAndUnusableRegistriesExitTwoWritingNothing) {
    const std::string before = hives();
    // One command line each, the first empty.
    std::istringstream badLines(
        "|frob|impose|impose 24|impose 25|lift 0|lift NoSuchValue|list extra|impose 4 --json|"
        "--bogus list|--registry '' list|--registry '' why|--registry '' export a.reg|undo 4|list "
        "--list|why 25|why NoSuchValue|why --policy "
        "user|export|export a.reg b.reg|export --json a.reg|export --policy group a.pol");
    for (std::string arguments; std::getline(badLines, arguments, '|');) {
        const Outcome result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_TRUE(contains(result.err, "quorvane-cli: ")) << arguments;
        EXPECT_TRUE(result.out.empty()) << arguments;
    }
    EXPECT_TRUE(contains(run("impose 24").err, "can only be lifted"));
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
