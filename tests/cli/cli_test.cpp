// quorvane-cli as a user runs it: a process with arguments, an exit status, its output, and what
// it leaves in the registry and the files of the prefix it works on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <sstream>
#include <tuple>

#include "cli/commands.h"
#include "diagnosis/policy_file.h"
#include "formats/reg_file.h"
#include "tests/cli/cli_scene.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/recording_registry.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using platform::kCurrentUser;
using platform::kLocalMachine;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kWinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const fs::path kStartup = fs::path("drive_c") / "users" / "a" / "AppData" / "Roaming" /
                          "Microsoft" / "Windows" / "Start Menu" / "Programs" / "Startup";
const fs::path kSystem = fs::path("drive_c") / "windows" / "system32";

class CliTest : public ::testing::Test, public CliScene {
public:
    // Output that does not reach its place is no success: the command exits 1 and says why.
    void expectOutputFullExitsOne(const std::string& arguments) const {
        EXPECT_TRUE(exits(run(arguments, "sh -c 'exec \"$0\" \"$@\" >/dev/full' env"), 1,
                          &CliOutcome::err, "quorvane-cli: standard output could not be written"))
            << arguments;
    }
};

// A value put in a hive before a command, or looked for there after it (no data: absent).
struct Value {
    platform::KeyHandle root;
    const char* key;
    const char* name;
    std::optional<Stored> data;
};

// A restriction's value in the per-user or the machine hive (1 unless told; none: absent).
Value user(const char* name, std::optional<Stored> data = dword(1)) {
    return {kCurrentUser, kRestrictionsKey, name, std::move(data)};
}
Value machine(const char* name, std::optional<Stored> data = dword(1)) {
    return {kLocalMachine, kRestrictionsKey, name, std::move(data)};
}
template <class... Each>
std::vector<Value> values(Each... each) {
    return {each...};
}
template <class... Each>
std::vector<std::string> texts(Each... each) {
    return {each...};
}

enum Flags {
    kMachineReadOnly = 1,  // system.reg may be read, not written
    kWholeOut = 2,         // the one part of `out` is all of the standard output
    kReadsOnly = 4,        // the hives stay byte for byte
};

// One command on the fixture prefix holding `before`: its exit status, parts of what it prints
// on each stream, and values it leaves.
struct Command {
    const char* what;
    int flags;
    std::vector<Value> before;
    std::string arguments;
    int status;
    std::vector<std::string> out;  // parts of the standard output
    std::vector<std::string> err;  // parts of the error stream
    std::vector<Value> after;
};

void PrintTo(const Command& command, std::ostream* out) {
    *out << command.what;
}

class Commands : public CliTest, public ::testing::WithParamInterface<Command> {};

TEST_P(Commands, ExitPrintAndLeaveWhatTheySay) {
    const Command& c = GetParam();
    for (const Value& value : c.before) {
        put(value.root, value.key, value.name, *value.data);
    }
    if ((c.flags & kMachineReadOnly) != 0) {
        ASSERT_EQ(::chmod((prefix() / "system.reg").c_str(), 0444), 0);
    }
    const std::string before = hives();
    const CliOutcome result = run(c.arguments);
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    if ((c.flags & kWholeOut) != 0) {
        EXPECT_EQ(result.out, c.out.at(0));
    }
    for (const std::string& part : c.out) {
        EXPECT_TRUE(contains(result.out, part));
    }
    for (const std::string& part : c.err) {
        EXPECT_TRUE(contains(result.err, part));
    }
    for (const Value& value : c.after) {
        EXPECT_EQ(this->value(value.root, value.key, value.name), value.data) << value.name;
    }
    if ((c.flags & kReadsOnly) != 0) {
        EXPECT_EQ(hives(), before);
    }
    if (!result.err.empty()) {
        EXPECT_TRUE(result.err.starts_with("quorvane-cli: ")) << result.err;
    }
    if (c.status == 0) {
        expectOutputFullExitsOne(c.arguments);
    } else {  // a failure is never told as a success
        EXPECT_FALSE(contains(result.out, "have been removed!"));
        EXPECT_FALSE(contains(result.out, "restored to the originals!"));
    }
}

const std::string kMachineRefused =
    "\n\nNot done in HKEY_LOCAL_MACHINE (no write access to HKEY_LOCAL_MACHINE: run Quorvane as "
    "administrator):\n";

