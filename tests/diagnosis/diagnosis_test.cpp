// The diagnosis on a Wine prefix laid out as Windows lays out its folders, built by the test:
// each thing that sets a restriction again is found where Windows keeps it and attributed to the
// right restriction; a clean prefix reports nothing. Then what a command line or script puts in
// force, and the files it hands on; then the encodings of scripts and the reader of shortcuts.
#include "diagnosis/diagnosis.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "diagnosis/shell_link.h"
#include "diagnosis/text_scan.h"
#include "formats/base64.h"
#include "formats/utf16.h"
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
    // Files written by anyone: a task file that is not XML, a startup script of binary noise.
    testing::writeFile(system32() / "Tasks" / "Noise", std::string("\0\xFF\xFE<Ta", 7));
    testing::writeFile(startup() / "noise.cmd", std::string(4096, '\xFF'));
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
        // A value that holds no text runs nothing.
        testing::put(store, platform::kCurrentUser, windows + "Run", "Number", testing::dword(1));
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
    // A policy record counts when it names a restriction's value exactly, in any letter case
    // (as **soft. too: set unless present), in the restriction's key, empty names around it or
    // not, with data that puts it in force: not XNoToolBar, nor 0, nor another key's NoToolBar.
    const auto record = [](const std::u16string& key, const char16_t* value, std::uint32_t data) {
        return PolicyRecord{key, value, 4, formats::dwordBytes(data)};
    };
    place(system32() / "GroupPolicyUsers" / "S-1-5-21-1" / "User" / "Registry.pol",
          writePolicyFile({record(u"\\" + kToolbars + u"\\", u"**soft.notoolbar", 1)}));
    place(driveC() / "ProgramData" / history / "{GPO-1}" / "Machine" / "Registry.pol",
          policyFile(kToolbars, u"NoLinksBar"));
    place(local / history / "{GPO-2}" / "S-1-5-21-1" / "User" / "Registry.pol",
          writePolicyFile({record(kRestrictions, u"RestGoMenu", 1),
                           record(kToolbars, u"XNoToolBar", 1), record(kToolbars, u"NoToolBar", 0),
                           record(kRestrictions, u"NoToolBar", 1),
                           record(kToolbars, u"NoToolbarOptions", 1)}));
    place(system32() / "GroupPolicy" / "User" / "Registry.pol",
          policyFile(kRestrictions, u"**del.NoPrinting"));

    struct Expected {
        Source source;
        const char* where;  // a part of the place or the item
        std::vector<int> restrictions;
        const char* command = nullptr;  // as shown, where it matters
    };
    const Expected expected[] = {
        {Source::ScheduledTask, "\\Vendor\\Relock", {17}, "regedit /s lock.reg"},
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
        {Source::PolicyFile,
         "{GPO-1}",
         {22},
         "NoLinksBar = 1 in HKEY_LOCAL_MACHINE\\Software\\Policies\\Microsoft\\Internet "
         "Explorer\\Toolbars\\Restrictions"},
        {Source::PolicyFile, "{GPO-2}", {18, 19}},
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
    EXPECT_EQ(one.returning.size(), 5u) << formatReport(one);
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
                          "noise.cmd = noise.cmd", "tray.bat = tray.bat",
                          "tray.lnk = C:\\tray.exe /x", "\\Vendor\\Relock = tray.exe"}));
    for (const Finding& finding : report.returning) {
        if (finding.source == Source::PolicyFile) {
            const bool machine = finding.where.find("Machine") != std::string::npos;
            EXPECT_TRUE(testing::contains(finding.command,
                                          machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"))
                << finding.where << ": " << finding.command;
        }
    }
}

// What the report shows: of a startup script, the statements that set restrictions, not the whole
// script; of a command, as far as 400 bytes; no raw control character. Walks stop at their bound
// and say so, as a reader does at a damaged file (a Registry.pol whose second record's size runs
// past its end), keeping the records before the damage.
TEST_F(PrefixDiagnosis, ReportShowsNoRawControlCharactersAndWhereItStopped) {
    std::string damaged =
        policyFile(kRestrictions, u"NoPrinting") + policyFile(u"K", u"V").substr(8);
    damaged[damaged.size() - 9] = '\x7F';  // the second record's size: far past the end
    place(system32() / "GroupPolicy" / "User" / "Registry.pol", damaged);
    testing::writeFile(startup() / "x.bat", "@echo off\r\necho \x1b[2Jhello\r\n" +
                                                testing::relock("NoFileNew") + "\r\n");
    setRunEntry("Bell\a", testing::relock("NoPrinting") + "\r\x1b]0;title\a\x7F\xC2\x9F");
    const std::string command = testing::relock("NoPrinting") + " " + std::string(1000, 'x');
    setRunEntry("Long", command);
    // Links to one file: a new file each would take the file system much longer.
    testing::writeFile(system32() / "Tasks" / "t", "");
    for (int i = 0; i < 10'000; ++i) {
        fs::create_hard_link(system32() / "Tasks" / "t", system32() / "Tasks" / std::to_string(i));
    }
    const Report report = diagnoseWith();
    const std::string text = formatReport(report);
    ASSERT_EQ(report.notes.size(), 2u) << text;
    EXPECT_TRUE(testing::contains(report.notes[0], "runs past the end"));
    EXPECT_TRUE(testing::contains(report.notes[1], "more than 10000 entries"));
    EXPECT_TRUE(testing::contains(text, "NoPrinting = 1 in HKEY_CURRENT_USER\\")) << text;
    EXPECT_TRUE(testing::contains(
        text, "x [... " + std::to_string(command.size() - 400) + " more characters]\n"));
    EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) {
        return c != '\n' && (c < 0x20 || c == 0x7F);
    })) << text;
    EXPECT_FALSE(testing::contains(text, "hello")) << text;
    EXPECT_TRUE(testing::contains(text, "x.bat: " + testing::relock("NoFileNew"))) << text;
    EXPECT_TRUE(testing::contains(text, "Bell\\x07")) << text;
    EXPECT_TRUE(testing::contains(text, "title\\x07\\x7F\\u009F")) << text;  // a C1 control too
}

