// quorvane-cli on a Windows installation that is not running: a fake one whose folders differ in
// letter case from what Windows names them, with a profile list and hives made by the tests'
// generator and hivex. What the program reports is checked against two readers that share no
// code with it: Samba's regtree and chntpw's reged.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "platform/offline_hive_file.h"
#include "platform/offline_registry.h"
#include "restrictions/catalogue.h"
#include "tests/cli/cli_scene.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/empty_hive.h"
#include "tests/support/fake_installation.h"
#include "tests/support/hive_readers.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using platform::kCurrentUser;
using platform::kLocalMachine;

class OfflineCli : public ::testing::Test {
protected:
    OfflineCli() : made_(makeFakeInstallation(root())) {}

    fs::path root() const { return dir_.path() / "disk"; }
    fs::path offlineState() const { return dir_.path() / "state" / "Quorvane" / "offline"; }

    std::string command(const std::string& arguments) const {
        return cliCommand(dir_.path(), "--windows " + root().string() + " " + arguments);
    }
    CliOutcome run(const std::string& arguments) const {
        return runCommandLine(command(arguments), dir_.path());
    }

    // bob's profile folder, which the profile list names, with a hive of its own.
    fs::path addBob() const {
        const fs::path bob = root() / "users" / "bob" / "NTUSER.DAT";
        fs::create_directories(bob.parent_path());
        writeEmptyHive(bob, {.fileName = u"NTUSER.DAT"});
        return bob;
    }

    // The installation's registry as ann sees it.
    platform::OfflineRegistry annRegistry() const {
        return platform::OfflineRegistry(
            {{made_.software, "SOFTWARE"}, platform::OfflineHive{made_.ann, "ann"}, dir_.path()});
    }

    // The installation's folder under Quorvane's state folder, named after its MachineGuid.
    fs::path installationState() const {
        return offlineState() / (std::string("machine-") + kFakeMachineGuid);
    }

    // Both independent readers' view of the restriction `name` in a hive.
    std::pair<bool, bool> seenByReaders(const fs::path& hive, const std::string& name) const {
        const std::string prefix =
            hive == made_.software ? "HKEY_LOCAL_MACHINE\\SOFTWARE" : "HKEY_CURRENT_USER";
        return {contains(regtreeListing(hive), name + " = REG_DWORD : 0x00000001"),
                contains(regedExport(hive, prefix), "\"" + name + "\"=dword:00000001")};
    }

    TempDir dir_;
    FakeInstallation made_;
};

// Each user's undo entries lie apart: undo for one user never undoes another's change.
TEST_F(OfflineCli, UndoIsKeptPerInstallationAndUser) {
    ASSERT_EQ(run("--user ann impose NoFileNew").status, 0);
    ASSERT_EQ(run("--user default impose NoFileOpen").status, 0);
    const fs::path annUndo = installationState() / "undo" / "S-1-5-21-1-2-3-1001";
    ASSERT_TRUE(fs::is_directory(annUndo));
    EXPECT_EQ(std::distance(fs::directory_iterator(annUndo), {}), 1);

    // The machine keys ann's change made now hold the default profile's value too: they stay,
    // and undo says so.
    EXPECT_TRUE(exits(run("--user ann undo"), 3, &CliOutcome::err,
                      "Not done in HKEY_LOCAL_MACHINE (changed since; left as it is)"));
    EXPECT_FALSE(seenByReaders(made_.ann, "NoFileNew").first);
    EXPECT_TRUE(seenByReaders(made_.defaultProfile, "NoFileOpen").first);
    const std::string listed = run("--user default undo --list").out;
    EXPECT_TRUE(contains(listed, "impose NoFileOpen"));
    // The copies it keeps, the first of the default profile's hive named as such.
    EXPECT_TRUE(contains(listed, "ntuser.dat; the first, from before Quorvane first changed it)"));
}

