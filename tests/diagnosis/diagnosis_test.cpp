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
#include "tests/support/fake_toolkit.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::diagnosis {
namespace {

namespace fs = std::filesystem;
using Source = Finding::Source;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string utf16WithBom(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::string dwordBytes(std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    return bytes;
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

    void lockPrefix() {
        setRunEntry("Relock",
                    "reg add \"HKCU\\Software\\Policies\\Microsoft\\Internet "
                    "Explorer\\Restrictions\" /v NoBrowserClose /t REG_DWORD /d 1 /f");
        testing::writeFile(driveC() / "users" / "Public" / "lock.reg",
                           utf16WithBom("Windows Registry Editor Version 5.00\r\n\r\n"
                                        "[HKEY_CURRENT_USER\\Software\\Policies\\Microsoft\\"
                                        "Internet Explorer\\Restrictions]\r\n"
                                        "\"NoViewSource\"=dword:00000001\r\n"));
        testing::writeFile(
            system32() / "Tasks" / "Relock",
            utf16WithBom("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.2\" "
                         "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
                         "<Actions Context=\"Author\"><Exec><Command>regedit</Command>"
                         "<Arguments>/s lock.reg</Arguments><WorkingDirectory>C:\\users\\Public"
                         "</WorkingDirectory></Exec></Actions></Task>"));
        fs::create_directories(system32() / "GroupPolicy" / "Machine");
        testing::writeFile(
            system32() / "GroupPolicy" / "Machine" / "Registry.pol",
            writePolicyFile({{u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                              u"DisableRegistryTools", 4, dwordBytes(1)}}));
    }

    static const Finding* found(const Report& report, Source source) {
        const auto it = std::find_if(report.returning.begin(), report.returning.end(),
                                     [&](const Finding& f) { return f.source == source; });
        return it == report.returning.end() ? nullptr : &*it;
    }

    testing::TempDir dir_;
    testing::RecordingMessageBox messages_;
};

TEST_F(PrefixDiagnosis, FindsEachPlaceThatSetsARestrictionAgain) {
    lockPrefix();
    setRunEntry("Tool", "\"C:\\Program Files\\Tool\\tool.exe\" --tray");
    const Report report = diagnoseWith();

    ASSERT_TRUE(report.somethingReturns()) << formatReport(report);
    const Finding* run = found(report, Source::RegistryStartup);
    const Finding* task = found(report, Source::ScheduledTask);
    const Finding* policy = found(report, Source::PolicyFile);
    ASSERT_TRUE(run && task && policy) << formatReport(report);
    EXPECT_EQ(run->item, "Relock");
    EXPECT_EQ(run->restrictions, std::vector<int>{4});
    EXPECT_EQ(task->item, "\\Relock");
    EXPECT_EQ(task->command, "regedit /s lock.reg");
    EXPECT_EQ(task->restrictions, std::vector<int>{17}) << "read from lock.reg";
    EXPECT_EQ(policy->restrictions, std::vector<int>{23});
    EXPECT_NE(policy->command.find("HKEY_LOCAL_MACHINE"), std::string::npos) << policy->command;
    EXPECT_EQ(report.returning.size(), 3u) << formatReport(report);

    const auto tool = std::find_if(report.otherStartupItems.begin(), report.otherStartupItems.end(),
                                   [](const Finding& f) { return f.item == "Tool"; });
    EXPECT_NE(tool, report.otherStartupItems.end()) << formatReport(report);
}

TEST_F(PrefixDiagnosis, AskingForOneRestrictionKeepsWhatSetsIt) {
    lockPrefix();
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
        writePolicyFile({{u"Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions",
                          u"NoPrinting", 4, dwordBytes(1)}});
    damaged += writePolicyFile({{u"K", u"V", 4, dwordBytes(1)}}).substr(8);
    damaged[damaged.size() - 9] = '\x7F';  // the second record's size: far past the end
    fs::create_directories(system32() / "GroupPolicy" / "User");
    testing::writeFile(system32() / "GroupPolicy" / "User" / "Registry.pol", damaged);
    testing::writeFile(system32() / "Tasks" / "Noise", std::string("\0\xFF\xFE<Ta", 7));
    testing::writeFile(startup() / "noise.cmd", std::string(4096, '\xFF'));

    const Report report = diagnoseWith();
    ASSERT_EQ(report.returning.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.returning.front().restrictions, std::vector<int>{14});
    ASSERT_EQ(report.notes.size(), 1u) << formatReport(report);
    EXPECT_NE(report.notes.front().find("runs past the end"), std::string::npos)
        << report.notes.front();
}

TEST(OwnStoreDiagnosis, SaysItHasNoFilesToLookAt) {
    const Places places =
        placesOf({platform::RegistryLocation::Kind::OwnStore, fs::path("/nonexistent")});
    EXPECT_TRUE(places.systemFolder.empty());
    EXPECT_NE(places.missing.find("no Group Policy files"), std::string::npos);
}

// What makes a command one that writes the registry, and which restrictions it names.
TEST(CommandExamination, TellsRegistryWritersFromOtherPrograms) {
    struct Case {
        const char* command;
        bool changesRegistry;
        std::vector<int> restrictions;
    };
    const Case cases[] = {
        {"reg add HKCU\\X /v NoBrowserClose /d 1", true, {4}},
        {"C:\\Windows\\reg.exe import C:\\lock.reg", true, {}},
        {"REGEDIT.EXE /s \"C:\\My Files\\lock.reg\"", true, {}},
        {"regini policy.ini", true, {}},
        {"powershell -c Set-ItemProperty -Path HKCU:\\Software -Name NoViewSource -Value 1",
         true,
         {17}},
        {"rundll32 apply.dll DisableRegistryTools", false, {23}},
        {"\"C:\\Program Files\\Registry Tool\\tool.exe\"", false, {}},
        {"notepad C:\\reg\\notes.txt", false, {}},
        {"C:\\myhomepage.exe --no-toolbar", false, {}},
        {"cmd /c echo \"Window Title\"", false, {24}},
    };
    for (const Case& c : cases) {
        const CommandFindings found = examineCommand(c.command);
        EXPECT_EQ(found.changesRegistry, c.changesRegistry) << c.command;
        EXPECT_EQ(found.restrictions, c.restrictions) << c.command;
    }
    EXPECT_EQ(examineCommand("regedit /s \"C:\\My Files\\lock.reg\"").files,
              std::vector<std::string>{"C:\\My Files\\lock.reg"});
}

}  // namespace
}  // namespace quorvane::diagnosis