// What `why` reports for each startup command: the restrictions it truly sets, read as the shell
// runs it. A value counts only when written with data above 0, under its exact name, in its own
// key (either hive, either view, any spelling of the root); what is quoted is read when a shell
// runs it, to any depth; comments and printed text set nothing. Every command is a value of the
// Run key of one prefix, and its script, if any, lies in C:\users\Public. In the commands <R>,
// <S> and <T> stand for the keys below the hive; <b64:TEXT> for TEXT encoded as PowerShell takes
// it (UTF-16LE, base64).
struct Line {
    const char* what;
    const char* command;
    std::vector<int> sets;  // kAny: may set any restriction
    const char* file = nullptr;
    const char* text = nullptr;
};
const std::vector<int> kAny = {0};

std::string expanded(std::string command) {
    const std::pair<std::string, std::string> keys[] = {{"<R>", testing::kRestrictionsKey},
                                                        {"<S>", testing::kSystemKey},
                                                        {"<T>", testing::kToolbarsKey}};
    for (const auto& [mark, key] : keys) {
        for (std::size_t at; (at = command.find(mark)) != std::string::npos;) {
            command.replace(at, mark.size(), key);
        }
    }
    if (const std::size_t at = command.find("<b64:"); at != std::string::npos) {
        const std::size_t end = command.find('>', at);
        command.replace(at, end + 1 - at,
                        formats::base64Encode(formats::utf16LeBytes(
                            formats::narrowToUtf16(command.substr(at + 5, end - at - 5)))));
    }
    return command;
}

