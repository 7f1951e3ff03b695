// The time of "why does it come back?": opening the registry and looking at every place that may
// set a restriction again, as `quorvane-cli why` does, on the fixture prefix as it is and on a
// prefix laid out with the folders Windows keeps (policy files, tasks, startup items); and the
// whole `quorvane-cli why` process on the fixture prefix.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "diagnosis/diagnosis.h"
#include "diagnosis/policy_file.h"
#include "platform/hive_store.h"
#include "toolkit/message_box.h"

namespace {

namespace fs = std::filesystem;
using quorvane::bench::fail;
using quorvane::bench::ScratchPrefix;
using quorvane::testing::utf16WithBom;
namespace diagnosis = quorvane::diagnosis;
namespace platform = quorvane::platform;

class SilentMessages final : public quorvane::toolkit::MessageBox {
public:
    void show(const std::string&, int, const std::string&) override {}
};

void write(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// What a lived-in Windows has: local and cached policy files of 100 records, 60 scheduled
// tasks, a dozen startup files, one of each a restriction comes back from.
void layOutFolders(const fs::path& prefix) {
    const fs::path driveC = prefix / "drive_c";
    const fs::path system32 = driveC / "windows" / "system32";
    std::vector<diagnosis::PolicyRecord> records;
    for (int i = 0; i < 100; ++i) {
        records.push_back({u"Software\\Policies\\Vendor\\Product",
                           u"Setting" + std::u16string(1, u'A' + i % 26), 4,
                           std::string("\1\0\0\0", 4)});
    }
    records.push_back({u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                       u"DisableRegistryTools", 4, std::string("\1\0\0\0", 4)});
    const std::string policy = diagnosis::writePolicyFile(records);
    write(system32 / "GroupPolicy" / "Machine" / "Registry.pol", policy);
    write(system32 / "GroupPolicy" / "User" / "Registry.pol", policy);
    for (int i = 0; i < 5; ++i) {
        write(driveC / "ProgramData" / "Microsoft" / "Group Policy" / "History" /
                  ("{GPO-" + std::to_string(i) + "}") / "Machine" / "Registry.pol",
              policy);
    }
    for (int i = 0; i < 60; ++i) {
        const std::string command = i == 0 ? "regedit" : "C:\\Program Files\\App\\update.exe";
        write(system32 / "Tasks" / "Vendor" / ("Task " + std::to_string(i)),
              utf16WithBom("<?xml version=\"1.0\" encoding=\"UTF-16\"?><Task version=\"1.2\">"
                           "<Triggers><LogonTrigger/></Triggers><Actions Context=\"Author\"><Exec>"
                           "<Command>" +
                           command +
                           "</Command><Arguments>/s lock.reg</Arguments></Exec>"
                           "</Actions></Task>"));
    }
    const fs::path startup = driveC / "users" / "bench" / "AppData" / "Roaming" / "Microsoft" /
                             "Windows" / "Start Menu" / "Programs" / "Startup";
    for (int i = 0; i < 12; ++i) {
        write(startup / ("item" + std::to_string(i) + ".cmd"),
              i == 0 ? "reg add \"HKCU\\Software\\Policies\\Microsoft\\Internet "
                       "Explorer\\Restrictions\" /v NoBrowserClose /d 1 /f\r\n"
                     : "start C:\\Tools\\tool" + std::to_string(i) + ".exe\r\n");
    }
}

// One `why`: the registry opened afresh, every place looked at, the report written.
void runWhy(benchmark::State& state, const fs::path& prefix, bool expectReturning) {
    SilentMessages messages;
    for (auto _ : state) {
        platform::HiveStore store(prefix);
        quorvane::registry::General2 general(store, messages);
        const diagnosis::Report report =
            diagnosis::diagnose(store, general, diagnosis::prefixPlaces(prefix), {});
        const std::string text = diagnosis::formatReport(report);
        benchmark::DoNotOptimize(text);
        if (report.somethingReturns() != expectReturning) {
            fail(state, "the report is not the one expected:\n" + text);
        }
    }
}

void WhyOnFixturePrefix(benchmark::State& state) {
    const ScratchPrefix prefix;
    runWhy(state, prefix.path(), false);
}
BENCHMARK(WhyOnFixturePrefix)->Unit(benchmark::kMillisecond)->UseRealTime();

void WhyOnLaidOutPrefix(benchmark::State& state) {
    const ScratchPrefix prefix;
    layOutFolders(prefix.path());
    runWhy(state, prefix.path(), true);
}
BENCHMARK(WhyOnLaidOutPrefix)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole program as a user starts it (through /bin/sh, which adds about a millisecond).
void WhyCommandProcess(benchmark::State& state) {
    const ScratchPrefix prefix;
    const std::string command = "QUORVANE_CONFIG=/nonexistent " QUORVANE_CLI " --registry '" +
                                prefix.path().string() + "' why >/dev/null 2>&1";
    for (auto _ : state) {
        const int status = std::system(command.c_str());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fail(state, "quorvane-cli why failed");
        }
    }
}
BENCHMARK(WhyCommandProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return quorvane::bench::runBenchmarks(argc, argv);
}
