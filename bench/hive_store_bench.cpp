// How fast the hive-file store opens a Wine prefix, reads one policy value and stores one, on
// fresh copies of a real prefix's hives. Wall-clock time throughout: a write waits for the disk,
// and that wait is what a user sees. bench/README.md gives the targets and the figures measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/measured_keys.h"
#include "platform/hive_file.h"
#include "platform/hive_io.h"
#include "platform/hive_store.h"
#include "restrictions/catalogue.h"

namespace {

namespace fs = std::filesystem;
using quorvane::bench::fail;
using quorvane::bench::ScratchPrefix;
using quorvane::testing::readFile;
namespace hive = quorvane::platform::hive;
using quorvane::platform::BatchScope;
using quorvane::platform::HiveStore;
using quorvane::platform::KeyHandle;
using quorvane::platform::kKeyRead;
using quorvane::platform::kLocalMachine;
using quorvane::platform::kRegDword;
using quorvane::platform::kSuccess;
using quorvane::platform::Status;

using namespace quorvane::bench;
constexpr int kBatchSize = 100;

bool readDword(HiveStore& store, KeyHandle key, std::uint32_t& data) {
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    const Status status =
        store.queryValue(key, kReadValue, &type, reinterpret_cast<std::uint8_t*>(&data), &size);
    return status == kSuccess && type == kRegDword && size == sizeof data;
}

Status writeDword(HiveStore& store, KeyHandle key, const std::string& name, std::uint32_t data) {
    return store.setValue(key, name, kRegDword, reinterpret_cast<const std::uint8_t*>(&data),
                          sizeof data);
}

// The value line Wine would write for `name` = `data`, to find it in the file afterwards.
std::string dwordLine(const std::string& name, std::uint32_t data) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", data);
    return "\"" + name + "\"=dword:" + digits + "\n";
}

void OpenStore(benchmark::State& state) {
    ScratchPrefix prefix;
    for (auto _ : state) {
        HiveStore store(prefix.path());
        benchmark::DoNotOptimize(&store);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(fs::file_size(prefix.path() / "system.reg") +
                                                      fs::file_size(prefix.path() / "user.reg")));
}

void ReadDwordOpenQueryClose(benchmark::State& state) {
    ScratchPrefix prefix;
    HiveStore store(prefix.path());
    std::uint32_t data = 0;
    for (auto _ : state) {
        KeyHandle key = 0;
        if (store.openKey(kLocalMachine, kReadKey, kKeyRead, key) != kSuccess ||
            !readDword(store, key, data) || store.closeKey(key) != kSuccess) {
            fail(state, "the DWORD could not be read");
            break;
        }
        benchmark::DoNotOptimize(data);
    }
}

void ReadDwordQueryOnly(benchmark::State& state) {
    ScratchPrefix prefix;
    HiveStore store(prefix.path());
    KeyHandle key = 0;
    if (store.openKey(kLocalMachine, kReadKey, kKeyRead, key) != kSuccess) {
        fail(state, "the key could not be opened");
        return;
    }
    std::uint32_t data = 0;
    for (auto _ : state) {
        if (!readDword(store, key, data)) {
            fail(state, "the DWORD could not be read");
            break;
        }
        benchmark::DoNotOptimize(data);
    }
    store.closeKey(key);
}

// The key the write benchmarks write into; false (and the benchmark failed) when it cannot be made.
bool makeWriteKey(benchmark::State& state, HiveStore& store, KeyHandle& key) {
    if (store.createKey(kLocalMachine, kWriteKey, key) != kSuccess) {
        fail(state, "the key could not be made");
        return false;
    }
    return true;
}

// Each call changes the value (it alternates), so each one stores system.reg anew; the file is
// checked afterwards to hold the last value written.
void WriteDword(benchmark::State& state) {
    ScratchPrefix prefix;
    HiveStore store(prefix.path());
    KeyHandle key = 0;
    if (!makeWriteKey(state, store, key)) {
        return;
    }
    std::uint32_t data = 0;
    for (auto _ : state) {
        data ^= 1;
        if (writeDword(store, key, kWriteValue, data) != kSuccess) {
            fail(state, "the write failed: " + store.lastFailure());
            break;
        }
    }
    if (readFile(prefix.path() / "system.reg").find(dwordLine(kWriteValue, data)) ==
        std::string::npos) {
        fail(state, "the last value written is not in system.reg");
    }
    store.closeKey(key);
}