const std::vector<Line> kLines = {
    // What is written, and how.
    {"reg add dword 1", "reg add \"HKCU\\<R>\" /v NoBrowserClose /t REG_DWORD /d 1 /f", {4}},
    {"reg exe text 1", "C:\\Windows\\REG.EXE ADD \"HKLM\\<R>\" /v nobrowserclose /d 1", {4}},
    {"dash options", "reg add \"HKCU\\<R>\" -v NoFavorites -t REG_DWORD -d 1", {8}},
    {"hex", "reg add \"HKCU\\<R>\" /v NoPrinting /t REG_DWORD /d 0x10 /f", {14}},
    {"zero", "reg add \"HKCU\\<R>\" /v NoFileOpen /t REG_DWORD /d 0x0 /f", {}},
    {"negative", "reg add \"HKCU\\<R>\" /v NoFileOpen /t REG_DWORD /d -1", {}},
    {"no data", "reg add \"HKCU\\<R>\" /v NoFileOpen /f", {}},
    {"reg delete", "reg delete \"HKCU\\<R>\" /v %NAME% /f", {}},
    {"reg query", "reg query \"HKCU\\<R>\" /v %NAME%", {}},
    {"name ends the word", "reg add \"HKCU\\<T>\" /v NoToolbarOptions /t REG_DWORD /d 1", {19}},
    {"name starts the word", "reg add \"HKCU\\<R>\" /v XNoToolBar /t REG_DWORD /d 1", {}},
    {"name goes on", "reg add \"HKCU\\<R>\" /v NoPrintingPreview /t REG_DWORD /d 1", {}},
    {"path is no command", "\"C:\\Program Files\\HomePage Studio\\hps.exe\" --tray", {}},
    {"value name as argument", "rundll32 apply.dll DisableRegistryTools", {}},
    {"window title text",
     "reg add \"HKLM\\Software\\Microsoft\\Internet Explorer\\Main\" /v \"Window Title\" /d "
     "\"Owned\" /f",
     {24}},
    {"powershell named",
     "powershell Set-ItemProperty -Path 'HKCU:\\<R>' -Name NoViewSource -Value 1",
     {17}},
    {"powershell zero",
     "Set-ItemProperty -Path HKCU:\\<S> -Name DisableRegistryTools -Value 0",
     {}},
    {"powershell false", "sp HKCU:\\<S> DisableRegistryTools $false", {}},
    {"powershell removal", "Remove-ItemProperty -Path HKCU:\\<S> -Name DisableRegistryTools", {}},
    {"powershell variable data",
     "New-ItemProperty -Path HKCU:\\<S> -Name DisableRegistryTools -Value $v -PropertyType DWord",
     {23}},
    {"dotnet call",
     "[Microsoft.Win32.Registry]::SetValue('HKEY_CURRENT_USER\\<R>', 'NoTheaterMode', 1)",
     {16}},
    {"dotnet other key",
     "[Microsoft.Win32.Registry]::SetValue('HKEY_CURRENT_USER\\X', 'NoTheaterMode', 1)",
     {}},
    {"wsh regwrite",
     "wscript C:\\users\\Public\\lock.vbs",
     {12},
     "lock.vbs",
     "sh.RegWrite \"HKCU\\<R>\\NoNavButtons\", 1, \"REG_DWORD\"\r\n"
     "sh.RegWrite \"HKCU\\X\\NoPrinting\", 1, \"REG_DWORD\"\r\n"
     "' sh.RegWrite \"HKCU\\<R>\\NoFileNew\", 1, \"REG_DWORD\""},
    {"wmi key in a variable",
     "cscript C:\\users\\Public\\wmi.vbs",
     {14},
     "wmi.vbs",
     "oReg.SetDWORDValue HKEY_CURRENT_USER, strKeyPath, \"NoPrinting\", 1"},
    {"name in a variable", "reg add \"HKCU\\<R>\" /v %NAME% /d 1", kAny},
    {"key in a variable", "reg add %KEY% /v NoFavorites /t REG_DWORD /d 1", {8}},
    {"regini", "regini policy.ini", kAny},
    {"reg copy", "reg copy HKCU\\A HKCU\\B /s /f", kAny},
    {"powershell name in a variable", "Set-ItemProperty HKCU:\\<S> $name 1", kAny},
    {"powershell copy", "Copy-ItemProperty HKCU:\\A HKCU:\\B -Name NoPrinting", kAny},
    {"dotnet name in a variable", "[Microsoft.Win32.Registry]::SetValue($k, $n, 1)", kAny},
    {"quote ends with its line", "echo \"a\r\nreg add \"HKCU\\<R>\" /v NoFavorites /d 1", {8}},
    {"apostrophe in a word", "echo don't & reg add \"HKCU\\<R>\" /v NoFavorites /d 1", {8}},
    // The key: only the restriction's own, in either hive and view, in any spelling.
    {"other key",
     "reg add \"HKCU\\Software\\Acme\\Browser\" /v NoBrowserClose /t REG_DWORD /d 1",
     {}},
    {"long root", "reg add \"HKEY_LOCAL_MACHINE\\<R>\" /v NoFileNew /d 1 /f", {9}},
    {"a user s key", "reg add \"HKU\\S-1-5-21-7\\<R>\" /v NoFileNew /d 1 /f", {9}},
    {"other root", "reg add \"HKCR\\<R>\" /v NoFileNew /d 1 /f", {}},
    {"32 bit view",
     "reg add \"HKLM\\SOFTWARE\\Wow6432Node\\Policies\\Microsoft\\Internet "
     "Explorer\\Restrictions\" "
     "/v NoBrowserClose /t REG_DWORD /d 1 /f /reg:32",
     {4}},
    {"provider path",
     "Set-ItemProperty -Path 'Registry::HKEY_CURRENT_USER\\<R>' -Name NoFileOpen -Value 1",
     {10}},
    {"powershell other key",
     "Set-ItemProperty -Path 'HKCU:\\Software\\Acme' -Name NoFileOpen -Value 1",
     {}},
    {"powershell positional other key", "Set-ItemProperty HKCU:\\Software\\Acme NoFileOpen 1", {}},
    {"relative path",
     "powershell -File C:\\users\\Public\\here.ps1",
     {18},
     "here.ps1",
     "Set-Location 'HKCU:\\<R>'\r\nSet-ItemProperty -Path . -Name RestGoMenu -Value 1\r\n"},
    // Handed to a shell in quotes, as deep as it goes.
    {"powershell command",
     "powershell.exe -NoProfile -Command \"Set-ItemProperty -Path 'HKCU:\\<R>' -Name "
     "NoBrowserClose -Value 1\"",
     {4}},
    {"new itemproperty",
     "powershell -ExecutionPolicy Bypass -c \"New-ItemProperty -Path 'HKLM:\\<R>' -Name NoPrinting "
     "-Value 1 -PropertyType DWord -Force\"",
     {14}},
    {"script block",
     "powershell -WindowStyle Hidden -c \"& {Set-ItemProperty -Path 'HKCU:\\<R>' -Name NoFavorites "
     "-Value 1}\"",
     {8}},
    {"cmd k inner quotes", "cmd.exe /d /k \"reg add \"HKCU\\<R>\" /v NoFileNew /d 1 /f\"", {9}},
    {"encoded",
     "powershell -nop -enc <b64:Set-ItemProperty -Path 'HKCU:\\<R>' -Name NoPrinting -Value 1>",
     {14}},
    {"encoded innocent", "powershell -EncodedCommand <b64:Get-Date>", {}},
    {"cmd in powershell in cmd",
     "cmd /c \"powershell -nop -c cmd /c 'reg add HKLM\\<S> /v DisableRegistryTools /d 1 /f'\"",
     {23}},
    {"powershell in cmd",
     "cmd /c \"powershell -c Set-ItemProperty 'HKCU:\\<R>' NoFileNew 1\"",
     {9}},
    {"start in cmd",
     "cmd /c start \"\" /min cmd /c \"reg add HKCU\\<S> /v DisableRegistryTools /d 1 /f\"",
     {23}},
    {"start process",
     "powershell -c \"Start-Process reg -ArgumentList 'add','HKCU\\<S>','/v',"
     "'DisableRegistryTools','/d','1','/f' -WindowStyle Hidden\"",
     {23}},
    {"invoke expression",
     "powershell -c \"iex 'Set-ItemProperty HKCU:\\<S> DisableRegistryTools 1'\"",
     {23}},
    {"invoke expression of a variable", "powershell -c \"iex $payload\"", kAny},
    {"reads only",
     "powershell -c \"Get-ItemProperty -Path 'HKCU:\\<R>' -Name NoBrowserClose\"",
     {}},
    // Comments and printed text set nothing, unless what is printed is run.
    {"rem in a batch file",
     "C:\\users\\Public\\relock.bat",
     {},
     "relock.bat",
     "@echo off\r\nREM reg add \"HKCU\\<R>\" /v NoViewSource /t REG_DWORD /d 1 /f\r\n"
     "@rem & reg add \"HKCU\\<R>\" /v NoViewSource /t REG_DWORD /d 1 /f\r\n"},
    {"colons in a cmd file",
     "C:\\users\\Public\\relock.cmd",
     {17},
     "relock.cmd",
     ":: reg add \"HKCU\\<R>\" /v NoFavorites /t REG_DWORD /d 1 /f\r\n:again\r\n"
     "reg add \"HKCU\\<R>\" /v NoViewSource /t REG_DWORD /d 1 /f\r\n"},
    {"rem after and", "cmd /c \"cls & rem reg add HKCU\\<S> /v DisableRegistryTools /d 1 /f\"", {}},
    {"echo", "echo reg add \"HKCU\\<R>\" /v NoFavorites /t REG_DWORD /d 1", {}},
    {"echo into cmd",
     "cmd /c \"echo reg add HKCU\\<S> /v DisableRegistryTools /t REG_DWORD /d 1 /f | cmd\"",
     {23}},
    {"write host",
     "powershell -c \"Write-Host 'Set-ItemProperty HKCU:\\<S> DisableRegistryTools 1'\"",
     {}},
    {"write output into iex",
     "powershell -c \"Write-Output 'Set-ItemProperty HKCU:\\<S> DisableRegistryTools 1' | iex\"",
     {23}},
    {"powershell comments",
     "powershell -File C:\\users\\Public\\quiet.ps1",
     {12},
     "quiet.ps1",
     "# Set-ItemProperty -Path 'HKCU:\\<R>' -Name NoTheaterMode -Value 1\r\n<# Set-ItemProperty "
     "-Path 'HKCU:\\<R>'\r\n -Name NoFileNew -Value 1 #>\r\nSet-ItemProperty 'HKCU:\\<R>' "
     "NoNavButtons 1 # and relock\r\n"},
    // A file named through ".." is the one there; a registry file that a script imports but that
    // cannot be read may set anything, as when the command imports it itself.
    {"dot dot",
     "regedit /s C:\\Windows\\..\\users\\Public\\x.reg",
     {4},
     "x.reg",
     "REGEDIT4\r\n[HKEY_CURRENT_USER\\<R>]\r\n\"NoBrowserClose\"=dword:00000001\r\n"},
    // What a command does with a file: a registry file that regedit imports (under any name)
    // or that is opened or called sets its values; one exported to, or edited, sets nothing; a
    // policy file handed to a tool that cannot be read may set any; a script named runs.
    {"regedit any name",
     "regedit.exe -s C:\\users\\Public\\x.txt",
     {4},
     "x.txt",
     "REGEDIT4\r\n[HKEY_CURRENT_USER\\<R>]\r\n\"NoBrowserClose\"=dword:00000001\r\n"},
    {"regedit export", "regedit /e C:\\users\\Public\\x.reg HKEY_CURRENT_USER", {}},
    {"reg export", "reg export HKCU\\X C:\\users\\Public\\x.reg", {}},
    {"opened registry file", "C:\\users\\Public\\x.reg", {4}},
    {"called registry file", "call C:\\users\\Public\\x.reg", {4}},
    {"registry file edited", "notepad C:\\users\\Public\\x.reg", {}},
    {"policy file", "lgpo.exe /u C:\\users\\Public\\gone.pol", kAny},
    {"script named",
     "cmd /c C:\\users\\Public\\b.ps1",
     {9},
     "b.ps1",
     "Set-ItemProperty 'HKCU:\\<R>' NoFileNew 1\r\n"},
    {"script imports what cannot be read", "cmd /c C:\\users\\Public\\import.cmd", kAny,
     "import.cmd", "regedit /s C:\\gone.reg\r\n"},
    {"continued line",
     "C:\\users\\Public\\long.bat",
     {15},
     "long.bat",
     "reg add \"HKCU\\<R>\" ^\r\n /v NoSelectDownloadDir /t REG_DWORD /d 1 /f\r\n"},
    // A registry file counts for the values it puts in force only (one that sets a value and
    // deletes another: the prefix every place is looked in); one that is not a registry file may
    // set any.
    {"imported values not in force",
     "regedit /s C:\\users\\Public\\none.reg",
     {},
     "none.reg",
     "REGEDIT4\r\n[HKEY_CURRENT_USER\\<R>]\r\n\"NoBrowserClose\"=dword:ffffffff\r\n"
     "\"NoBrowserCloseX\"=dword:00000001\r\n\"XNoBrowserClose\"=dword:00000001\r\n"
     "[HKEY_CURRENT_USER\\Software\\Acme]\r\n\"NoBrowserClose\"=dword:00000001\r\n"},
    {"imported text one and a user s key",
     "regedit /s C:\\users\\Public\\some.reg",
     {4, 9},
     "some.reg",
     "REGEDIT4\r\n[HKEY_CURRENT_USER\\<R>]\r\n\"NoBrowserClose\"=\"1\"\r\n"
     "[HKEY_USERS\\S-1-5-21-7\\<R>]\r\n\"NoFileNew\"=dword:00000001\r\n"},
    {"imported no registry file", "regedit /s C:\\users\\Public\\junk.reg", kAny, "junk.reg",
     "garbage\r\n"},
};