// Every user and the default profile, as the independent readers see it, and the copies taken
// before the change: where they are, and one of SOFTWARE however many users changed it.
TEST_F(OfflineCli, ImposeAndLiftForEveryUserAsTheIndependentReadersSeeIt) {
    const fs::path hives[] = {made_.software, made_.ann, addBob(), made_.defaultProfile};
    const CliOutcome imposed = run("--user all impose 4");
    ASSERT_TRUE(exits(imposed, 0, &CliOutcome::out,
                      "Windows installation " + fs::canonical(root()).string() +
                          ", user Ann:\n4 Closing Internet Explorer"));
    for (const auto& hive : hives) {
        EXPECT_EQ(seenByReaders(hive, "NoBrowserClose"), std::pair(true, true)) << hive;
    }
    const fs::path backups = installationState() / "backups";
    EXPECT_TRUE(contains(imposed.out, "before the change are in " + backups.string()));
    std::size_t softwareCopies = 0;
    for (const auto& copy : fs::directory_iterator(backups)) {
        EXPECT_TRUE(contains(imposed.out, copy.path().filename().string()));
        softwareCopies += copy.path().filename().string().starts_with("SOFTWARE-");
    }
    EXPECT_EQ(softwareCopies, 1u);

    // Each user's block, in order (cli_json_test checks the JSON rows' installation and user).
    const CliOutcome text = run("--user all list");
    EXPECT_LT(text.out.find(", user Ann:\n"), text.out.find(", user bob:\n")) << text.out;
    EXPECT_LT(text.out.find(", user bob:\n"), text.out.find(", user default:\n"));
    EXPECT_NE(text.out.find(", user default:\n"), std::string::npos);

    ASSERT_TRUE(exits(run("--user all lift 4"), 0, &CliOutcome::out,
                      "HKEY_CURRENT_USER absent, HKEY_LOCAL_MACHINE absent"));
    for (const auto& hive : hives) {
        EXPECT_EQ(seenByReaders(hive, "NoBrowserClose"), std::pair(false, false)) << hive;
    }
    // Both readers read the hives at all after the change.
    EXPECT_TRUE(contains(regtreeListing(made_.ann), "Restrictions"));
    EXPECT_TRUE(contains(regedExport(made_.ann, "HKEY_CURRENT_USER"), kRestrictionsKey));
}

struct Misuse {
    const char* what;
    const char* arguments;
    const char* says;                                // the reason, on the error stream
    void (*change)(const fs::path& root) = nullptr;  // of the installation, with bob added
};
class OfflineMisuse : public OfflineCli, public ::testing::WithParamInterface<Misuse> {};

TEST_P(OfflineMisuse, IsRefusedWithStatusTwoAndTheReason) {
    addBob();
    if (GetParam().change != nullptr) {
        GetParam().change(root());
    }
    const std::string software = readFile(made_.software);
    const std::string ann = fs::exists(made_.ann) ? readFile(made_.ann) : "";
    const CliOutcome result = run(GetParam().arguments);
    EXPECT_TRUE(exits(result, 2, &CliOutcome::err, GetParam().says));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(made_.software), software);
    EXPECT_EQ(fs::exists(made_.ann) ? readFile(made_.ann) : "", ann);
    EXPECT_FALSE(fs::exists(offlineState())) << "nothing is created";
}

INSTANTIATE_TEST_SUITE_P(
    Cli, OfflineMisuse,
    ::testing::Values(
        Misuse{"several users and none named", "impose 4",
               "has more than one user. Name one with --user NAME, or every user and the default "
               "profile with --user all:\n  Ann\n  bob\n  default (the default profile"},
        Misuse{"a user who is not there", "--user carol list",
               "has no user 'carol'. Its users:\n  Ann\n"},
        Misuse{"two registries", "--registry /tmp list", "--windows and --registry"},
        Misuse{"export for every user", "--user all export x.reg", "export writes one file"},
        Misuse{"a second installation", "--windows /nonexistent list", "--windows is given twice"},
        Misuse{"the default profile alone", "list",
               "only the default profile, from which Windows makes new users. To work on it, name "
               "it with --user default",
               [](const fs::path& root) {
                   fs::remove_all(root / "users" / "Ann");
                   fs::remove_all(root / "users" / "bob");
               }},
        // --user all reads every chosen user's hive first: one that cannot be read stops the
        // command before anything is written for anyone.
        Misuse{"every user with one unreadable hive", "--user all impose 4",
               "nothing was done for any user",
               [](const fs::path& root) {
                   writeFile(root / "users" / "bob" / "NTUSER.DAT", "not a hive");
               }}),
    CaseName());

