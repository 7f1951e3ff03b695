// How fast the offline registry opens a large SOFTWARE hive and reads the 24 restrictions, and how
// long one change takes to commit (a copy kept first, the new file written, flushed, read back
// and renamed over the hive). The hive is generated once: an empty hive from the tests' generator
// filled through hivex to about 100 MB of keys and values, with the restrictions' policy keys.
// Wall-clock time: a commit waits for the disk. bench/README.md gives the targets and figures.
#include <benchmark/benchmark.h>
#include <hivex.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bench_support.h"
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

constexpr int kVendors = 720;
constexpr int kProductsPerVendor = 50;
constexpr std::size_t kValueSize = 1000;  // two values per product: ~100 MB in all

hive_node_h childOrAdd(hive_h* h, hive_node_h parent, const std::string& name) {
    const hive_node_h found = hivex_node_get_child(h, parent, name.c_str());
    return found != 0 ? found : hivex_node_add_child(h, parent, name.c_str());
}

// The restriction's key in the SOFTWARE hive: its path without the leading "Software\".
hive_node_h policyKey(hive_h* h, std::string path) {
    path = path.substr(path.find('\\') + 1);
    hive_node_h node = hivex_root(h);
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        node = childOrAdd(h, node, path.substr(start, end - start));
        start = end + 1;
    }
    return node;
}

void generate(const fs::path& file) {
    quorvane::testing::writeEmptyHive(file);
    hive_h* h = hivex_open(file.c_str(), HIVEX_OPEN_WRITE);
    if (h == nullptr) {
        throw std::runtime_error("hivex cannot open the empty hive");
    }
    std::string blob(kValueSize, '\x5A');
    std::string first = "Data";
    std::string second = "Other";
    const hive_node_h vendors = hivex_node_add_child(h, hivex_root(h), "Vendors");
    for (int v = 0; v < kVendors; ++v) {
        const hive_node_h vendor =
            hivex_node_add_child(h, vendors, ("Vendor" + std::to_string(v)).c_str());
        for (int p = 0; p < kProductsPerVendor; ++p) {
            const hive_node_h product =
                hivex_node_add_child(h, vendor, ("Product" + std::to_string(p)).c_str());
            const hive_set_value values[] = {
                {first.data(), hive_t_REG_BINARY, blob.size(), blob.data()},
                {second.data(), hive_t_REG_BINARY, blob.size(), blob.data()}};
            if (product == 0 || hivex_node_set_values(h, product, 2, values, 0) != 0) {
                throw std::runtime_error(std::string("hivex cannot fill the hive: ") +
                                         std::strerror(errno));
            }
        }
    }
    // Every restriction in force in the machine hive.
    std::string one("\1\0\0\0", 4);
    std::string title("T\0i\0t\0l\0e\0\0\0", 12);
    for (const auto& restriction : kCatalogue) {
        std::string name = restriction.valueName;
        const bool text = restriction.kind == quorvane::restrictions::Kind::String;
        const hive_set_value value{name.data(), text ? hive_t_REG_SZ : hive_t_REG_DWORD,
                                   text ? title.size() : one.size(),
                                   text ? title.data() : one.data()};
        hivex_node_set_value(h, policyKey(h, restriction.subKey), &value, 0);
    }
    if (hivex_commit(h, nullptr, 0) != 0) {
        throw std::runtime_error(std::string("hivex cannot write the hive: ") +
                                 std::strerror(errno));
    }
    hivex_close(h);
}

// The generated hive, made once per run.
const fs::path& largeSoftware() {
    static quorvane::testing::TempDir folder;
    static const fs::path file = [] {
        const fs::path made = folder.path() / "SOFTWARE";
        generate(made);
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
        if (!survey.damage.empty() || survey.keys < kVendors * kProductsPerVendor) {
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
