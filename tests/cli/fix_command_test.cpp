// quorvane-cli fix on a prefix with one kind of finding at a time, beside things that must stay:
// a dry run changes nothing; fix stops what it may (then why exits 0) and leaves the rest
// untouched, or refuses with its reason; undo brings every file back byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "diagnosis/policy_file.h"
#include "tests/cli/cli_scene.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using platform::kCurrentUser;
using platform::kLocalMachine;

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

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

class FixCommand : public ::testing::TestWithParam<FixCase>, public CliScene {
public:
    FixCommand() {
        fs::create_directories(system32() / "Tasks");
        fs::create_directories(startup());
    }

    fs::path startup() const {
        return prefix() / "drive_c" / "users" / "tester" / "AppData" / "Roaming" / "Microsoft" /
               "Windows" / "Start Menu" / "Programs" / "Startup";
    }
    fs::path userPolicy() const { return system32() / "GroupPolicy" / "User" / "Registry.pol"; }

    void place(const fs::path& file, const std::string& bytes) const {
        fs::create_directories(file.parent_path());
        writeFile(file, bytes);
    }
    bool has(platform::KeyHandle root, const std::string& key, const std::string& name) const {
        return value(root, key, name).has_value();
    }

    // Every file of the prefix but the hives, with its bytes.
    std::map<fs::path, std::string> files() const {
        std::map<fs::path, std::string> all;
        for (const auto& entry : fs::recursive_directory_iterator(prefix() / "drive_c")) {
            if (entry.is_regular_file()) {
                all[entry.path()] = readFile(entry.path());
            }
        }
        return all;
    }

    // What Samba's policy reader finds in `file`, one record a line.
    std::string sambaReads(const fs::path& file) const {
        return runCommandLine(QUORVANE_SAMBA_POL " read " + file.string(), dir_.path()).out;
    }
};

// A task that sets a restriction again, enabled in its settings.
std::string task() {
    return utf16WithBom(
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\">\r\n"
        "  <Settings>\r\n    <Enabled>true</Enabled>\r\n  </Settings>\r\n"
        "  <Actions><Exec><Command>reg</Command><Arguments>add \"HKCU\\Software\\Policies\\"
        "Microsoft\\Internet Explorer\\Restrictions\" /v NoPrinting /d 1 /f</Arguments></Exec>"
        "</Actions>\r\n</Task>\r\n");
}

TEST_P(FixCommand, StopsWhatItMayAndUndoPutsItBack) {
    const FixCase& test = GetParam();
    test.set(*this);
    const auto before = files();
    const CliOutcome dry = run("fix --dry-run " + test.arguments);
    EXPECT_EQ(dry.status, test.refusedLate ? 0 : test.status) << dry.out << dry.err;
    EXPECT_TRUE(files() == before) << "a dry run changed a file";

    const CliOutcome fixed = run("fix " + test.arguments);
    EXPECT_EQ(fixed.status, test.status) << fixed.out << fixed.err;
    EXPECT_TRUE(contains(fixed.out + fixed.err, test.said)) << fixed.out << fixed.err;
    test.check(*this);
    if (test.status != 0) {
        EXPECT_TRUE(files() == before) << "a refused finding was changed";
        EXPECT_EQ(run("why " + test.arguments).status, 4);
        return;
    }
    EXPECT_EQ(run("why " + test.arguments).status, 0) << run("why").out;

    const CliOutcome undone = run("undo");
    EXPECT_EQ(undone.status, 0) << undone.out << undone.err;
    EXPECT_TRUE(files() == before) << "undo did not bring every file back byte for byte";
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
         EXPECT_FALSE(t.has(kCurrentUser, kRestrictionsKey, "NoBrowserClose"));
         EXPECT_TRUE(t.has(kCurrentUser, kRestrictionsKey, "NoPrinting"));
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
         t.put(kLocalMachine, kRun, "Relock", sz(relock("NoPrinting")));
         fs::permissions(t.prefix() / "system.reg", fs::perms::all, fs::perm_options::remove);
         fs::permissions(t.prefix() / "system.reg", fs::perms::owner_read, fs::perm_options::add);
     },
     "", 3, "no write access to HKEY_LOCAL_MACHINE",
     [](FixCommand& t) { EXPECT_TRUE(t.has(kLocalMachine, kRun, "Relock")); }, true},
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
              fs::recursive_directory_iterator(t.dir_.path() / "state" / "Quorvane" / "undo")) {
             kept = kept || entry.path().filename() == "relock.cmd";
         }
         EXPECT_TRUE(kept) << "the item was not kept beside the undo entries";
     }},
    {"TaskDisabledInItsSettings",
     [](FixCommand& t) {
         t.place(t.system32() / "Tasks" / "Relock", task());
         t.place(t.system32() / "Tasks" / "Other", utf16WithBom("<Task/>"));
     },
     "", 0, "disable the task \\Relock",
     [](FixCommand& t) {
         std::string want = task();
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
         t.put(kLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
               "Userinit", sz("C:\\windows\\system32\\userinit.exe,C:\\relock.cmd"));
     },
     "", 3, "stops anyone from logging on",
     [](FixCommand& t) {
         EXPECT_TRUE(t.has(kLocalMachine,
                           "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                           "Userinit"));
     }},
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
        const CliOutcome undone = run("undo");
        EXPECT_EQ(undone.status, 3) << undone.out << undone.err;
        EXPECT_TRUE(contains(undone.out + undone.err, "move back")) << undone.out << undone.err;
        EXPECT_EQ(fs::symlink_status(name).type(), taken);
        EXPECT_EQ(readFile(outside), "outside\n");
        fs::remove(name);
    }
}

}  // namespace
}  // namespace quorvane::testing
