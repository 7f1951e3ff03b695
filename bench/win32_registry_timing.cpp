// Times, through the real Win32 registry (under Wine: its wineserver), the same operations the
// hive-store benchmark times, so the two can be set side by side: one DWORD read (open + query +
// close, and query alone on an open key) and one DWORD write outside any batch.
//
// Each measurement is repeated; a repetition runs the operation many times and yields the mean
// time of one; the median of the repetitions is printed. It starts after a pause of 10 s (see
// Plan::settle). "--quick" runs few, at once, to check that the program works. The key written
// is removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/measured_keys.h"
#include "platform/win32_registry.h"

namespace {

using quorvane::platform::KeyHandle;
using quorvane::platform::kKeyRead;
using quorvane::platform::kLocalMachine;
using quorvane::platform::kRegDword;
using quorvane::platform::kSuccess;
using quorvane::platform::Status;
using quorvane::platform::Win32Registry;

using namespace quorvane::bench;

struct Plan {
    int repetitions;
    int readsPerRepetition;
    int writesPerRepetition;
    // Under Wine the first program of a prefix starts the prefix's own processes (services,
    // device manager, desktop), which load and write the registry through the same wineserver
    // for some seconds; measured meanwhile, a read takes up to twenty times as long.
    std::chrono::seconds settle;
};

struct Result {
    std::string name;
    std::vector<double> nanoseconds;  // mean time of one operation, per repetition
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs `operation` `count` times per repetition; false as soon as it reports a failure.
bool measure(Result& result, int repetitions, int count, const std::function<bool()>& operation) {
    // One round unmeasured, so that what the first call sets up is not counted.
    for (int i = 0; i < std::min(count, 100); ++i) {
        if (!operation()) {
            return false;
        }
    }
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            if (!operation()) {
                return false;
            }
        }
        const std::chrono::duration<double, std::nano> elapsed =
            std::chrono::steady_clock::now() - start;
        result.nanoseconds.push_back(elapsed.count() / count);
    }
    return true;
}

bool readDword(Win32Registry& registry, KeyHandle key) {
    std::uint32_t type = 0;
    std::uint32_t data = 0;
    std::uint32_t size = sizeof data;
    const Status status =
        registry.queryValue(key, kReadValue, &type, reinterpret_cast<std::uint8_t*>(&data), &size);
    return status == kSuccess && type == kRegDword && size == sizeof data;
}

void print(const Result& result) {
    const auto [low, high] =
        std::minmax_element(result.nanoseconds.begin(), result.nanoseconds.end());
    std::printf("%-36s median %12.3f us   min %12.3f us   max %12.3f us   (%zu repetitions)\n",
                result.name.c_str(), median(result.nanoseconds) / 1000, *low / 1000, *high / 1000,
                result.nanoseconds.size());
}

int run(const Plan& plan) {
    std::this_thread::sleep_for(plan.settle);
    Win32Registry registry;
    std::vector<Result> results;

    results.push_back({"read DWORD: open + query + close", {}});
    if (!measure(results.back(), plan.repetitions, plan.readsPerRepetition, [&] {
            KeyHandle key = 0;
            if (registry.openKey(kLocalMachine, kReadKey, kKeyRead, key) != kSuccess) {
                return false;
            }
            const bool read = readDword(registry, key);
            return registry.closeKey(key) == kSuccess && read;
        })) {
        std::fprintf(stderr, "cannot read HKLM\\%s\\%s\n", kReadKey, kReadValue);
        return 1;
    }

    KeyHandle readKey = 0;
    if (registry.openKey(kLocalMachine, kReadKey, kKeyRead, readKey) != kSuccess) {
        std::fprintf(stderr, "cannot open HKLM\\%s\n", kReadKey);
        return 1;
    }
    results.push_back({"read DWORD: query on an open key", {}});
    const bool queried = measure(results.back(), plan.repetitions, plan.readsPerRepetition,
                                 [&] { return readDword(registry, readKey); });
    registry.closeKey(readKey);
    if (!queried) {
        std::fprintf(stderr, "cannot query HKLM\\%s\\%s\n", kReadKey, kReadValue);
        return 1;
    }

    KeyHandle writeKey = 0;
    if (registry.createKey(kLocalMachine, kWriteKey, writeKey) != kSuccess) {
        std::fprintf(stderr, "cannot create HKLM\\%s\n", kWriteKey);
        return 1;
    }
    std::uint32_t data = 0;
    results.push_back({"write DWORD (alternating data)", {}});
    const bool written = measure(results.back(), plan.repetitions, plan.writesPerRepetition, [&] {
        data ^= 1;
        return registry.setValue(writeKey, kWriteValue, kRegDword,
                                 reinterpret_cast<const std::uint8_t*>(&data),
                                 sizeof data) == kSuccess;
    });
    // The last value must be there, or the loop timed calls that changed nothing.
    std::uint32_t stored = ~data;
    std::uint32_t type = 0;
    std::uint32_t size = sizeof stored;
    const bool readBack =
        registry.queryValue(writeKey, kWriteValue, &type, reinterpret_cast<std::uint8_t*>(&stored),
                            &size) == kSuccess &&
        type == kRegDword && stored == data;
    bool removed = registry.deleteValue(writeKey, kWriteValue) == kSuccess;
    registry.closeKey(writeKey);
    KeyHandle parent = 0;
    removed = removed && registry.openKey(kLocalMachine, kWriteParent,
                                          quorvane::platform::kKeyAllAccess, parent) == kSuccess;
    if (removed) {
        removed = registry.deleteKey(parent, kWriteSubKey) == kSuccess;
        registry.closeKey(parent);
    }
    if (!written || !readBack) {
        std::fprintf(stderr, "cannot write HKLM\\%s\\%s\n", kWriteKey, kWriteValue);
        return 1;
    }
    if (!removed) {
        std::fprintf(stderr, "cannot remove HKLM\\%s\n", kWriteKey);
        return 1;
    }

    for (const Result& result : results) {
        print(result);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Plan plan{15, 20'000, 2'000, std::chrono::seconds(10)};
    if (argc == 2 && std::string_view(argv[1]) == "--quick") {
        plan = {3, 200, 20, std::chrono::seconds(0)};
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
        return 2;
    }
    return run(plan);
}
