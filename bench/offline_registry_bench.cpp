// How fast the offline registry opens a large SOFTWARE hive and reads the 24 restrictions, and how
// long one change takes to commit (a copy kept first, the new file written, flushed, read back
// and renamed over the hive). The hive is generated once: an empty hive from the tests' generator
// grown to about 100 MB (bench/large_hive.h).
// Wall-clock time: a commit waits for the disk. bench/README.md gives the targets and figures.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/bench_support.h"
#include "bench/large_hive.h"
#include "platform/offline_registry.h"
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

// One change in a session of its own: its copy of the hive kept, then the commit.
void BM_OfflineCommitOneChange(benchmark::State& state) {
    const fs::path& source = largeSoftware();
    quorvane::testing::TempDir folder;
    const fs::path software = folder.path() / "SOFTWARE";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder.path() / "backups");
        fs::copy_file(source, software, fs::copy_options::overwrite_existing);
        {
            OfflineRegistry registry(installation(software));
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
}
BENCHMARK(BM_OfflineCommitOneChange)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return quorvane::bench::runBenchmarks(argc, argv);
}