const Command kCommands[] = {
    {"list shows each restriction and both hives", kReadsOnly,  // not even detection's rewrites
     values(user("NoBrowserClose", dword(2)), machine("NoPrinting"),
            Value{kLocalMachine, kMainKey, "Window Title", sz("Error")},
            // 256 bytes with the NUL: one more than the registry module reads.
            Value{kCurrentUser, kMainKey, "Window Title", sz(std::string(255, 't'))}),
     "list", 0,
     texts(
         "  4 yes       1/1/4        Closing Internet Explorer",
         // The machine hive alone does not put a restriction in force.
         " 14 no        2/2/2        Print/Print Preview                  absent              1\n",
         // A title that reads Error is a title.
         "unreadable          \"Error\"\n"),
     texts(), values()},
    {"impose takes numbers and value names", kWholeOut, values(), "impose 4 noprinting 4", 0,
     texts("4 Closing Internet Explorer (NoBrowserClose): HKEY_CURRENT_USER 1, HKEY_LOCAL_MACHINE "
           "1\n14 Print/Print Preview (NoPrinting): HKEY_CURRENT_USER 1, HKEY_LOCAL_MACHINE 1\n"),
     texts(), values(machine("NoPrinting"))},
    {"remove all", kWholeOut, values(user("NoBrowserClose")), "remove-all", 0,
     texts("All Restrictions have been removed!\n\nIf after restarting your PC a Restriction "
           "returns see the Help file for information about Startup items\n"),
     texts(), values(user("NoBrowserClose", std::nullopt))},
    // Where the machine hive refuses writes, the per-user half is done, and each hive is
    // reported on its own.
    {"impose where the machine hive is refused", kMachineReadOnly, values(machine("NoPrinting")),
     "impose 4", 3,
     texts("HKEY_CURRENT_USER 1, HKEY_LOCAL_MACHINE absent (not imposed: no write access to "
           "HKEY_LOCAL_MACHINE"),
     texts("quorvane-cli: Not every change took effect!" + kMachineRefused +
           "  impose NoBrowserClose\n"),
     values(user("NoBrowserClose"))},
    {"lift where the machine hive is refused", kMachineReadOnly, values(machine("NoPrinting")),
     "lift 14", 3, texts("(not lifted: no write access to HKEY_LOCAL_MACHINE"),
     texts("quorvane-cli: Not every change took effect!" + kMachineRefused, "  lift NoPrinting\n"),
     values()},
    {"remove all where the machine hive is refused", kMachineReadOnly,
     values(machine("NoPrinting")), "remove-all", 3, texts(),
     texts("quorvane-cli: Not all Restrictions have been removed!" + kMachineRefused,
           "  delete key Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions\n"),
     values()},
    {"reset pages where the machine hive is refused", kMachineReadOnly, values(), "reset-pages", 3,
     texts(),
     texts("quorvane-cli: Home and/or Search Page has not been restored everywhere!" +
               kMachineRefused,
           "  set Start Page\n"),
     values()},
    // In a hive that refuses writes, a lift of what it does not hold is done; the four bytes of a
    // 1 stored as another type are no restriction in force, so an impose there is refused.
    {"lift of what a refused hive does not hold", kMachineReadOnly,
     values(user("NoBrowserClose"), machine("NoFileNew", dword(0))), "lift 4", 0,
     texts("HKEY_CURRENT_USER absent, HKEY_LOCAL_MACHINE absent\n"), texts(), values()},
    {"impose over a binary 1 in a refused hive", kMachineReadOnly,
     values(machine("NoBrowserClose", Stored{platform::kRegBinary, std::string("\1\0\0\0", 4)})),
     "impose 4", 3, texts("(not imposed: no write access to HKEY_LOCAL_MACHINE"), texts(),
     values()},
};

INSTANTIATE_TEST_SUITE_P(Cli, Commands, ::testing::ValuesIn(kCommands), CaseName());

