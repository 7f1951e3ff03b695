// The diagnosis on a Wine prefix laid out as Windows lays out its folders, built by the test:
// each thing that sets a restriction again is found where Windows keeps it and attributed to the
// right restriction; a clean prefix reports nothing. Then each reader of a place on its own.
#include "diagnosis/diagnosis.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "diagnosis/shell_link.h"
#include "journal/startup_keys.h"
#include "tests/diagnosis/prefix_rig.h"
#include "tests/support/contains.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

// One thing in each place that can set a restriction again, all in one prefix, beside what each
// reader must pass over: each is found once, attributed to its restriction, and nothing else is;
// the other startup items are listed as written.
TEST_F(PrefixDiagnosis, LooksInEveryPlace) {
    const fs::path pub = driveC() / "users" / "Public";
    const fs::path local = driveC() / "users" / "tester" / "AppData" / "Local";
    testing::writeFile(
        pub / "lock.reg",
        restrictionsRegFile("\"NoViewSource\"=dword:00000001\r\n\"NoPrinting\"=-\r\n"));
    const auto task = [](const std::string& settings, const std::string& actions) {
        return utf16WithBom(
            "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\" "
            "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">" +
            settings + "<Actions Context=\"Author\">" + actions + "</Actions></Task>");
    };
    // A task that imports C:\users\Public\lock.reg with the registry editor. A trigger of its own
    // may be disabled, the task still runs by the others; an element without its end tag is
    // empty. A disabled task runs nothing.
    const std::string import =
        "<Exec><Command>regedit</Command><Arguments>/s lock.reg</Arguments><WorkingDirectory>"
        "C:\\users\\Public</WorkingDirectory></Exec>";
    place(system32() / "Tasks" / "Vendor" / "Relock",
          task("<Triggers><BootTrigger><Enabled>false</Enabled></BootTrigger><LogonTrigger/>"
               "</Triggers>",
               import + "<Exec><Command>tray.exe</Command><Arguments>/x</Exec>"));
    testing::writeFile(system32() / "Tasks" / "Off",
                       task("<Settings><Enabled>false</Enabled></Settings>", import));
    setRunEntry("Tool", "\"C:\\Program Files\\Tool\\tool.exe\" --tray");
    testing::writeFile(pub / "relock.cmd",
                       "@echo off\r\n" + testing::relock("NoFavorites") + "\r\n");
    {
        platform::HiveStore store(prefix());
        const auto put = [&](platform::KeyHandle root, const std::string& key, const char* name,
                             const std::string& text) {
            testing::put(store, root, key, name, testing::sz(text));
        };
        const std::string windows = "Software\\Microsoft\\Windows\\CurrentVersion\\";
        put(platform::kLocalMachine, windows + "RunOnce", "Once", "regini C:\\setup.ini");
        put(platform::kCurrentUser,
            "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", "Shell32",
            "powershell Set-ItemProperty 'HKCU:\\Software\\Policies\\Microsoft\\Internet "
            "Explorer\\Restrictions' -Name NoFileNew -Value 1");
        put(platform::kLocalMachine, windows + "Policies\\Explorer\\Run", "Import",
            "cmd /c reg import C:\\users\\Public\\lock.reg");
        // Winlogon's Userinit and Shell run; no other value of its key does.
        const std::string winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
        put(platform::kLocalMachine, winlogon, "Userinit",
            "C:\\windows\\system32\\userinit.exe,C:\\users\\Public\\relock.cmd");
        put(platform::kCurrentUser, winlogon, "Userinit", "C:\\windows\\system32\\userinit.exe,");
        put(platform::kLocalMachine, winlogon, "Other", testing::relock("NoPrinting"));
        // Policy objects linked from a directory, in either hive; not the local ones.
        const std::string history = windows + "Group Policy\\History\\{35378EAC}\\";
        put(platform::kLocalMachine, history + "0", "Link",
            "LDAP://CN=Policies,DC=corp,DC=example");
        put(platform::kLocalMachine, history + "0", "DisplayName", "Default Domain Policy");
        put(platform::kLocalMachine, history + "1", "Link", "Local");
        put(platform::kLocalMachine, history + "1", "DisplayName", "Local Group Policy");
        put(platform::kCurrentUser, history + "2", "Link", "ldap://CN=User");
    }
    // A Startup folder runs each file as the shell opens it: a registry file is imported, a
    // script's commands run; desktop.ini is the folder's own.
    testing::writeFile(startup() / "relock2.cmd",
                       testing::relock("NoAddressBar", testing::kToolbarsKey) + "\r\n");
    testing::writeFile(startup() / "lock.reg",
                       restrictionsRegFile("\"NoFileOpen\"=dword:00000001\r\n"));
    testing::writeFile(startup() / "desktop.ini", "[.ShellClassInfo]\r\n");
    testing::writeFile(startup() / "tray.bat", "start tray.exe\r\n");
    testing::writeFile(startup() / "tray.lnk", shellLink("C:\\tray.exe", "", "/x", false));
    // A shortcut (its extension in any case) runs the registry editor on a file of its working
    // folder.
    place(driveC() / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs" /
              "StartUp" / "lock.LNK",
          shellLink("C:\\Windows\\regedit.exe", "C:\\users\\Public", "/s lock.reg", true));
    const fs::path history = fs::path("Microsoft") / "Group Policy" / "History";
    place(system32() / "GroupPolicyUsers" / "S-1-5-21-1" / "User" / "Registry.pol",
          policyFile(kToolbars, u"NoToolBar"));
    place(driveC() / "ProgramData" / history / "{GPO-1}" / "Machine" / "Registry.pol",
          policyFile(kToolbars, u"NoLinksBar"));
    place(local / history / "{GPO-2}" / "S-1-5-21-1" / "User" / "Registry.pol",
          policyFile(kRestrictions, u"RestGoMenu"));
    place(system32() / "GroupPolicy" / "User" / "Registry.pol",
          policyFile(kRestrictions, u"**del.NoPrinting"));

    struct Expected {
        Source source;
        const char* where;  // a part of the place or the item
        std::vector<int> restrictions;
        const char* command = nullptr;  // as shown, where it matters
    };
    const Expected expected[] = {
        {Source::RegistryStartup, "Once", {}},
        {Source::ScheduledTask, "\\Vendor\\Relock", {17}, "regedit /s lock.reg"},
        {Source::RegistryStartup, "Shell32", {9}},
        {Source::RegistryStartup, "Import", {17}},
        // Shown as the value holds it, though each program is read on its own.
        {Source::RegistryStartup,
         "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon|Userinit",
         {8},
         "C:\\windows\\system32\\userinit.exe,C:\\users\\Public\\relock.cmd"},
        {Source::DomainPolicy, "Default Domain Policy", {}},
        {Source::DomainPolicy,
         "(unnamed policy object)",
         {},
         "applied by a domain from ldap://CN=User"},
        {Source::StartupFolder, "relock2.cmd", {20}},
        {Source::StartupFolder, "|lock.reg", {10}},
        {Source::StartupFolder, "lock.LNK", {17}, "C:\\Windows\\regedit.exe /s lock.reg"},
        {Source::PolicyFile, "GroupPolicyUsers", {21}},
        {Source::PolicyFile, "{GPO-1}", {22}},
        {Source::PolicyFile, "{GPO-2}", {18}},
    };
    const Report report = diagnoseWith();
    for (const Expected& want : expected) {
        const auto isWanted = [&](const Finding& finding) {
            return finding.source == want.source &&
                   (finding.where + "|" + finding.item).find(want.where) != std::string::npos;
        };
        const auto& found = report.returning;
        ASSERT_EQ(std::count_if(found.begin(), found.end(), isWanted), 1) << want.where << '\n'
                                                                          << formatReport(report);
        const Finding& finding = *std::find_if(found.begin(), found.end(), isWanted);
        EXPECT_EQ(finding.restrictions, want.restrictions) << want.where;
        if (want.command != nullptr) {
            EXPECT_EQ(finding.command, want.command);
        }
    }
    EXPECT_EQ(report.returning.size(), std::size(expected)) << formatReport(report);
    // Nothing more from the prefix itself: no restriction in force, and every place was read.
    EXPECT_TRUE(report.states.empty() && report.notes.empty()) << formatReport(report);
    // Asked about one restriction, the report keeps what sets it or may set any, and its state.
    const Report one = diagnoseWith({17});
    EXPECT_EQ(one.returning.size(), 6u) << formatReport(one);
    ASSERT_EQ(one.states.size(), 1u);
    EXPECT_EQ(one.states.front().number, 17);
    std::vector<std::string> others;
    for (const Finding& finding : report.otherStartupItems) {
        others.push_back(finding.item + " = " + finding.command);
    }
    // The prefix's own machine Shell among them; Windows' trailing comma kept.
    EXPECT_EQ(others, (std::vector<std::string>{
                          "Tool = \"C:\\Program Files\\Tool\\tool.exe\" --tray",
                          "Userinit = C:\\windows\\system32\\userinit.exe,", "Shell = explorer.exe",
                          "tray.bat = tray.bat", "tray.lnk = C:\\tray.exe /x",
                          "\\Vendor\\Relock = tray.exe"}));
    for (const Finding& finding : report.returning) {
        if (finding.source == Source::PolicyFile) {
            const bool machine = finding.where.find("Machine") != std::string::npos;
            EXPECT_TRUE(testing::contains(finding.command,
                                          machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"))
                << finding.where << ": " << finding.command;
        }
    }
}

// Files written by anyone: a Registry.pol whose size runs past its end, a task file that is not
// XML, a startup script that is binary noise. The records before the damage count.
TEST_F(PrefixDiagnosis, DamagedFilesAreReportedNotTrusted) {
    std::string damaged =
        policyFile(kRestrictions, u"NoPrinting") + policyFile(u"K", u"V").substr(8);
    damaged[damaged.size() - 9] = '\x7F';  // the second record's size: far past the end
    place(system32() / "GroupPolicy" / "User" / "Registry.pol", damaged);
    testing::writeFile(system32() / "Tasks" / "Noise", std::string("\0\xFF\xFE<Ta", 7));
    testing::writeFile(startup() / "noise.cmd", std::string(4096, '\xFF'));

    const Report report = diagnoseWith();
    ASSERT_EQ(report.returning.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.returning.front().restrictions, std::vector<int>{14});
    ASSERT_EQ(report.notes.size(), 1u) << formatReport(report);
    EXPECT_TRUE(testing::contains(report.notes.front(), "runs past the end"));
    EXPECT_FALSE(testing::contains(formatReport(report), "may set any"))
        << "noise.cmd sets nothing";
}

// What the report shows of a startup script: the statements that set restrictions, with no raw
// control character and not the whole script.
TEST_F(PrefixDiagnosis, ReportShowsNoRawControlCharacters) {
    testing::writeFile(startup() / "x.bat", "@echo off\r\necho \x1b[2Jhello\r\n" +
                                                testing::relock("NoFileNew") + "\r\n");
    setRunEntry("Bell\a", testing::relock("NoPrinting") + "\r\x1b]0;title\a\x7F\xC2\x9F");
    const Report report = diagnoseWith();
    const std::string text = formatReport(report);
    EXPECT_EQ(std::count_if(text.begin(), text.end(),
                            [](char c) { return c != '\n' && (c < 0x20 || c == 0x7F); }),
              0)
        << text;
    EXPECT_FALSE(testing::contains(text, "hello")) << text;
    EXPECT_TRUE(testing::contains(text, "x.bat: " + testing::relock("NoFileNew"))) << text;
    EXPECT_TRUE(testing::contains(text, "Bell\\x07")) << text;
    EXPECT_TRUE(testing::contains(text, "title\\x07\\x7F\\u009F")) << text;  // a C1 control too
}

// Walks stop at their bound and say so.
TEST_F(PrefixDiagnosis, SaysWhereItStoppedAtALimit) {
    // Links to one file: a new file each would take the file system much longer.
    testing::writeFile(system32() / "Tasks" / "t", "");
    for (int i = 0; i < 10'000; ++i) {
        fs::create_hard_link(system32() / "Tasks" / "t", system32() / "Tasks" / std::to_string(i));
    }
    // A command is shown as far as 400 bytes.
    const std::string command = testing::relock("NoPrinting") + " " + std::string(1000, 'x');
    setRunEntry("Long", command);
    const Report report = diagnoseWith();
    ASSERT_EQ(report.notes.size(), 1u) << formatReport(report);
    EXPECT_TRUE(testing::contains(report.notes[0], "more than 10000 entries"));
    EXPECT_TRUE(testing::contains(
        formatReport(report),
        "x [... " + std::to_string(command.size() - 400) + " more characters]\n"));
}

// The startup keys' reader, and what the registry files their commands import put in force.

// Registry files a startup command imports count for the values they put in force only. (One
// that sets a value and deletes another: the prefix every place is looked in.)
TEST_F(PrefixDiagnosis, ImportedRegistryFilesCountOnlyWhatTheyPutInForce) {
    const struct {
        const char* what;
        const char* lines;  // below the Restrictions key
        std::vector<int> restrictions;
        bool returns;
    } cases[] = {
        {"negative", "\"NoBrowserClose\"=dword:ffffffff\r\n", {}, false},
        {"text one", "\"NoBrowserClose\"=\"1\"\r\n", {4}, true},
        {"other value", "\"NoBrowserCloseX\"=dword:00000001\r\n", {}, false},
        {"name inside a name", "\"XNoBrowserClose\"=dword:00000001\r\n", {}, false},
        {"other key",
         "[HKEY_CURRENT_USER\\Software\\Acme]\r\n\"NoBrowserClose\"=dword:00000001\r\n",
         {},
         false},
        {"a user s key",
         "[HKEY_USERS\\S-1-5-21-7\\Software\\Policies\\Microsoft\\Internet "
         "Explorer\\Restrictions]\r\n\"NoBrowserClose\"=dword:00000001\r\n",
         {4},
         true},
        {"not a registry file", "garbage\r\n", {}, true},
    };
    setRunEntry("Import", "regedit /s C:\\users\\Public\\x.reg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::writeFile(driveC() / "users" / "Public" / "x.reg", restrictionsRegFile(c.lines));
        const Report report = diagnoseWith();
        ASSERT_EQ(report.somethingReturns(), c.returns) << formatReport(report);
        if (c.returns) {
            EXPECT_EQ(report.returning[0].restrictions, c.restrictions);
        }
    }
}

// Every startup key of both hives is read, in order; a value that holds no text runs nothing.
TEST_F(PrefixDiagnosis, ReadsEveryStartupKeyOfBothHives) {
    {
        platform::HiveStore store(prefix());
        for (const journal::StartupKey& key : journal::kStartupKeys) {
            // A command is held as REG_SZ or as REG_EXPAND_SZ.
            const auto type =
                key.root == platform::kLocalMachine ? platform::kRegExpandSz : platform::kRegSz;
            testing::put(store, key.root, key.subKey, "Relock",
                         {type, testing::sz(testing::relock("NoPrinting")).bytes});
            testing::put(store, key.root, key.subKey, "Number", testing::dword(1));
        }
    }
    const Findings found = readWith(readStartupKeys);
    ASSERT_EQ(found.setting.size(), std::size(journal::kStartupKeys));
    for (std::size_t i = 0; i < found.setting.size(); ++i) {
        const journal::StartupKey& key = journal::kStartupKeys[i];
        const std::string hive =
            key.root == platform::kLocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\";
        EXPECT_EQ(found.setting[i].where, hive + key.subKey);
        EXPECT_EQ(found.setting[i].restrictions, std::vector<int>{14});
    }
    EXPECT_TRUE(found.others.empty());
}

// The policy files' reader: a record counts when it stores a restriction's value, named exactly
// as the restriction's value (in any letter case), with data that puts it in force. Which key
// views and data put a restriction in force is the rule every reader shares, held in the command
// table and the imported registry files' table.

TEST_F(PrefixDiagnosis, PolicyFilesCountRecordsThatPutARestrictionInForce) {
    const struct {
        const char* what;
        std::u16string key;
        std::u16string value;
        std::vector<int> restrictions;
        std::uint32_t data = 1;
    } cases[] = {
        {"exact name", kToolbars, u"NoToolBar", {21}},
        {"any letter case", kToolbars, u"notoolbar", {21}},
        {"unless present", kToolbars, u"**soft.NoToolBar", {21}},
        {"key with empty names", u"\\" + kToolbars + u"\\", u"NoToolBar", {21}},
        {"name ends the word", kToolbars, u"NoToolbarOptions", {19}},
        {"name starts the word", kToolbars, u"XNoToolBar", {}},
        {"deletion", kToolbars, u"**del.NoToolBar", {}},
        {"zero", kToolbars, u"NoToolBar", {}, 0},
        {"other key", kRestrictions, u"NoToolBar", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        place(system32() / "GroupPolicy" / "Machine" / "Registry.pol",
              writePolicyFile({{c.key, c.value, 4, formats::dwordBytes(c.data)}}));
        const Findings found = readWith(readPolicyFiles);
        ASSERT_EQ(found.setting.size(), c.restrictions.empty() ? 0u : 1u);
        if (!c.restrictions.empty()) {
            EXPECT_EQ(found.setting[0].restrictions, c.restrictions);
            EXPECT_TRUE(
                testing::contains(found.setting[0].command, "= 1 in HKEY_LOCAL_MACHINE\\Software"))
                << found.setting[0].command;
        }
    }
}

// Shortcuts in the Startup folders, read by their structure: what they run, and what the reader
// refuses.

// A shortcut is read by its structure, ANSI or Unicode, its counted strings short or long; cut
// short anywhere before its optional trailer, or with an offset past its link info, it is
// refused, never read past its end.
TEST(ShellLinkReading, ReadsWholeLinksAndRefusesCutShortOnesAndOffsetsPastTheirPart) {
    for (bool unicode : {false, true}) {
        for (std::size_t length : {3, 40, 300}) {
            SCOPED_TRACE(std::to_string(length) + (unicode ? " unicode" : " ansi"));
            const std::string arguments = "/s " + std::string(length - 3, 'a');
            const std::string link = shellLink("C:\\x.exe", "C:\\", arguments, unicode);
            const auto whole = readShellLink(link);
            ASSERT_TRUE(whole) << whole.failure().reason;
            EXPECT_EQ(whole->commandLine(), "C:\\x.exe " + arguments);
            EXPECT_EQ(whole->workingFolder, "C:\\");
            for (std::size_t size = 0; size + 4 < link.size(); ++size) {
                EXPECT_FALSE(readShellLink(link.substr(0, size))) << size;
            }
        }
        std::string wrong = shellLink("C:\\x.exe", "C:\\", "/s a.reg", unicode);
        // The offset of the local base path (UTF-16 in a Unicode link info) in the link info
        // after the header and the 24 bytes of the ID list.
        wrong[0x4C + 24 + (unicode ? 0x1C : 0x10)] = '\x7F';
        EXPECT_FALSE(readShellLink(wrong));
    }
}

// A shortcut without link info names its target in the environment-variables block, after any
// other block; its Unicode text is taken before the ANSI one.
TEST(ShellLinkReading, TakesTheTargetFromTheEnvironmentBlock) {
    std::string header = shellLink("C:\\x.exe", "", "", false).substr(0, 0x4C);
    header.replace(0x14, 4, little(0x20, 4));  // arguments only
    const auto link = [&](const std::string& ansi, const std::string& wide) {
        return header + little(8, 2) + "/s a.reg" + little(12, 4) + little(0xA0000003, 4) +
               little(0, 4) + little(0x314, 4) + little(0xA0000001, 4) + ansi +
               std::string(260 - ansi.size(), '\0') + wide + std::string(520 - wide.size(), '\0') +
               little(0, 4);
    };
    const auto wide =
        readShellLink(link("%windir%\\a.exe", utf16WithBom("%windir%\\b.exe").substr(2)));
    ASSERT_TRUE(wide) << wide.failure().reason;
    EXPECT_EQ(wide->commandLine(), "%windir%\\b.exe /s a.reg");
    EXPECT_EQ(readShellLink(link("%windir%\\a.exe", ""))->target, "%windir%\\a.exe");
}

}  // namespace
}  // namespace quorvane::diagnosis
