// What a command line or script puts in force, and the files it hands on.
#include "diagnosis/command_scan.h"

#include <gtest/gtest.h>

#include "diagnosis/text_scan.h"
#include "tests/diagnosis/prefix_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"

namespace quorvane::diagnosis {
namespace {

using namespace testrig;
using Source = Finding::Source;

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
        {"reg add dash options", "reg add HKCU\\X -v NoFavorites -t REG_DWORD -d 1", {8}},
        {"reg add hex", "reg add HKCU\\X /v NoPrinting /t REG_DWORD /d 0x10 /f", {14}},
        {"reg add zero", "reg add HKCU\\X /v NoFileOpen /d 0", {}},
        {"reg add dword zero", "reg add HKCU\\X /v NoFileOpen /t REG_DWORD /d 0x0 /f", {}},
        {"reg add negative", "reg add HKCU\\X /v NoFileOpen /t REG_DWORD /d 4294967295", {}},
        {"reg add minus one", "reg add HKCU\\X /v NoFileOpen /t REG_DWORD /d -1", {}},
        {"reg add no data", "reg add HKCU\\X /v NoFileOpen /f", {}},
        {"reg delete", "reg delete HKCU\\X /v NoFileNew /f", {}},
        {"reg query", "reg query HKCU\\X /v NoFindFiles", {}},
        {"name ends the word", "reg add HKCU\\X /v NoToolbarOptions /t REG_DWORD /d 1", {19}},
        {"name starts the word", "reg add HKCU\\X /v XNoToolBar /t REG_DWORD /d 1", {}},
        {"name goes on", "reg add HKCU\\X /v NoPrintingPreview /t REG_DWORD /d 1", {}},
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
        {"reg copy", "reg copy HKCU\\A HKCU\\B /s /f", {}, true},
        {"powershell name in a variable", "Set-ItemProperty HKCU:\\X $name 1", {}, true},
        {"powershell copy", "Copy-ItemProperty HKCU:\\A HKCU:\\B -Name NoPrinting", {}, true},
        {"dotnet name in a variable", "[Microsoft.Win32.Registry]::SetValue($k, $n, 1)", {}, true},
        {"quote ends with its line", "echo \"a\r\nreg add X /v NoFavorites /d 1", {8}},
        {"apostrophe in a word", "echo don't & reg add HKCU\\X /v NoFavorites /d 1", {8}},
    }),
    testing::CaseName());

// A script reads the same in each encoding an editor saves it in.
TEST(ScriptText, ReadsInEveryEncoding) {
    for (const std::string& bytes :
         {std::string("\xEF\xBB\xBFreg"), std::string("\xFF\xFEr\0e\0g\0", 8),
          std::string("\xFE\xFF\0r\0e\0g", 8), std::string("r\0e\0g\0", 6)}) {
        EXPECT_EQ(decodeText(bytes), "reg");
    }
}

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
        {"called registry file", "call C:\\lock.reg", {"RC:\\lock.reg"}},
        {"registry file edited", "notepad C:\\lock.reg", {}},
        {"script", "cmd /c C:\\relock.cmd & x.ps1", {"SC:\\relock.cmd", "Sx.ps1"}},
        {"policy file", "lgpo.exe /u C:\\user.pol", {"PC:\\user.pol"}},
    }),
    testing::CaseName());
}  // namespace
}  // namespace quorvane::diagnosis