// A command line that is wrong exits 2, changes nothing and prints nothing but its reason.
TEST_F(CliTest, BadCommandLinesAndUnusableRegistriesExitTwoWritingNothing) {
    const std::string before = hives();
    // What is wrong is named: an option that does not go with the command names the one it goes
    // with; a second registry is not silently taken.
    std::vector<std::pair<std::string, std::string>> lines = {
        {"impose 24", "can only be lifted"},
        {"impose -1", "no restriction '-1'"},
        {"fix NoSuchThing", "no restriction 'NoSuchThing'"},
        {"--registry /tmp list", "--registry is given twice"},
        {"--user ann list", "--user goes with --windows only"},
        {"--windows /nonexistent list", "/nonexistent cannot be opened"},
        {"why --list", "--list goes with undo only"},
        {"fix --list", "--list goes with undo only"},
        {"list --dry-run", "--dry-run goes with fix only"},
        {"why --dry-run", "--dry-run goes with fix only"},
        {"fix --policy user", "--policy goes with export only"},
    };
    // Other wrong lines, the first empty.
    std::istringstream plain(
        "|frob|impose|impose 25|impose 4x|lift 0|lift NoSuchValue|list extra|impose 4 "
        "--json|--bogus list|--registry '' list|--registry '' why|--registry '' export "
        "a.reg|--registry '' fix|undo 4|list --list|why 25|why NoSuchValue|why --policy "
        "user|export|export a.reg b.reg|export --json a.reg|export --policy group a.pol");
    for (std::string arguments; std::getline(plain, arguments, '|');) {
        lines.emplace_back(arguments, "");
    }
    for (const auto& [arguments, says] : lines) {
        // The registry is the prefix, unless the line names one.
        const CliOutcome result =
            arguments.starts_with("--registry ''") || arguments.starts_with("--windows")
                ? runOnAny(arguments)
                : run(arguments);
        EXPECT_TRUE(exits(result, 2, &CliOutcome::err, says)) << arguments;
        EXPECT_TRUE(result.err.starts_with("quorvane-cli: ")) << arguments << ": " << result.err;
        EXPECT_TRUE(result.out.empty()) << arguments;
    }
    EXPECT_EQ(hives(), before);
    EXPECT_FALSE(fs::exists(dir_.path() / "data")) << "an empty --registry is no default";

    fs::remove_all(prefix());
    EXPECT_EQ(run("list").status, 2);
}

