// quorvane-cli why and export as a user runs them: exit statuses, output, the files written, and
// that neither changes the registry it looks at.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <variant>

#include "diagnosis/policy_file.h"
#include "formats/reg_file.h"
#include "platform/hive_store.h"
#include "tests/support/case_name.h"
#include "tests/support/cli_run.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::contains;
using testing::kRestrictionsKey;
using testing::readFile;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

using Outcome = testing::CliOutcome;

class ReportCommands : public ::testing::Test {
protected:
    ReportCommands() {
        fs::create_directories(prefix() / "drive_c" / "windows" / "system32");
        testing::copyFixtureHives(prefix());
    }

    fs::path prefix() const { return dir_.path() / "prefix"; }

    // `wrapper` runs the program: a shell that limits it, say.
    Outcome run(const std::string& arguments, const std::string& registry = "",
                const std::string& wrapper = "") const {
        const std::string where =
            registry == "own" ? ""
                              : " --registry " + (registry.empty() ? prefix().string() : registry);
        return testing::runCommandLine(
            "env -u WINEPREFIX XDG_DATA_HOME=" + (dir_.path() / "data").string() +
                " QUORVANE_CONFIG=" + (dir_.path() / "none.ini").string() +
                " XDG_CONFIG_HOME=" + (dir_.path() / "config").string() + " " + wrapper +
                QUORVANE_CLI + where + " " + arguments,
            dir_.path());
    }

    void put(platform::KeyHandle root, const char* subKey, const char* name,
             const testing::Stored& value) const {
        platform::HiveStore store(prefix());
        testing::put(store, root, subKey, name, value);
    }

    std::string hives() const {
        return readFile(prefix() / "user.reg") + readFile(prefix() / "system.reg");
    }

    testing::TempDir dir_;
};

TEST_F(ReportCommands, WhyExitsFourWhenSomethingSetsARestrictionAgain) {
    put(platform::kCurrentUser, kRunKey, "Relock", testing::sz(testing::relock("NoBrowserClose")));
    const std::string before = hives();

    const Outcome all = run("why");
    EXPECT_EQ(all.status, 4) << all.out << all.err;
    EXPECT_TRUE(contains(all.out, "sets 4 Closing Internet Explorer (NoBrowserClose)"));
    EXPECT_EQ(run("why NoBrowserClose").status, 4);
    EXPECT_EQ(run("why 1 23").status, 0) << "nothing sets these two";

    const Outcome json = run("why --json 4");
    ASSERT_EQ(json.status, 4) << json.err;
    const nlohmann::json report = nlohmann::json::parse(json.out, nullptr, false);
    const nlohmann::json returning = report.value("returning", nlohmann::json::array());
    ASSERT_EQ(returning.size(), 1u) << json.out;
    EXPECT_EQ(returning[0]["item"], "Relock");
    EXPECT_EQ(returning[0]["restrictions"], nlohmann::json::array({4}));
    EXPECT_EQ(report["restrictions"].size(), 1u);

    EXPECT_EQ(hives(), before) << "why only reads";
}

TEST_F(ReportCommands, WhyOnACleanPrefixOrTheOwnStoreFindsNothing) {
    const Outcome clean = run("why");
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_TRUE(contains(clean.out, "nothing found"));

    const Outcome own = run("why", "own");
    EXPECT_EQ(own.status, 0) << own.err;
    EXPECT_TRUE(contains(own.out, "own registry store is no Windows installation"));
}

TEST_F(ReportCommands, HelpWorksAfterWhyAndExport) {
    for (const char* arguments : {"why --help", "export --help", "why -h --json 4"}) {
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 0) << arguments << ": " << outcome.err;
        EXPECT_TRUE(contains(outcome.out, "Commands:")) << arguments;
    }
}

// Files placed to make `why` hang, lead it out of the prefix, or disclose what its user may not
// read: it finishes, reads none of them, and says which it left alone.
struct Hazard {
    const char* what;
    std::function<void(const fs::path& prefix, const fs::path& outside)> place;
    const char* note;  // a part of the note that names what was left alone
    bool asRoot;       // the prefix belongs to another user, and root runs why
};
class WhyHazards : public ReportCommands, public ::testing::WithParamInterface<Hazard> {};

