// How fast the offline registry opens a large SOFTWARE hive and reads the 24 restrictions, and how
// long one change takes to commit (a copy kept first, the new file written, flushed, read back
// and renamed over the hive). The hive is generated once: an empty hive from the tests' generator
// grown to about 100 MB (bench/large_hive.h).
// Wall-clock time: a commit waits for the disk. bench/README.md gives the targets and figures.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "bench/large_hive.h"
#include "platform/offline_hive_file.h"
#include "platform/offline_registry.h"
#include "platform/regf_cells.h"
#include "restrictions/catalogue.h"
#include "tests/support/empty_hive.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;
using quorvane::bench::fail;
using quorvane::restrictions::kCatalogue;

// The generated hive, made once per run.
const fs::path& largeSoftware() {
    static quorvane::testing::TempDir folder;
    static const fs::path file = [] {
        const fs::path made = folder.path() / "SOFTWARE";
        quorvane::testing::writeEmptyHive(made);
        quorvane::bench::growHive(made);
        return made;
    }();
    return file;
}

OfflineHives installation(const fs::path& software) {
    return {{software, "SOFTWARE"}, std::nullopt, software.parent_path() / "backups"};
}

// How many of the 24 restrictions the machine hive holds.
int restrictionsFound(RegistryApi& registry) {
    int found = 0;
    for (const auto& restriction : kCatalogue) {
        KeyHandle key = 0;
        if (registry.openKey(kLocalMachine, restriction.subKey, kKeyRead, key) != kSuccess) {
            continue;
        }
        std::uint8_t buffer[255];
        std::uint32_t size = sizeof buffer;
        found +=
            registry.queryValue(key, restriction.valueName, nullptr, buffer, &size) == kSuccess;
        registry.closeKey(key);
    }
    return found;
}

void BM_OfflineOpenAndListRestrictions(benchmark::State& state) {
    const fs::path& software = largeSoftware();
    state.counters["hive_MB"] = static_cast<double>(fs::file_size(software)) / 1e6;
    for (auto _ : state) {
        OfflineRegistry registry(installation(software));
        if (restrictionsFound(registry) != 24) {
            fail(state, "the 24 restrictions are not all read");
        }
    }
}
BENCHMARK(BM_OfflineOpenAndListRestrictions)->UseRealTime()->Unit(benchmark::kMillisecond);

// The whole hive walked as before its first change: every key, list, value and its data.
void BM_OfflineWholeWalk(benchmark::State& state) {
    const quorvane::platform::offline::HiveImage image = [] {
        const fs::path& software = largeSoftware();
        const auto folder = quorvane::formats::Folder::open(software.parent_path());
        if (!folder) {
            throw std::runtime_error(folder.failure().reason);
        }
        return quorvane::platform::offline::HiveImage::read(*folder, "SOFTWARE");
    }();
    for (auto _ : state) {
        const quorvane::platform::regf::Cells cells(image.bytes());
        const auto survey = cells.survey();
        if (!survey.damage.empty() || survey.keys < quorvane::bench::kGrownKeys) {
            fail(state, "the walk did not reach every key: " + survey.damage);
        }
        state.counters["keys"] = static_cast<double>(survey.keys);
    }
}
BENCHMARK(BM_OfflineWholeWalk)->UseRealTime()->Unit(benchmark::kMillisecond);

// One change in a session of its own: its copy of the hive kept, then the commit. The copy goes
// to the hive's own file system (`Backups::Beside`, where a link or reflink serves) or to a
// memory file system, as a live system's home folder is (`Backups::InMemory`).
enum class Backups { Beside, InMemory };
void BM_OfflineCommitOneChange(benchmark::State& state, Backups where) {
    const fs::path& source = largeSoftware();
    quorvane::testing::TempDir folder;
    const fs::path software = folder.path() / "SOFTWARE";
    const fs::path backups =
        where == Backups::Beside
            ? folder.path() / "backups"
            : fs::path("/dev/shm") / ("quorvane-bench-" + std::to_string(::getpid()));
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(backups);
        fs::copy_file(source, software, fs::copy_options::overwrite_existing);
        {
            OfflineRegistry registry({{software, "SOFTWARE"}, std::nullopt, backups});
            KeyHandle key = 0;
            if (registry.openKey(kLocalMachine, kCatalogue[0].subKey, kKeyAllAccess, key) !=
                kSuccess) {
                fail(state, "no restrictions key");
            }
            state.ResumeTiming();
            if (registry.deleteValue(key, kCatalogue[0].valueName) != kSuccess) {
                fail(state, "the change did not commit: " + registry.lastFailure());
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    fs::remove_all(backups);
}
BENCHMARK_CAPTURE(BM_OfflineCommitOneChange, BackupsBeside, Backups::Beside)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OfflineCommitOneChange, BackupsInMemory, Backups::InMemory)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return quorvane::bench::runBenchmarks(argc, argv);
}