// Commands that only read say what they find, and leave the registry's folder, and Quorvane's
// own store, as they were: no lock file, no folder, not even detection's rewrites. The folder
// holds the hives alone, as a configured hive folder does.
TEST_F(CliTest, CommandsThatOnlyReadSayWhatTheyFindAndCreateNothing) {
    fs::remove_all(prefix() / "drive_c");
    put(kCurrentUser, kRunKey, "Relock", sz(relock("NoBrowserClose")));
    const auto before = snapshot(prefix());
    const std::string sets = "sets 4 Closing Internet Explorer (NoBrowserClose)";
    const std::tuple<std::string, int, std::string> cases[] = {
        {"list", 0, "  4 no "},
        {"list --json", 0, "\"valueName\": \"NoBrowserClose\""},
        {"why", 4, sets},
        {"why NoBrowserClose", 4, sets},
        {"why --json 4", 4, "\"item\": \"Relock\""},
        {"why 1 23", 0, "What will set them again:\n  nothing found\n"},
        {"why -h --json 4", 0, "Commands:"},
        {"undo --list", 0, "There is no change to undo.\n"},
        {"export " + (dir_.path() / "out.reg").string(), 0, "Exported the 24 restrictions"},
        {"--version", 0, "quorvane-cli "},
    };
    for (const auto& [arguments, status, says] : cases) {
        EXPECT_TRUE(exits(run(arguments), status, &CliOutcome::out, says)) << arguments;
        EXPECT_TRUE(snapshot(prefix()) == before) << arguments;
        expectOutputFullExitsOne(arguments);
    }
    EXPECT_TRUE(fs::exists(dir_.path() / "out.reg"));
    // The own store, with a WINEPREFIX that is set but empty.
    for (const char* arguments : {"list", "why"}) {
        EXPECT_EQ(runOnAny(arguments, "WINEPREFIX=").status, 0) << arguments;
        EXPECT_FALSE(fs::exists(dir_.path() / "data")) << arguments;
    }
    EXPECT_TRUE(contains(runOnAny("why").out, "own registry store is no Windows installation"));
    // The folder of hives alone takes a change as a prefix does.
    EXPECT_EQ(run("impose 4").status, 0);
    EXPECT_EQ(value(kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
}

// What the registry did not keep, whatever it said: a batch it could not store at the end of
// the command, a change it does not hold afterwards. Each is reported with its reason, as not
// done, with status 3.
TEST_F(CliTest, WhatTheRegistryDidNotKeepIsReportedWithStatusThree) {
    platform::HiveStore store(prefix());
    auto recorder = std::make_unique<RecordingRegistry>(store);
    recorder->failNextStore = {
        {kLocalMachine, platform::kRegistryIoFailed, "disk full writing system.reg"}};
    recorder->loses = [](const RegistryCall& call) { return call.name == "NoPrinting"; };
    std::ostringstream out;
    std::ostringstream err;
    cli::Session session(std::move(recorder), {}, out, err);
    EXPECT_EQ(cli::switchRestrictions(session, {4, 14}, true, out), 3);
    EXPECT_TRUE(contains(out.str(), "(not imposed: disk full writing system.reg)")) << out.str();
    EXPECT_TRUE(
        contains(out.str(), "HKEY_CURRENT_USER absent (not imposed: the change did not stick)"));
    EXPECT_TRUE(contains(err.str(),
                         "Not done in HKEY_LOCAL_MACHINE (disk full writing system.reg):\n"
                         "  impose NoBrowserClose\n"));
}

// Undo puts back the last change of this registry and of no other. What it cannot read in its
// folder, or in the folder's place, may be the newest change: nothing older is undone past it,
// and the message says how to go on; a FIFO named like an entry is not waited on, and a folder
// that cannot be listed is not an empty one.
TEST_F(CliTest, UndoPutsBackTheLastChangeOfThisRegistryAndNoOther) {
    put(kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1));
    ASSERT_EQ(run("lift 4").status, 0);
    EXPECT_TRUE(exits(run("undo --list"), 0, &CliOutcome::out,
                      " UTC  lift NoBrowserClose\n    deleted value NoBrowserClose in "
                      "HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\Internet "
                      "Explorer\\Restrictions\n"));

    const fs::path other = dir_.path() / "other";
    fs::create_directory(other);
    copyFixtureHives(other);
    const CliOutcome elsewhere = runOnAny("--registry " + other.string() + " undo");
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
    EXPECT_EQ(elsewhere.out, "There is no change to undo.\n");

    const fs::path folder = state() / "Quorvane" / "undo";
    // The name of the newest entry, taken by a FIFO, then by an entry of the earlier format.
    const fs::path newest = folder / "29991231-235959-000-00.reg";
    ASSERT_EQ(::mkfifo(newest.c_str(), 0600), 0);
    // A hang would end in timeout's status 124.
    const CliOutcome skipped = run("undo --list", "timeout 60 env");
    EXPECT_TRUE(exits(skipped, 0, &CliOutcome::out,
                      "Skipped: " + newest.string() + " is not a regular file\n"));
    EXPECT_TRUE(contains(skipped.out, " UTC  lift NoBrowserClose\n"));
    EXPECT_TRUE(exits(run("undo", "timeout 60 env"), 3, &CliOutcome::err,
                      newest.string() + " is not a regular file. Move that file"));
    ASSERT_EQ(::unlink(newest.c_str()), 0);

    // An entry of Quorvane's earlier format, which kept only the state before the change: undo
    // refuses it by name, says how to put that state back all the same, and changes nothing.
    // (The places an entry may name: tests/journal/undo_test.cpp.)
    writeFile(newest,
              utf16WithBom("Windows Registry Editor Version 5.00\r\n\r\n"
                           "; Quorvane: the registry before a change, for undo\r\n"
                           "; Time: 2026-12-07 03:05:01 UTC\r\n; Action: impose NoPrinting\r\n"
                           "; Registry: " +
                           fs::weakly_canonical(prefix()).string() +
                           "\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Policies]\r\n\r\n"));
    const std::string before = hives();
    EXPECT_TRUE(exits(run("undo"), 3, &CliOutcome::err,
                      "import the file with the registry editor (regedit /s)"));
    EXPECT_EQ(hives(), before);
    EXPECT_TRUE(exits(run("undo --list"), 0, &CliOutcome::out,
                      "NoPrinting\n    cannot be undone: it was written by an"));
    fs::remove(newest);

    fs::rename(folder, folder.string() + ".away");
    writeFile(folder, "");
    for (const auto& [arguments, status] : {std::pair("undo --list", 2), std::pair("undo", 3)}) {
        const CliOutcome outcome = run(arguments);
        EXPECT_TRUE(exits(outcome, status, &CliOutcome::err, "the undo folder " + folder.string()));
        EXPECT_FALSE(contains(outcome.out + outcome.err, "no change to undo"));
    }
    fs::remove(folder);
    fs::rename(folder.string() + ".away", folder);
    EXPECT_EQ(value(kCurrentUser, kRestrictionsKey, "NoBrowserClose"), std::nullopt);

    const CliOutcome undone = run("undo", "timeout 60 env");
    EXPECT_EQ(undone.status, 0) << undone.err;
    EXPECT_EQ(undone.out.rfind("Undone: lift NoBrowserClose (", 0), 0u) << undone.out;
    EXPECT_EQ(value(kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
    platform::HiveStore store(prefix());
    EXPECT_FALSE(keyExists(store, kCurrentUser, "Software\\Quorvane"))
        << "the marker's key was made by the lift";
}

// Files placed to make `why` hang, lead it out of the prefix, or disclose what its user may not
// read: it finishes, reads none of them, and says which it left alone.
struct Hazard {
    const char* what;
    std::function<void(const fs::path& prefix, const fs::path& outside)> place;
    const char* note;  // a part of the note that names what was left alone
    bool asRoot;       // the prefix belongs to another user, and root runs why
};
class WhyHazards : public CliTest, public ::testing::WithParamInterface<Hazard> {};

TEST_P(WhyHazards, FinishHonestlyWithoutReadingThem) {
    if (GetParam().asRoot && ::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const fs::path outside = dir_.path() / "outside";
    fs::create_directories(outside);
    writeFile(outside / "secret.txt", "SECRET-LINE\r\nreg add X /v NoFileNew /d 1\r\n");
    ::chmod((outside / "secret.txt").c_str(), 0600);
    if (GetParam().asRoot) {
        ASSERT_EQ(std::system(("chown -R nobody " + prefix().string()).c_str()), 0);
    }
    GetParam().place(prefix(), outside);  // what it makes stays root's
    const CliOutcome outcome = run("why", "timeout 60 env");
    EXPECT_NE(outcome.status, 124) << "why hung";
    EXPECT_FALSE(contains(outcome.out, "SECRET"));
    EXPECT_TRUE(contains(outcome.out, GetParam().note)) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(
    Places, WhyHazards,
    ::testing::ValuesIn(std::vector<Hazard>{
        {"fifo as policy file",
         [](const fs::path& prefix, const fs::path&) {
             fs::create_directories(prefix / kSystem / "GroupPolicy" / "Machine");
             ::mkfifo((prefix / kSystem / "GroupPolicy" / "Machine" / "Registry.pol").c_str(),
                      0644);
         },
         "Registry.pol is not a regular file", false},
        {"dot dot out of the drive",
         [](const fs::path& prefix, const fs::path& outside) {
             ::mkfifo((outside / "fifo.reg").c_str(), 0644);
             platform::HiveStore store(prefix);
             put(store, kCurrentUser, kRunKey, "Escape",
                 sz("regedit /s C:\\..\\..\\..\\..\\..\\..\\..\\..\\..\\.." + outside.string() +
                    "/fifo.reg"));
         },
         "may set any restriction", false},
        {"tasks linked to the root",
         [](const fs::path& prefix, const fs::path&) {
             fs::create_directory_symlink("/", prefix / kSystem / "Tasks");
         },
         "Tasks is reached through a link, which Quorvane does not follow", false},
        {"startup script linked out",
         [](const fs::path& prefix, const fs::path& outside) {
             fs::create_directories(prefix / kStartup);
             fs::create_symlink(outside / "secret.txt", prefix / kStartup / "x.bat");
         },
         "x.bat is reached through a link", true},
        {"startup script of root's inside",
         [](const fs::path& prefix, const fs::path& outside) {
             fs::create_directories(prefix / kStartup);
             fs::copy_file(outside / "secret.txt", prefix / kStartup / "x.bat");
         },
         "x.bat cannot be read: permission denied", true},
    }),
    CaseName());

// export writes both hives and the policy in force, or says that it could not.
TEST_F(CliTest, ExportWritesBothHivesAndThePolicyInForceOrSaysItCouldNot) {
    put(kCurrentUser, kRestrictionsKey, "NoViewSource", dword(1));
    put(kLocalMachine, kRestrictionsKey, "NoPrinting", dword(5));
    // A title stored without its terminating NUL, as other writers may leave it.
    writeFile(prefix() / "system.reg",
              readFile(prefix() / "system.reg") +
                  "\n[Software\\\\Microsoft\\\\Internet Explorer\\\\Main] 0\n"
                  "\"Window Title\"=hex(1):4f,00,77,00,6e,00,65,00,64,00\n");
    const std::string owned("O\0w\0n\0e\0d\0\0\0", 12);  // as UTF-16, with its NUL

    const fs::path regFile = dir_.path() / "state.reg";
    ASSERT_EQ(run("export " + regFile.string()).status, 0);
    const auto read = formats::readRegFile(readFile(regFile));
    ASSERT_TRUE(read) << read.failure().reason;
    int values = 0;
    std::vector<std::pair<std::u16string, formats::RegValue>> present;
    for (const formats::RegSection& section : *read) {
        EXPECT_FALSE(section.deleted) << "an export deletes values, never a key with others";
        for (const formats::RegValue& value : section.values) {
            ++values;
            if (!value.deleted) {
                present.emplace_back(section.key, value);
            }
        }
    }
    EXPECT_EQ(values, 48) << "24 restrictions in two hives";
    ASSERT_EQ(present.size(), 3u);
    const std::u16string restrictions =
        u"\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
    EXPECT_EQ(present[0].first, u"HKEY_CURRENT_USER" + restrictions);
    EXPECT_EQ(present[0].second.name, u"NoViewSource");
    EXPECT_EQ(present[0].second.data, dword(1).bytes);
    EXPECT_EQ(present[1].first, u"HKEY_LOCAL_MACHINE" + restrictions);
    EXPECT_EQ(present[1].second.data, dword(5).bytes);
    EXPECT_EQ(present[1].second.type, platform::kRegDword);
    EXPECT_EQ(present[2].second.data, owned);

    // In force is read from the chosen hive alone, and written as the 1 that imposes it.
    const fs::path polFile = dir_.path() / "state.pol";
    for (const auto& [policy, first] :
         {std::pair("user", u"NoViewSource"), std::pair("machine", u"NoPrinting")}) {
        ASSERT_TRUE(exits(run("export --policy " + std::string(policy) + " " + polFile.string()), 0,
                          &CliOutcome::out, "Exported 2 restrictions"));
        const diagnosis::PolicyFile pol = diagnosis::readPolicyFile(readFile(polFile));
        ASSERT_FALSE(pol.damage);
        ASSERT_EQ(pol.records.size(), 2u) << policy;
        EXPECT_EQ(pol.records[0].value, first);
        EXPECT_EQ(pol.records[0].data, dword(1).bytes);
        EXPECT_EQ(pol.records[1].data, owned);
    }

    // A folder that is missing, a name that is a folder, a full disk (a file size limit of 1 KB
    // stands in for it: the export's writes fail as on a full disk, the message still fits):
    // nothing is claimed, and the previous export stays whole. (That a failed write leaves no file
    // of its own behind: tests/formats/whole_file_test.cpp.)
    const std::string previous = readFile(regFile);
    fs::create_directory(dir_.path() / "taken.reg");
    const std::pair<fs::path, std::string> cases[] = {
        {dir_.path() / "missing" / "state.reg", ""},
        {dir_.path() / "taken.reg", ""},
        {regFile, "sh -c 'trap \"\" XFSZ; ulimit -f 2; exec \"$0\" \"$@\"' env"},
    };
    for (const auto& [file, wrapper] : cases) {
        const CliOutcome outcome = run("export " + file.string(), wrapper);
        EXPECT_TRUE(exits(outcome, 3, &CliOutcome::err, "was not written")) << file;
        EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    }
    EXPECT_FALSE(fs::exists(dir_.path() / "missing"));
    EXPECT_EQ(readFile(regFile), previous);
}

// fix on a prefix with one kind of finding at a time, beside things that must stay: a dry run
// changes nothing; fix stops what it may (then why exits 0) and leaves the rest untouched, or
// refuses with its reason; undo brings every file back byte for byte. Samba's reader checks the
// policy files it leaves.
class FixCommand;

struct FixCase {
    const char* what;
    std::function<void(FixCommand&)> set;    // puts the finding and its neighbours in place
    std::string arguments;                   // the restrictions named
    int status;                              // of fix (and of its dry run, unless `refusedLate`)
    const char* said;                        // a part of what fix says
    std::function<void(FixCommand&)> check;  // after fix: what went, and what stayed
    bool refusedLate = false;  // refused by the registry when written: the dry run plans it
};

void PrintTo(const FixCase& test, std::ostream* out) {
    *out << test.what;
}

class FixCommand : public CliTest, public ::testing::WithParamInterface<FixCase> {
public:
    FixCommand() {
        fs::create_directories(system32() / "Tasks");
        fs::create_directories(startup());
    }

    fs::path startup() const { return prefix() / kStartup; }
    fs::path userPolicy() const { return system32() / "GroupPolicy" / "User" / "Registry.pol"; }

    void place(const fs::path& file, const std::string& bytes) const {
        fs::create_directories(file.parent_path());
        writeFile(file, bytes);
    }

    // What Samba's policy reader finds in `file`, one record a line.
    std::string sambaReads(const fs::path& file) const {
        return runCommandLine(QUORVANE_SAMBA_POL " read " + file.string(), dir_.path()).out;
    }
};

TEST_P(FixCommand, StopsWhatItMayAndUndoPutsItBack) {
    const FixCase& test = GetParam();
    test.set(*this);
    const fs::path driveC = prefix() / "drive_c";
    const auto before = snapshot(driveC);
    const CliOutcome dry = run("fix --dry-run " + test.arguments);
    EXPECT_EQ(dry.status, test.refusedLate ? 0 : test.status) << dry.out << dry.err;
    EXPECT_TRUE(snapshot(driveC) == before) << "a dry run changed a file";

    // What is done is told on the standard output, what is refused on the error stream.
    EXPECT_TRUE(exits(run("fix " + test.arguments), test.status,
                      test.status == 0 ? &CliOutcome::out : &CliOutcome::err, test.said));
    test.check(*this);
    if (test.status != 0) {
        EXPECT_TRUE(snapshot(driveC) == before) << "a refused finding was changed";
        EXPECT_EQ(run("why " + test.arguments).status, 4);
        return;
    }
    EXPECT_EQ(run("why " + test.arguments).status, 0) << run("why").out;

    EXPECT_TRUE(exits(run("undo"), 0, &CliOutcome::out, "Undone: "));
    EXPECT_TRUE(snapshot(driveC) == before) << "undo did not bring every file back byte for byte";
    EXPECT_EQ(run("why " + test.arguments).status, 4);
}

const FixCase kCases[] = {
    {"PolicyFileWrittenByExport",
     [](FixCommand& t) {
         ASSERT_EQ(t.run("impose NoBrowserClose NoPrinting").status, 0);
         fs::create_directories(t.userPolicy().parent_path());
         ASSERT_EQ(t.run("export --policy user " + t.userPolicy().string()).status, 0);
         t.place(t.system32() / "GroupPolicy" / "gpt.ini",
                 "[General]\r\ngPCFunctionalityVersion=2\r\nVersion=65538\r\n");
     },
     "NoBrowserClose", 0, "raise the user version",
     [](FixCommand& t) {
         const std::string left = t.sambaReads(t.userPolicy());
         EXPECT_FALSE(contains(left, "NoBrowserClose")) << left;
         EXPECT_TRUE(contains(left, "NoPrinting|4|1")) << left;
         EXPECT_EQ(readFile(t.system32() / "GroupPolicy" / "gpt.ini"),
                   "[General]\r\ngPCFunctionalityVersion=2\r\nVersion=131074\r\n");
         EXPECT_FALSE(t.value(kCurrentUser, kRestrictionsKey, "NoBrowserClose"));
         EXPECT_TRUE(t.value(kCurrentUser, kRestrictionsKey, "NoPrinting"));
     }},
    {"PolicyFileWrittenBySamba",
     [](FixCommand& t) {
         fs::create_directories(t.userPolicy().parent_path());
         runCommandLine(QUORVANE_SAMBA_POL " write " + t.userPolicy().string(), t.dir_.path());
     },
     "", 0, "2 other records kept",
     [](FixCommand& t) {
         EXPECT_EQ(t.sambaReads(t.userPolicy()),
                   "Software\\Policies\\Other|Keep|1|kept text\n"
                   "Software\\Policies\\Other|Number|4|7\n");
     }},
    {"RunValueInAMachineHiveThatCannotBeWritten",
     [](FixCommand& t) {
         t.put(kLocalMachine, kRunKey, "Relock", sz(relock("NoPrinting")));
         fs::permissions(t.prefix() / "system.reg", fs::perms::all, fs::perm_options::remove);
         fs::permissions(t.prefix() / "system.reg", fs::perms::owner_read, fs::perm_options::add);
     },
     "", 3, "no write access to HKEY_LOCAL_MACHINE",
     [](FixCommand& t) { EXPECT_TRUE(t.value(kLocalMachine, kRunKey, "Relock")); }, true},
    {"StartupItemMovedAside",
     [](FixCommand& t) {
         t.place(t.startup() / "relock.cmd", relock("NoAddressBar", kToolbarsKey) + "\r\n");
         t.place(t.startup() / "notes.txt", "nothing\r\n");
     },
     "NoAddressBar", 0, "move ",
     [](FixCommand& t) {
         EXPECT_FALSE(fs::exists(t.startup() / "relock.cmd"));
         EXPECT_TRUE(fs::exists(t.startup() / "notes.txt"));
         bool kept = false;
         for (const auto& entry :
              fs::recursive_directory_iterator(t.state() / "Quorvane" / "undo")) {
             kept = kept || entry.path().filename() == "relock.cmd";
         }
         EXPECT_TRUE(kept) << "the item was not kept beside the undo entries";
     }},
    {"TaskDisabledInItsSettings",
     [](FixCommand& t) {
         t.place(t.system32() / "Tasks" / "Relock", relockTask("NoPrinting"));
         t.place(t.system32() / "Tasks" / "Other", utf16WithBom("<Task/>"));
     },
     "", 0, "disable the task \\Relock",
     [](FixCommand& t) {
         std::string want = relockTask("NoPrinting");
         const std::string on = utf16WithBom("true").substr(2);
         want.replace(want.find(on), on.size(), utf16WithBom("false").substr(2));
         EXPECT_EQ(readFile(t.system32() / "Tasks" / "Relock"), want);
         EXPECT_EQ(readFile(t.system32() / "Tasks" / "Other"), utf16WithBom("<Task/>"));
     }},
    {"CachedDomainPolicyFileLeftWithItsReason",
     [](FixCommand& t) {
         t.place(t.prefix() / "drive_c" / "ProgramData" / "Microsoft" / "Group Policy" / "History" /
                     "{GPO-1}" / "Machine" / "Registry.pol",
                 diagnosis::writePolicyFile({{u"Software\\Policies\\Microsoft\\Internet "
                                              u"Explorer\\Restrictions",
                                              u"NoPrinting", 4, dword(1).bytes}}));
     },
     "", 3, "a cached copy of a domain's policy", [](FixCommand&) {}},
    {"DomainMarkLeftWithItsReason",
     [](FixCommand& t) {
         const std::string history =
             "Software\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\History\\{35}\\0";
         t.put(kLocalMachine, history, "Link", sz("LDAP://DC=corp"));
     },
     "", 3, "ask the domain's administrator", [](FixCommand&) {}},
    {"WinlogonUserinitLeftWithItsReason",
     [](FixCommand& t) {
         t.place(t.prefix() / "drive_c" / "relock.cmd", relock("NoPrinting") + "\r\n");
         t.put(kLocalMachine, kWinlogonKey, "Userinit",
               sz("C:\\windows\\system32\\userinit.exe,C:\\relock.cmd"));
     },
     "", 3, "stops anyone from logging on",
     [](FixCommand& t) { EXPECT_TRUE(t.value(kLocalMachine, kWinlogonKey, "Userinit")); }},
};

INSTANTIATE_TEST_SUITE_P(Findings, FixCommand, ::testing::ValuesIn(kCases), CaseName());

// A startup item moved aside whose name something else has taken since (a new file, a FIFO, a
// link to a file elsewhere) stays where it was moved; undo says so, and what took the name is
// left as it is, without being read or followed.
TEST_F(FixCommand, UndoLeavesAMovedItemWhoseNameIsTakenAgain) {
    const fs::path name = startup() / "relock.cmd";
    const fs::path outside = dir_.path() / "outside.txt";
    writeFile(outside, "outside\n");
    const std::vector<std::pair<const char*, std::function<void()>>> takers = {
        {"a new file", [&] { writeFile(name, "echo new\r\n"); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(name.c_str(), 0644), 0); }},
        {"a link", [&] { fs::create_symlink(outside, name); }},
    };
    for (const auto& [what, take] : takers) {
        SCOPED_TRACE(what);
        place(name, relock("NoPrinting") + "\r\n");
        ASSERT_EQ(run("fix").status, 0);
        take();
        const auto taken = fs::symlink_status(name).type();
        EXPECT_TRUE(exits(run("undo"), 3, &CliOutcome::err, "move back"));
        EXPECT_EQ(fs::symlink_status(name).type(), taken);
        EXPECT_EQ(readFile(outside), "outside\n");
        fs::remove(name);
    }
}

}  // namespace
}  // namespace quorvane::testing