TEST_P(WhyHazards, FinishHonestlyWithoutReadingThem) {
    if (GetParam().asRoot && ::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const fs::path outside = dir_.path() / "outside";
    fs::create_directories(outside);
    testing::writeFile(outside / "secret.txt", "SECRET-LINE\r\nreg add X /v NoFileNew /d 1\r\n");
    ::chmod((outside / "secret.txt").c_str(), 0600);
    if (GetParam().asRoot) {
        ASSERT_EQ(std::system(("chown -R nobody " + prefix().string()).c_str()), 0);
    }
    GetParam().place(prefix(), outside);  // what it makes stays root's
    const Outcome outcome = run("why", "", "timeout 60 ");
    EXPECT_NE(outcome.status, 124) << "why hung";
    EXPECT_FALSE(contains(outcome.out, "SECRET")) << outcome.out;
    EXPECT_TRUE(contains(outcome.out, GetParam().note)) << outcome.out << outcome.err;
}

const fs::path kStartup = fs::path("drive_c") / "users" / "a" / "AppData" / "Roaming" /
                          "Microsoft" / "Windows" / "Start Menu" / "Programs" / "Startup";
const fs::path kSystem = fs::path("drive_c") / "windows" / "system32";

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
             testing::put(store, platform::kCurrentUser, kRunKey, "Escape",
                          testing::sz("regedit /s C:\\..\\..\\..\\..\\..\\..\\..\\..\\..\\.." +
                                      outside.string() + "/fifo.reg"));
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
    testing::CaseName());

TEST_F(ReportCommands, ExportWritesBothHivesAndThePolicyInForce) {
    put(platform::kCurrentUser, kRestrictionsKey, "NoViewSource", testing::dword(1));
    put(platform::kLocalMachine, kRestrictionsKey, "NoPrinting", testing::dword(5));
    // A title stored without its terminating NUL, as other writers may leave it.
    testing::writeFile(prefix() / "system.reg",
                       readFile(prefix() / "system.reg") +
                           "\n[Software\\\\Microsoft\\\\Internet Explorer\\\\Main] 0\n"
                           "\"Window Title\"=hex(1):4f,00,77,00,6e,00,65,00,64,00\n");
    const std::string owned("O\0w\0n\0e\0d\0\0\0", 12);  // as UTF-16, with its NUL
    const std::string before = hives();

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
    EXPECT_EQ(present[0].second.data, testing::dword(1).bytes);
    EXPECT_EQ(present[1].first, u"HKEY_LOCAL_MACHINE" + restrictions);
    EXPECT_EQ(present[1].second.data, testing::dword(5).bytes);
    EXPECT_EQ(present[1].second.type, platform::kRegDword);
    EXPECT_EQ(present[2].second.data, owned);

    const fs::path polFile = dir_.path() / "state.pol";
    const Outcome policy = run("export --policy user " + polFile.string());
    ASSERT_EQ(policy.status, 0) << policy.err;
    const diagnosis::PolicyFile pol = diagnosis::readPolicyFile(readFile(polFile));
    ASSERT_FALSE(pol.damage);
    ASSERT_EQ(pol.records.size(), 2u) << "in force is read from the per-user hive";
    EXPECT_EQ(pol.records[0].value, u"NoViewSource");
    EXPECT_EQ(pol.records[0].data, std::string("\1\0\0\0", 4));
    EXPECT_EQ(pol.records[1].data, owned);
    ASSERT_EQ(run("export --policy machine " + polFile.string()).status, 0);
    const diagnosis::PolicyFile machine = diagnosis::readPolicyFile(readFile(polFile));
    ASSERT_EQ(machine.records.size(), 2u) << "in force is read from the machine hive";
    EXPECT_EQ(machine.records[0].value, u"NoPrinting");
    EXPECT_EQ(machine.records[1].data, owned);

    EXPECT_EQ(hives(), before) << "export only reads";
}

// A full disk (a file size limit of 1 KB stands in for it: the export's writes fail as on a full
// disk, the message still fits), a folder
// that is missing, a name that is a folder: nothing is claimed, nothing is left behind.
TEST_F(ReportCommands, ExportThatCannotBeWrittenSaysSoAndLeavesNothing) {
    const fs::path out = dir_.path() / "out";
    fs::create_directory(out);
    fs::create_directory(out / "taken.reg");
    testing::writeFile(out / "full.reg", "the previous export");
    const std::pair<std::string, std::string> cases[] = {
        {"sh -c 'trap \"\" XFSZ; ulimit -f 2; exec \"$0\" \"$@\"' ", (out / "full.reg").string()},
        {"", (out / "missing" / "state.reg").string()},
        {"", (out / "taken.reg").string()},
    };
    for (const auto& [wrapper, file] : cases) {
        const Outcome outcome = run("export " + file, "", wrapper);
        EXPECT_EQ(outcome.status, 3) << file << ": " << outcome.err;
        EXPECT_TRUE(contains(outcome.err, "was not written"));
        EXPECT_TRUE(outcome.out.empty()) << outcome.out;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"full.reg", "taken.reg"}));
    EXPECT_EQ(readFile(out / "full.reg"), "the previous export");
}

}  // namespace
}  // namespace quorvane
