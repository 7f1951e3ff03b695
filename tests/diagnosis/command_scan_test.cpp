// What a command line or script puts in force, and the files it hands on.
#include "diagnosis/command_scan.h"

#include <gtest/gtest.h>

#include "diagnosis/text_scan.h"
#include "formats/base64.h"
#include "formats/utf16.h"
#include "tests/diagnosis/prefix_rig.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;

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
    {"script imports what cannot be read", "cmd /c C:\\users\\Public\\import.cmd", kAny,
     "import.cmd", "regedit /s C:\\gone.reg\r\n"},
    {"continued line",
     "C:\\users\\Public\\long.bat",
     {15},
     "long.bat",
     "reg add \"HKCU\\<R>\" ^\r\n /v NoSelectDownloadDir /t REG_DWORD /d 1 /f\r\n"},
};

// One table, read through `why` as a whole: every line must come out as it truly is.
TEST_F(PrefixDiagnosis, ReadsEachCommandAsItsShellRunsIt) {
    for (const Line& line : kLines) {
        setRunEntry(line.what, expanded(line.command));
        if (line.file != nullptr) {
            place(driveC() / "users" / "Public" / line.file, expanded(line.text));
        }
    }
    const Report report = diagnoseWith();
    for (const Line& line : kLines) {
        std::vector<int> got;
        for (const Finding& finding : report.returning) {
            if (finding.item == line.what) {
                got = finding.restrictions.empty() ? kAny : finding.restrictions;
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

// The files a command hands on: registry files it imports, scripts it runs, policy files.
TEST(NamedFiles, AreTheOnesItImportsOrRuns) {
    const struct {
        const char* what;
        const char* command;
        std::vector<std::string> files;  // kind letter R, P or S, then the path
    } cases[] = {
        {"regedit any name", "regedit.exe -s lock.txt", {"Rlock.txt"}},
        {"regedit export", "regedit /e C:\\backup.reg HKEY_CURRENT_USER", {}},
        {"reg export", "reg export HKCU\\X C:\\backup.reg", {}},
        {"opened registry file", "C:\\lock.reg", {"RC:\\lock.reg"}},
        {"called registry file", "call C:\\lock.reg", {"RC:\\lock.reg"}},
        {"registry file edited", "notepad C:\\lock.reg", {}},
        {"script", "cmd /c C:\\relock.cmd & x.ps1", {"SC:\\relock.cmd", "Sx.ps1"}},
        {"policy file", "lgpo.exe /u C:\\user.pol", {"PC:\\user.pol"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> files;
        for (const NamedFile& file : examineCommand(c.command).files) {
            files.push_back("RPS"[static_cast<int>(file.kind)] + file.path);
        }
        EXPECT_EQ(files, c.files) << c.what;
    }
}
}  // namespace
}  // namespace quorvane::diagnosis