// A hive that Windows did not write back completely is never written: the command says why
// and what to do, with status 3, and the file stays byte for byte. One hive at a time, as
// Windows left it on resuming or on hibernating.
TEST_F(OfflineCli, AnUncleanHiveIsRefusedWithTheAdvice) {
    // Each imposes what the other left undone, so that the unclean hive has a change to take.
    const std::tuple<fs::path, const char*, const char*, const char*> cases[] = {
        {made_.software, "HIBR", platform::offline::kHibernated, "impose 4"},
        {made_.ann, "wake", platform::offline::kNotShutDown, "impose 14"}};
    for (const auto& [hive, hiberfil, why, change] : cases) {
        SCOPED_TRACE(hive.string());
        setSequenceNumbers(hive, 7, 6);
        writeFile(root() / "hiberfil.sys", hiberfil + std::string(4096, '\0'));
        const std::string before = readFile(hive);
        const CliOutcome result = run(std::string("--user ann ") + change);
        EXPECT_TRUE(exits(result, 3, &CliOutcome::err,
                          hive.string() + " holds changes that Windows has not"));
        EXPECT_TRUE(contains(result.err, why)) << result.err;
        EXPECT_TRUE(contains(result.err, platform::offline::kShutDownAdvice));
        EXPECT_TRUE(contains(result.out, "(not imposed: "));
        EXPECT_EQ(readFile(hive), before);
        setSequenceNumbers(hive, 7, 7);
    }
}

// One writer per installation: two runs at once, for two users, both changing the machine's
// hive too, lose nothing of each other's, round after round.
TEST_F(OfflineCli, TwoWritersAtOnceLoseNoChange) {
    addBob();
    for (int round = 0; round < 20; ++round) {
        const std::string change = round % 2 == 0 ? "impose " : "lift ";
        const auto background = [&](const std::string& user, int number) {
            return "(" + command("--user " + user + " " + change + std::to_string(number)) + " >" +
                   user + ".txt 2>&1; echo $? >" + user + ".status) &";
        };
        runCommandLine("(" + background("ann", 4) + background("bob", 9) + " wait)", dir_.path());
        for (const char* user : {"ann", "bob"}) {
            ASSERT_EQ(readFile(dir_.path() / (std::string(user) + ".status")), "0\n")
                << readFile(dir_.path() / (std::string(user) + ".txt"));
        }
        platform::OfflineRegistry machine({{made_.software, "SOFTWARE"}, std::nullopt, {}});
        for (const int number : {4, 9}) {
            const auto& restriction = restrictions::kCatalogue[number - 1];
            EXPECT_EQ(stored(machine, kLocalMachine, restriction.subKey, restriction.valueName)
                          .has_value(),
                      round % 2 == 0)
                << "round " << round << ", restriction " << number;
        }
    }
}

