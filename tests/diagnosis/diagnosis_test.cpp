// The diagnosis on a Wine prefix laid out as Windows lays out its folders, built by the test:
// each thing that sets a restriction again is found where Windows keeps it and attributed to the
// right restriction; a clean prefix reports nothing.
#include "diagnosis/diagnosis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "diagnosis/policy_file.h"
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
    // A shell link keeps its target and arguments as UTF-16 strings among binary fields.
    place(driveC() / "ProgramData" / "Microsoft" / "Windows" / "Start Menu" / "Programs" /
              "StartUp" / "lock.lnk",
          std::string("L\0\0\0\x01\x14\x02\0", 8) +
              utf16WithBom("C:\\Windows\\regedit.exe").substr(2) + std::string("\0\0\x1F\x50", 4) +
              utf16WithBom("/s C:\\users\\Public\\lock.reg").substr(2));
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

// What makes a command one that writes the registry, and which restrictions it names.
struct Command {
    const char* what;  // the command line
    bool changesRegistry;
    std::vector<int> restrictions;
};
class CommandExamination : public ::testing::TestWithParam<Command> {};

TEST_P(CommandExamination, TellsRegistryWritersFromOtherPrograms) {
    const CommandFindings found = examineCommand(GetParam().what);
    EXPECT_EQ(found.changesRegistry, GetParam().changesRegistry);
    EXPECT_EQ(found.restrictions, GetParam().restrictions);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandExamination,
    ::testing::ValuesIn(std::vector<Command>{
        {"reg add HKCU\\X /v NoBrowserClose /d 1", true, {4}},
        {"C:\\Windows\\reg.exe import C:\\lock.reg", true, {}},
        {"REGEDIT.EXE /s \"C:\\My Files\\lock.reg\"", true, {}},
        {"regini policy.ini", true, {}},
        {"regedit -s C:\\lock.txt", true, {}},
        {"powershell -c Set-ItemProperty -Path HKCU:\\Software -Name NoViewSource -Value 1",
         true,
         {17}},
        {"rundll32 apply.dll DisableRegistryTools", false, {23}},
        {"\"C:\\Program Files\\Registry Tool\\tool.exe\"", false, {}},
        {"notepad C:\\reg\\notes.txt", false, {}},
        {"C:\\myhomepage.exe --no-toolbar", false, {}},
        {"cmd /c echo \"Window Title\"", false, {24}},
    }),
    testing::CaseName());

TEST(CommandExaminationOfFiles, NamesTheFileARegistryEditorImports) {
    EXPECT_EQ(examineCommand("regedit /s \"C:\\My Files\\lock.reg\"").files,
              std::vector<std::string>{"C:\\My Files\\lock.reg"});
}

}  // namespace
}  // namespace quorvane::diagnosis