// One table, read through `why` as a whole: every line must come out as it truly is. The lines
// are spread over every startup key of both hives, the machine's commands held as REG_EXPAND_SZ.
TEST_F(PrefixDiagnosis, ReadsEachCommandAsItsShellRunsIt) {
    const auto keyOf = [](std::size_t i) {
        return journal::kStartupKeys[i % std::size(journal::kStartupKeys)];
    };
    const auto machine = [&](std::size_t i) { return keyOf(i).root == platform::kLocalMachine; };
    {
        platform::HiveStore store(prefix());
        for (std::size_t i = 0; i < kLines.size(); ++i) {
            const auto type = machine(i) ? platform::kRegExpandSz : platform::kRegSz;
            testing::put(store, keyOf(i).root, keyOf(i).subKey, kLines[i].what,
                         {type, testing::sz(expanded(kLines[i].command)).bytes});
            if (kLines[i].file != nullptr) {
                place(driveC() / "users" / "Public" / kLines[i].file, expanded(kLines[i].text));
            }
        }
    }
    const Report report = diagnoseWith();
    for (std::size_t i = 0; i < kLines.size(); ++i) {
        const Line& line = kLines[i];
        std::vector<int> got;
        for (const Finding& finding : report.returning) {
            if (finding.item == line.what) {
                got = finding.restrictions.empty() ? kAny : finding.restrictions;
                EXPECT_EQ(finding.where,
                          (machine(i) ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
                              std::string(keyOf(i).subKey));
            }
        }
        EXPECT_EQ(got, line.sets) << line.what << ": " << expanded(line.command);
    }
}

// A script reads the same in each encoding an editor saves it in.
TEST(ScriptText, ReadsInEveryEncoding) {
    for (const std::string& bytes :
         {std::string("\xEF\xBB\xBFreg"), std::string("\xFF\xFEr\0e\0g\0", 8),
          std::string("\xFE\xFF\0r\0e\0g", 8), std::string("r\0e\0g\0", 6)}) {
        EXPECT_EQ(decodeText(bytes), "reg");
    }
}

// A shortcut in a Startup folder is read by its structure, ANSI or Unicode, its counted strings
// short or long; cut short anywhere before its optional trailer, or with an offset past its link
// info, it is refused, never read past its end. One without link info names its target in the
// environment-variables block, after any other block; its Unicode text is taken before the ANSI
// one.
TEST(ShellLinkReading, ReadsWholeLinksAndEnvironmentTargetsAndRefusesCutShortOnes) {
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