// Every command runs on the chosen user's hives alone; what it says comes after the line that
// names the installation and user. why looks in the installation's own folders and in the user's
// own hive, and names each item that sets the restriction again.
TEST_F(OfflineCli, EveryCommandLooksAtAndChangesTheChosenUserAlone) {
    {
        platform::OfflineRegistry registry = annRegistry();
        put(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1));
        put(registry, kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Relock",
            sz(relock("NoBrowserClose")));
        // The browser's start page, which every installation has.
        for (const auto root : {kCurrentUser, kLocalMachine}) {
            put(registry, root, kMainKey, "Start Page", sz("http://locked.test/"));
        }
    }
    const fs::path tasks = root() / "WINDOWS" / "system32" / "tasks";
    fs::create_directories(tasks);
    const fs::path startup = root() / "users" / "Ann" / "AppData" / "Roaming" / "Microsoft" /
                             "Windows" / "Start Menu" / "Programs" / "Startup";
    fs::create_directories(startup);
    writeFile(tasks / "Relock", relockTask("NoBrowserClose"));
    writeFile(startup / "lock.bat", testing::relock("NoBrowserClose") + "\r\n");

    const auto sources = [this](const std::string& user) {
        const CliOutcome result = run("--user " + user + " why --json 4");
        EXPECT_EQ(result.status, 4) << result.err;
        const nlohmann::json report = nlohmann::json::parse(result.out);
        EXPECT_EQ(report["restrictions"].size(), 1u);
        std::set<std::string> found{report.value("place", "")};
        for (const nlohmann::json& finding : report.value("returning", nlohmann::json::array())) {
            found.insert(finding.value("source", "") + ": " + finding.value("item", ""));
            EXPECT_EQ(finding["restrictions"], nlohmann::json::array({4}));
        }
        return found;
    };
    const std::string place = "the Windows installation " + fs::canonical(root()).string();
    EXPECT_EQ(sources("ann"),
              (std::set<std::string>{place + ", user Ann", "startup key: Relock",
                                     "startup folder: lock.bat", "scheduled task: \\Relock"}));
    // The default profile has neither ann's Run entry nor her Startup folder; the machine's task
    // runs for everyone.
    EXPECT_EQ(sources("default"),
              (std::set<std::string>{place + ", user default", "scheduled task: \\Relock"}));

    // fix --json prints one JSON document whatever --user says: with --user all an array of each
    // user's object, naming the installation and user; each change by its kind, and after the fix
    // what was not done.
    const CliOutcome planned = run("--user all fix --json --dry-run");
    EXPECT_EQ(planned.status, 0) << planned.err;
    const nlohmann::json document = nlohmann::json::parse(planned.out);
    ASSERT_TRUE(document.is_array()) << planned.out;
    ASSERT_EQ(document.size(), 2u);
    EXPECT_EQ(document[0]["changes"][1]["kind"], "startup item");
    EXPECT_EQ(document[0]["dryRun"], true);
    EXPECT_EQ(document[1]["user"], "default");
    const std::string defaultBefore = readFile(made_.defaultProfile);
    const CliOutcome fixed = run("--user ann fix --json");
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_EQ(nlohmann::json::parse(fixed.out)["notDone"], nlohmann::json::array()) << fixed.out;
    for (const auto& [arguments, says] :
         {std::pair("remove-all", "removed"),
          std::pair("reset-pages", "Home and/or Search Page has been restored"),
          std::pair("export out.reg", "Exported the 24 restrictions")}) {
        const CliOutcome result = run(std::string("--user ann ") + arguments);
        EXPECT_TRUE(exits(result, 0, &CliOutcome::out, says)) << arguments;
        EXPECT_TRUE(contains(result.out, ", user Ann:\n"));
    }
    EXPECT_EQ(readFile(made_.defaultProfile), defaultBefore) << "another user's hive";

    // A damaged key is reported as unreadable, never as absent, and nothing is exported from it.
    // Without --user the command runs on Ann, the one user beside the default profile (bob has a
    // profile but no folder).
    {
        platform::OfflineRegistry registry = annRegistry();
        makeKey(registry, kCurrentUser, std::string(kRestrictionsKey) + "\\Child");
    }
    listItself(made_.ann, kRestrictionsKey);
    EXPECT_TRUE(contains(run("list").out, "Closing Internet Explorer            unreadable"));
    EXPECT_TRUE(exits(run("export damaged.reg"), 3, &CliOutcome::err, "nothing was exported"));
    EXPECT_FALSE(fs::exists(dir_.path() / "damaged.reg"));
}

}  // namespace
}  // namespace quorvane::testing