// One action that sets 100 values: all writes held back, stored together when the batch ends.
void WriteHundredDwordsInOneBatch(benchmark::State& state) {
    ScratchPrefix prefix;
    HiveStore store(prefix.path());
    KeyHandle key = 0;
    if (!makeWriteKey(state, store, key)) {
        return;
    }
    std::vector<std::string> names;
    for (int i = 0; i < kBatchSize; ++i) {
        names.push_back(kWriteValue + std::to_string(i));
    }
    std::uint32_t data = 0;
    for (auto _ : state) {
        data ^= 1;
        BatchScope batch(store);
        for (const std::string& name : names) {
            writeDword(store, key, name, data);
        }
        if (const auto failures = batch.finish(); !failures.empty()) {
            fail(state, "the batch failed: " + failures.front().reason);
            break;
        }
    }
    const std::string text = readFile(prefix.path() / "system.reg");
    for (const std::string& name : names) {
        if (text.find(dwordLine(name, data)) == std::string::npos) {
            fail(state, "a value of the batch is not in system.reg");
            break;
        }
    }
    store.closeKey(key);
    state.SetItemsProcessed(state.iterations() * kBatchSize);
}

// Where the time of a write goes: the parts of one store, apart.
void PartParseSystemHive(benchmark::State& state) {
    const std::string text = readFile(fs::path(QUORVANE_FIXTURE_DIR) / "system.reg");
    for (auto _ : state) {
        hive::Document document = hive::Document::parse(text);
        benchmark::DoNotOptimize(&document);
    }
}

// A hive shaped like a real machine hive, about 58 MB, with its sections listed in shuffled
// order: a file written by hand or by another tool need not follow Wine's order, and loading must
// stay linear in it. Most keys are siblings under a few parents (file types, class ids, each class
// id with two subkeys of its own); the rest are deep chains (services with nested settings).
constexpr int kExtensions = 85'000;
constexpr int kClassIds = 68'000;
constexpr int kServices = 3'000;
constexpr int kChainDepth = 12;
constexpr int kSections = kExtensions + 3 * kClassIds + kServices * kChainDepth;

std::string shuffledHive() {
    std::vector<std::string> paths;
    paths.reserve(kSections);
    char path[200];
    for (int i = 0; i < kExtensions; ++i) {
        std::snprintf(path, sizeof path, "Software\\\\Classes\\\\.ext%06d", i);
        paths.emplace_back(path);
    }
    for (int i = 0; i < kClassIds; ++i) {
        std::snprintf(path, sizeof path,
                      "Software\\\\Classes\\\\CLSID\\\\{%08X-1234-4ABC-8DEF-%012X}",
                      i * 2654435761u, static_cast<unsigned>(i));
        paths.emplace_back(path);
        paths.push_back(paths.back() + "\\\\InprocServer32");
        paths.push_back(paths[paths.size() - 2] + "\\\\ProgID");
    }
    for (int i = 0; i < kServices; ++i) {
        std::snprintf(path, sizeof path, "System\\\\CurrentControlSet\\\\Services\\\\Svc%05d", i);
        std::string chain = path;
        for (int level = 0; level < kChainDepth; ++level) {
            paths.push_back(chain);
            chain += "\\\\Level" + std::to_string(level);
        }
    }
    std::shuffle(paths.begin(), paths.end(), std::mt19937(20261207));
    std::string text = hive::Document::headerFor("REGISTRY\\\\Machine");
    char values[200];
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::snprintf(values, sizeof values,
                      "] 1796597521\n#time=1dd85d468358468\n@=\"shuffled value %06zu\"\n"
                      "\"Data\"=\"shuffled value %06zu\"\n\"Flags\"=dword:%08zx\n",
                      i, i, i);
        text += "\n[";
        text += paths[i];
        text += values;
    }
    return text;
}

