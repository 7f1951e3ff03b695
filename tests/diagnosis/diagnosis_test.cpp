// The diagnosis on a Wine prefix laid out as Windows lays out its folders, built by the test:
// each thing that sets a restriction again is found where Windows keeps it and attributed to the
// right restriction; a clean prefix reports nothing.
#include "diagnosis/diagnosis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <variant>

#include "diagnosis/command_scan.h"
#include "diagnosis/policy_file.h"
#include "diagnosis/shell_link.h"
#include "diagnosis/text_scan.h"
#include "platform/hive_store.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::diagnosis {
namespace {

namespace fs = std::filesystem;
using Source = Finding::Source;
using testing::utf16WithBom;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string dwordBytes(std::uint32_t value) {
    return testing::dword(value).bytes;
}

// A Registry.pol that sets `value` of `key` to 1.
std::string policyFile(const std::u16string& key, const std::u16string& value) {
    return writePolicyFile({{key, value, 4, dwordBytes(1)}});
}

// Writes `content` to `file`, making its folders.
void place(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    testing::writeFile(file, content);
}

// Shortcuts as Windows writes them: header, a target ID list, link info with the target's path,
// then counted strings (working folder, arguments) in ANSI or UTF-16.
std::string little(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    return out;
}

std::string shellLink(const std::string& target, const std::string& folder,
                      const std::string& arguments, bool unicode) {
    const auto text = [&](const std::string& ascii) {
        return unicode ? utf16WithBom(ascii).substr(2) : ascii;
    };
    const auto counted = [&](const std::string& ascii) {
        return little(static_cast<std::uint32_t>(ascii.size()), 2) + text(ascii);
    };
    const std::uint32_t flags = 0x1 | 0x2 | 0x10 | 0x20 | (unicode ? 0x80 : 0);
    const std::string header =
        little(0x4C, 4) +
        std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16) +
        little(flags, 4) + little(0x20, 4) + std::string(24, '\0') + little(0, 4) + little(0, 4) +
        little(1, 4) + std::string(12, '\0');
    // One item (My Computer's class identifier), then the terminating empty item.
    const std::string idList = little(20, 2) + "\x1F\x50" + std::string(16, '\x20') + little(0, 2);
    const std::uint32_t headerSize = unicode ? 0x24 : 0x1C;
    const std::string volume =
        little(0x11, 4) + little(3, 4) + little(0x1234, 4) + little(0x10, 4) + std::string(1, '\0');
    const std::uint32_t base = headerSize + static_cast<std::uint32_t>(volume.size());
    const std::uint32_t suffix = base + static_cast<std::uint32_t>(target.size()) + 1;
    std::string body = volume + target + std::string(2, '\0');
    std::string offsets =
        little(1, 4) + little(headerSize, 4) + little(base, 4) + little(0, 4) + little(suffix, 4);
    if (unicode) {
        offsets += little(suffix + 1, 4) +
                   little(suffix + 1 + 2 * static_cast<std::uint32_t>(target.size() + 1), 4);
        body += text(target) + std::string(4, '\0');
    }
    const std::string info =
        little(static_cast<std::uint32_t>(8 + offsets.size() + body.size()), 4) +
        little(headerSize, 4) + offsets + body;
    return header + little(static_cast<std::uint32_t>(idList.size()), 2) + idList + info +
           counted(folder) + counted(arguments) + little(0, 4);
}

class PrefixDiagnosis : public ::testing::Test {
protected:
    PrefixDiagnosis() {
        fs::create_directories(system32() / "Tasks");
        fs::create_directories(driveC() / "users" / "Public");
        fs::create_directories(startup());
        testing::copyFixtureHives(prefix());
    }

    fs::path prefix() const { return dir_.path() / "prefix"; }
    fs::path driveC() const { return prefix() / "drive_c"; }
    fs::path system32() const { return driveC() / "windows" / "system32"; }
    fs::path startup() const {
        return driveC() / "users" / "tester" / "AppData" / "Roaming" / "Microsoft" / "Windows" /
               "Start Menu" / "Programs" / "Startup";
    }