void ParseShuffledHive(benchmark::State& state) {
    const std::string text = shuffledHive();
    for (auto _ : state) {
        // The store hands the text it read over to the parser; copying it is no part of that.
        state.PauseTiming();
        std::string copy = text;
        state.ResumeTiming();
        hive::Document document = hive::Document::parse(std::move(copy));
        hive::Key* classes = document.root().child(u"software")->child(u"classes");
        hive::Key* clsid = classes == nullptr ? nullptr : classes->child(u"clsid");
        hive::Key* services = document.root().child(u"system");
        for (const char16_t* name : {u"currentcontrolset", u"services", u"svc01234"}) {
            services = services == nullptr ? nullptr : services->child(name);
        }
        for (int level = 0; level + 1 < kChainDepth && services != nullptr; ++level) {
            const std::string name = "level" + std::to_string(level);
            services = services->child(std::u16string(name.begin(), name.end()));
        }
        if (clsid == nullptr || classes->children().size() != kExtensions + 1 ||
            clsid->children().size() != kClassIds ||
            clsid->children()[4321]->children().size() != 2 || services == nullptr) {
            fail(state, "the shuffled keys did not all load");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void PartSerializeSystemHive(benchmark::State& state) {
    hive::Document document =
        hive::Document::parse(readFile(fs::path(QUORVANE_FIXTURE_DIR) / "system.reg"));
    for (auto _ : state) {
        std::string text = document.serialize();
        benchmark::DoNotOptimize(text.data());
    }
}

// The prefix opened as the store opens it: every file is reached relative to the directory.
class OpenDirectory {
public:
    explicit OpenDirectory(const fs::path& path) : directory_(hive::openDirectory(path)) {}
    const quorvane::formats::Folder& get() const { return directory_; }

private:
    quorvane::formats::Folder directory_;
};

void PartReplaceSystemHive(benchmark::State& state) {
    ScratchPrefix prefix;
    const OpenDirectory directory(prefix.path());
    const std::string text = readFile(prefix.path() / "system.reg");
    auto previous = hive::examineHive(directory.get(), "system.reg");
    for (auto _ : state) {
        previous = hive::replaceHive(directory.get(), "system.reg", text, previous);
    }
}

// A prefix whose system.reg has grown to about `megabytes` MB with keys nobody reads, as the
// classes of many installed programs make it grow: the keys read stay as in the fixture.
class GrownPrefix : public ScratchPrefix {
public:
    explicit GrownPrefix(std::int64_t megabytes) {
        if (megabytes == 0) {
            return;
        }
        std::ofstream out(path() / "system.reg", std::ios::app | std::ios::binary);
        std::string section;
        for (std::int64_t written = 0, n = 0; written < megabytes << 20; ++n) {
            section = "\n[Software\\\\Classes\\\\Bulk\\\\Program" + std::to_string(n) +
                      "] 1700000000\n#time=1da0b0c0d0e0f00\n";
            for (int v = 0; v < 5; ++v) {
                section += "\"Setting" + std::to_string(v) + "\"=\"some program's own text\"\n";
            }
            out << section;
            written += static_cast<std::int64_t>(section.size());
        }
    }
};

// What `list` reads: each restriction's value in both hives, the marker and the page values,
// through a store opened as the command opens it.
void readWhatListReads(benchmark::State& state, HiveStore& store) {
    std::uint8_t data[512];
    for (KeyHandle root : {quorvane::platform::kCurrentUser, kLocalMachine}) {
        const auto read = [&](const char* subKey, const char* name) {
            KeyHandle key = 0;
            if (store.openKey(root, subKey, kKeyRead, key) != kSuccess) {
                return;  // absent keys are what a fresh prefix has
            }
            std::uint32_t type = 0;
            std::uint32_t size = sizeof data;
            benchmark::DoNotOptimize(store.queryValue(key, name, &type, data, &size));
            store.closeKey(key);
        };
        for (const auto& restriction : quorvane::restrictions::kCatalogue) {
            read(restriction.subKey, restriction.valueName);
        }
        read("Software\\Microsoft\\Internet Explorer\\Main", "Start Page");
        read("Software\\Microsoft\\Internet Explorer\\Main", "Search Page");
        read("Software\\Quorvane\\Presets", "Keys");
    }
    KeyHandle key = 0;
    if (store.openKey(kLocalMachine, kReadKey, kKeyRead, key) != kSuccess) {
        fail(state, "a key every prefix has was not found");
    }
    store.closeKey(key);
}

// Opening the prefix to read and reading what `list` shows; the argument is the size system.reg
// has grown to in MB (0: the fixture's 1.7 MB).
void ListReadOnly(benchmark::State& state) {
    GrownPrefix prefix(state.range(0));
    for (auto _ : state) {
        HiveStore store(prefix.path(), HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
        readWhatListReads(state, store);
    }
}

// The same through a store opened to change, which loads both hives whole: what every read cost
// before reads loaded only what they ask for.
void ListWholeHives(benchmark::State& state) {
    GrownPrefix prefix(state.range(0));
    for (auto _ : state) {
        HiveStore store(prefix.path());
        readWhatListReads(state, store);
    }
}

// The floor of ListReadOnly on a grown hive: finding the [path] lines of system.reg, which
// reads the whole file once, a piece at a time.
void PartScanGrownSystemHive(benchmark::State& state) {
    GrownPrefix prefix(state.range(0));
    const OpenDirectory directory(prefix.path());
    for (auto _ : state) {
        auto reader = hive::HiveReader::open(directory.get(), "system.reg");
        const hive::ScannedHive scanned(reader->size(),
                                        [&](std::size_t offset, char* out, std::size_t length) {
                                            reader->read(offset, out, length);
                                        });
        benchmark::DoNotOptimize(&scanned);
    }
}

BENCHMARK(ListReadOnly)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ListWholeHives)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PartScanGrownSystemHive)->Arg(0)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OpenStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadDwordOpenQueryClose)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ReadDwordQueryOnly)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(WriteDword)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteHundredDwordsInOneBatch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PartParseSystemHive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ParseShuffledHive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PartSerializeSystemHive)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PartReplaceSystemHive)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// Repetitions with medians unless the command line says otherwise: a single run on a shared
// machine says little. Later flags win, so the caller's own come after these.
int main(int argc, char** argv) {
    return quorvane::bench::runBenchmarks(argc, argv);
}