    Report diagnoseWith(const std::vector<int>& numbers = {}) {
        platform::HiveStore store(prefix());
        registry::General2 general(store, messages_);
        return diagnose(store, general,
                        placesOf({platform::RegistryLocation::Kind::WinePrefix, prefix()}),
                        numbers);
    }

    void setRunEntry(const std::string& name, const std::string& command) {
        platform::HiveStore store(prefix());
        testing::put(store, platform::kCurrentUser, kRunKey, name, testing::sz(command));
    }

    testing::TempDir dir_;
    testing::RecordingMessageBox messages_;
};

// One thing in each place that can set a restriction again, all in one prefix: each is found
// once, attributed to its restriction, and nothing else is.
TEST_F(PrefixDiagnosis, LooksInEveryPlace) {
    const fs::path pub = driveC() / "users" / "Public";
    const fs::path local = driveC() / "users" / "tester" / "AppData" / "Local";
    testing::writeFile(pub / "lock.reg",
                       utf16WithBom("Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\"
                                    "Internet Explorer\\Restrictions]\r\n"
                                    "\"NoViewSource\"=dword:00000001\r\n"
                                    "\"NoPrinting\"=-\r\n"));
    // A scheduled task that imports C:\users\Public\lock.reg with the registry editor.
    testing::writeFile(
        system32() / "Tasks" / "Relock",
        utf16WithBom("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\" "
                     "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
                     "<Actions Context=\"Author\"><Exec><Command>regedit</Command>"
                     "<Arguments>/s lock.reg</Arguments><WorkingDirectory>C:\\users\\Public"
                     "</WorkingDirectory></Exec></Actions></Task>"));
    setRunEntry("Tool", "\"C:\\Program Files\\Tool\\tool.exe\" --tray");
    testing::writeFile(pub / "relock.cmd",
                       "@echo off\r\nreg add HKCU\\Software\\Policies /v NoFavorites /d 1 /f\r\n");
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
            "powershell Set-ItemProperty HKCU:\\X -Name NoFileNew -Value 1");
        put(platform::kLocalMachine, windows + "Policies\\Explorer\\Run", "Import",
            "cmd /c reg import C:\\users\\Public\\lock.reg");
        put(platform::kLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
            "Userinit", "C:\\windows\\system32\\userinit.exe,C:\\users\\Public\\relock.cmd");
        const std::string history = windows + "Group Policy\\History\\{35378EAC}\\";
        put(platform::kLocalMachine, history + "0", "Link",
            "LDAP://CN=Policies,DC=corp,DC=example");
        put(platform::kLocalMachine, history + "0", "DisplayName", "Default Domain Policy");
        put(platform::kLocalMachine, history + "1", "Link", "Local");
        put(platform::kLocalMachine, history + "1", "DisplayName", "Local Group Policy");
    }
    testing::writeFile(startup() / "relock2.cmd",
                       "reg add HKCU\\Software\\Policies /v NoAddressBar /d 1 /f\r\n");
    place(driveC() / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs" /
              "StartUp" / "lock.lnk",
          shellLink("C:\\Windows\\regedit.exe", "", "/s C:\\users\\Public\\lock.reg", true));
    const std::u16string restrictionsKey =
        u"Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
    const std::u16string toolbarsKey =
        u"Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars\\Restrictions";
    const fs::path history = fs::path("Microsoft") / "Group Policy" / "History";
    place(system32() / "GroupPolicyUsers" / "S-1-5-21-1" / "User" / "Registry.pol",
          policyFile(toolbarsKey, u"NoToolBar"));
    place(driveC() / "ProgramData" / history / "{GPO-1}" / "Machine" / "Registry.pol",
          policyFile(toolbarsKey, u"NoLinksBar"));
    place(local / history / "{GPO-2}" / "S-1-5-21-1" / "User" / "Registry.pol",
          policyFile(restrictionsKey, u"RestGoMenu"));
    place(system32() / "GroupPolicy" / "User" / "Registry.pol",
          policyFile(restrictionsKey, u"**del.NoPrinting"));

    struct Expected {
        Source source;
        const char* where;  // a part of the place or the item
        std::vector<int> restrictions;
    };
    const Expected expected[] = {
        {Source::RegistryStartup, "Once", {}},
        {Source::ScheduledTask, "\\Relock", {17}},  // read from lock.reg
        {Source::RegistryStartup, "Shell32", {9}},
        {Source::RegistryStartup, "Import", {17}},
        {Source::RegistryStartup, "Userinit", {8}},
        {Source::DomainPolicy, "Default Domain Policy", {}},
        {Source::StartupFolder, "relock2.cmd", {20}},
        {Source::StartupFolder, "lock.lnk", {17}},
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
        EXPECT_EQ(std::find_if(found.begin(), found.end(), isWanted)->restrictions,
                  want.restrictions)
            << want.where;
    }
    EXPECT_EQ(report.returning.size(), std::size(expected)) << formatReport(report);
    EXPECT_TRUE(std::any_of(report.otherStartupItems.begin(), report.otherStartupItems.end(),
                            [](const Finding& f) { return f.item == "Tool"; }))
        << formatReport(report);
    for (const Finding& finding : report.returning) {
        if (finding.source == Source::PolicyFile) {
            const bool machine = finding.where.find("Machine") != std::string::npos;
            EXPECT_TRUE(testing::contains(finding.command,
                                          machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"))
                << finding.where << ": " << finding.command;
        }
    }
}

TEST_F(PrefixDiagnosis, AskingForOneRestrictionKeepsWhatSetsIt) {
    setRunEntry("Relock", "reg add HKCU\\Software\\Policies /v NoBrowserClose /d 1 /f");
    place(system32() / "GroupPolicy" / "Machine" / "Registry.pol",
          policyFile(u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                     u"DisableRegistryTools"));
    const Report report = diagnoseWith({23});
    ASSERT_EQ(report.returning.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.returning.front().source, Source::PolicyFile);
    ASSERT_EQ(report.states.size(), 1u);
    EXPECT_EQ(report.states.front().number, 23);
    EXPECT_FALSE(diagnoseWith({1}).somethingReturns());
}

TEST_F(PrefixDiagnosis, CleanPrefixReportsNothing) {
    const Report report = diagnoseWith();
    EXPECT_FALSE(report.somethingReturns()) << formatReport(report);
    EXPECT_TRUE(report.states.empty());
    EXPECT_TRUE(report.notes.empty()) << formatReport(report);
}

// Files written by anyone: a Registry.pol whose size runs past its end, a task file that is not
// XML, a startup script that is binary noise. The records before the damage count.
TEST_F(PrefixDiagnosis, DamagedFilesAreReportedNotTrusted) {
    std::string damaged =
        policyFile(u"Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions",
                   u"NoPrinting") +
        policyFile(u"K", u"V").substr(8);
    damaged[damaged.size() - 9] = '\x7F';  // the second record's size: far past the end
    place(system32() / "GroupPolicy" / "User" / "Registry.pol", damaged);
    testing::writeFile(system32() / "Tasks" / "Noise", std::string("\0\xFF\xFE<Ta", 7));
    testing::writeFile(startup() / "noise.cmd", std::string(4096, '\xFF'));

    const Report report = diagnoseWith();
    ASSERT_EQ(report.returning.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.returning.front().restrictions, std::vector<int>{14});
    ASSERT_EQ(report.notes.size(), 1u) << formatReport(report);
    EXPECT_TRUE(testing::contains(report.notes.front(), "runs past the end"));
}

// What a command line puts in force: only a value of a restriction's exact name written with
// data above 0; deletions, queries, zeros and names inside paths set nothing.
struct Command {
    const char* what;
    const char* command;
    std::vector<int> restrictions;
    bool mayChangeAny = false;
};
class CommandExamination : public ::testing::TestWithParam<Command> {};

TEST_P(CommandExamination, CountsOnlyValuesPutInForce) {
    const CommandFindings found = examineCommand(GetParam().command);
    EXPECT_EQ(found.restrictions, GetParam().restrictions);
    EXPECT_EQ(found.mayChangeAny, GetParam().mayChangeAny);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandExamination,
    ::testing::ValuesIn(std::vector<Command>{
        {"reg add dword 1", "reg add HKCU\\X /v NoBrowserClose /t REG_DWORD /d 1 /f", {4}},
        {"reg exe add text 1", "C:\\Windows\\REG.EXE ADD HKCU\\X /v nobrowserclose /d 1", {4}},
        {"reg add hex", "reg add HKCU\\X /v NoPrinting /t REG_DWORD /d 0x10 /f", {14}},
        {"reg add zero", "reg add HKCU\\X /v NoFileOpen /d 0", {}},
        {"reg add dword zero", "reg add HKCU\\X /v NoFileOpen /t REG_DWORD /d 0x0 /f", {}},
        {"reg add negative", "reg add HKCU\\X /v NoFileOpen /t REG_DWORD /d 4294967295", {}},
        {"reg add no data", "reg add HKCU\\X /v NoFileOpen /f", {}},
        {"reg delete", "reg delete HKCU\\X /v NoFileNew /f", {}},
        {"reg query", "reg query HKCU\\X /v NoFindFiles", {}},
        {"name ends the word", "reg add HKCU\\X /v NoToolbarOptions /t REG_DWORD /d 1", {19}},
        {"name starts the word", "reg add HKCU\\X /v XNoToolBar /t REG_DWORD /d 1", {}},
        {"path is no command", "\"C:\\Program Files\\HomePage Studio\\hps.exe\" --tray", {}},
        {"value name as argument", "rundll32 apply.dll DisableRegistryTools", {}},
        {"echo of a name", "cmd /c echo \"Window Title\"", {}},
        {"window title text",
         "reg add \"HKLM\\Software\\Microsoft\\Internet Explorer\\Main\" /v \"Window Title\" /d "
         "\"Owned\" /f",
         {24}},
        {"statements of a script",
         "@echo off\r\nreg add X /v NoFavorites /d 1 /f & reg delete X /v NoPrinting /f\r\n"
         "reg add X /v NoNavButtons /t REG_DWORD /d 0 /f",
         {8}},
        {"powershell named",
         "powershell -c Set-ItemProperty -Path HKCU:\\S -Name NoViewSource -Value 1",
         {17}},
        {"powershell positional", "powershell Set-ItemProperty HKCU:\\X NoFileNew 1", {9}},
        {"powershell zero", "Set-ItemProperty -Path HKCU:\\X -Name NoFileNew -Value 0", {}},
        {"powershell false", "sp HKCU:\\X NoFileNew $false", {}},
        {"powershell removal", "Remove-ItemProperty -Path HKCU:\\X -Name NoFileNew", {}},
        {"powershell variable data",
         "New-ItemProperty -Path HKCU:\\X -Name NoPrinting -Value $v -PropertyType DWord",
         {14}},
        {"dotnet call",
         "[Microsoft.Win32.Registry]::SetValue('HKEY_CURRENT_USER\\X', "
         "'NoTheaterMode', 1)",
         {16}},
        {"wsh regwrite", "sh.RegWrite \"HKCU\\X\\NoNavButtons\", 1, \"REG_DWORD\"", {12}},
        {"name in a variable", "reg add HKCU\\X /v %NAME% /d 1", {}, true},
        {"regini", "regini policy.ini", {}, true},
    }),
    testing::CaseName());

// The files a command hands on: registry files it imports, scripts it runs, policy files.
struct Files {
    const char* what;
    const char* command;
    std::vector<std::string> files;  // kind letter R, P or S, then the path
};
class NamedFiles : public ::testing::TestWithParam<Files> {};

TEST_P(NamedFiles, AreTheOnesItImportsOrRuns) {
    std::vector<std::string> files;
    for (const NamedFile& file : examineCommand(GetParam().command).files) {
        files.push_back("RPS"[static_cast<int>(file.kind)] + file.path);
    }
    EXPECT_EQ(files, GetParam().files);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, NamedFiles,
    ::testing::ValuesIn(std::vector<Files>{
        {"regedit", "regedit /s \"C:\\My Files\\lock.reg\"", {"RC:\\My Files\\lock.reg"}},
        {"regedit any name", "regedit.exe -s lock.txt", {"Rlock.txt"}},
        {"regedit export", "regedit /e C:\\backup.reg HKEY_CURRENT_USER", {}},
        {"reg import", "reg import C:\\lock.reg", {"RC:\\lock.reg"}},
        {"reg export", "reg export HKCU\\X C:\\backup.reg", {}},
        {"opened registry file", "C:\\lock.reg", {"RC:\\lock.reg"}},
        {"registry file edited", "notepad C:\\lock.reg", {}},
        {"script", "cmd /c C:\\relock.cmd & x.ps1", {"SC:\\relock.cmd", "Sx.ps1"}},
        {"policy file", "lgpo.exe /u C:\\user.pol", {"PC:\\user.pol"}},
    }),
    testing::CaseName());

struct Shortcut {
    const char* what;
    bool unicode;
    std::size_t argumentsLength;
};
class Shortcuts : public PrefixDiagnosis, public ::testing::WithParamInterface<Shortcut> {};

// The registry editor imports a file of the working folder that sets restriction 7.
TEST_P(Shortcuts, AreReadByTheirStructure) {
    const std::string name(GetParam().argumentsLength - 7, 'a');
    place(driveC() / "lock" / (name + ".reg"),
          utf16WithBom("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\"
                       "Policies\\Microsoft\\Internet Explorer\\Restrictions]\r\n"
                       "\"NoBrowserSaveAs\"=dword:00000001\r\n"));
    testing::writeFile(startup() / "lock.lnk",
                       shellLink("C:\\Windows\\regedit.exe", "C:\\lock", "/s " + name + ".reg",
                                 GetParam().unicode));
    const Report report = diagnoseWith();
    ASSERT_EQ(report.returning.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.returning[0].restrictions, std::vector<int>{7}) << formatReport(report);
    EXPECT_EQ(report.returning[0].command, "C:\\Windows\\regedit.exe /s " + name + ".reg");
}

INSTANTIATE_TEST_SUITE_P(Links, Shortcuts,
                         ::testing::ValuesIn(std::vector<Shortcut>{{"ansi 10", false, 10},
                                                                   {"ansi 40", false, 40},
                                                                   {"ansi 200", false, 200},
                                                                   {"unicode 10", true, 10},
                                                                   {"unicode 40", true, 40},
                                                                   {"unicode 200", true, 200}}),
                         testing::CaseName());

// A shortcut cut short anywhere before its optional trailer, or with an offset past its link
// info, is refused, never read past its end.
TEST(ShellLinkReading, RefusesCutShortLinksAndOffsetsPastTheirPart) {
    for (bool unicode : {false, true}) {
        const std::string link = shellLink("C:\\x.exe", "C:\\", "/s a.reg", unicode);
        const auto whole = readShellLink(link);
        ASSERT_TRUE(std::holds_alternative<ShellLink>(whole)) << std::get<std::string>(whole);
        EXPECT_EQ(std::get<ShellLink>(whole).commandLine(), "C:\\x.exe /s a.reg");
        for (std::size_t size = 0; size + 4 < link.size(); ++size) {
            EXPECT_TRUE(std::holds_alternative<std::string>(readShellLink(link.substr(0, size))))
                << size;
        }
        std::string wrong = link;
        // The offset of the local base path (UTF-16 in a Unicode link info) in the link info
        // after the header and the 24 bytes of the ID list.
        wrong[0x4C + 24 + (unicode ? 0x1C : 0x10)] = '\x7F';
        EXPECT_TRUE(std::holds_alternative<std::string>(readShellLink(wrong)));
    }
}

// Registry files a startup command imports count for the values they put in force only.
struct RegFile {
    const char* what;
    const char* lines;  // below the Restrictions key
    std::vector<int> restrictions;
    bool returns;
};
class ImportedRegistryFiles : public PrefixDiagnosis,
                              public ::testing::WithParamInterface<RegFile> {};

TEST_P(ImportedRegistryFiles, CountOnlyWhatTheyPutInForce) {
    testing::writeFile(driveC() / "users" / "Public" / "x.reg",
                       utf16WithBom(std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                                                "[HKEY_CURRENT_USER\\Software\\Policies\\"
                                                "Microsoft\\Internet Explorer\\Restrictions]\r\n") +
                                    GetParam().lines));
    setRunEntry("Import", "regedit /s C:\\users\\Public\\x.reg");
    const Report report = diagnoseWith();
    ASSERT_EQ(report.somethingReturns(), GetParam().returns) << formatReport(report);
    if (GetParam().returns) {
        EXPECT_EQ(report.returning[0].restrictions, GetParam().restrictions);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ImportedRegistryFiles,
                         ::testing::ValuesIn(std::vector<RegFile>{
                             {"one", "\"NoBrowserClose\"=dword:00000001\r\n", {4}, true},
                             {"zero", "\"NoBrowserClose\"=dword:00000000\r\n", {}, false},
                             {"negative", "\"NoBrowserClose\"=dword:ffffffff\r\n", {}, false},
                             {"text one", "\"NoBrowserClose\"=\"1\"\r\n", {4}, true},
                             {"deletion only", "\"NoBrowserClose\"=-\r\n", {}, false},
                             {"other value", "\"NoBrowserCloseX\"=dword:00000001\r\n", {}, false},
                             {"not a registry file", "garbage\r\n", {}, true},
                         }),
                         testing::CaseName());

// What the report shows of a startup script: the statements that set restrictions, with no raw
// control character and not the whole script.
TEST_F(PrefixDiagnosis, ReportShowsNoRawControlCharacters) {
    testing::writeFile(
        startup() / "x.bat",
        "@echo off\r\necho \x1b[2Jhello\r\nreg add HKCU\\X /v NoFileNew /d 1 /f\r\n");
    setRunEntry("Bell\a", "reg add HKCU\\X /v NoPrinting /d 1 /f\r\x1b]0;title\a");
    const Report report = diagnoseWith();
    const std::string text = formatReport(report);
    EXPECT_EQ(std::count_if(text.begin(), text.end(),
                            [](char c) { return c != '\n' && (c < 0x20 || c == 0x7F); }),
              0)
        << text;
    EXPECT_FALSE(testing::contains(text, "hello")) << text;
    EXPECT_TRUE(testing::contains(text, "x.bat: reg add HKCU\\X /v NoFileNew /d 1 /f")) << text;
    EXPECT_TRUE(testing::contains(text, "Bell\\x07")) << text;
}

// Walks stop at their bound and say so.
TEST_F(PrefixDiagnosis, SaysWhereItStoppedAtALimit) {
    // Links to one file: a new file each would take the file system much longer.
    testing::writeFile(system32() / "Tasks" / "t", "");
    for (int i = 0; i < 10'000; ++i) {
        fs::create_hard_link(system32() / "Tasks" / "t", system32() / "Tasks" / std::to_string(i));
    }
    const Report report = diagnoseWith();
    ASSERT_EQ(report.notes.size(), 1u) << formatReport(report);
    EXPECT_TRUE(testing::contains(report.notes[0], "more than 10000 entries"));
}

}  // namespace
}  // namespace quorvane::diagnosis
