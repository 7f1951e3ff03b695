// What the benchmarks share: scratch copies of the fixture prefix, reading a file, failing a
// benchmark so that the program fails as a whole, and the defaults every run uses.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace quorvane::bench {

// Marks the benchmark failed; the program then exits with 1.
void fail(benchmark::State& state, const std::string& why);

std::string readText(const std::filesystem::path& file);

// A scratch prefix holding fresh, writable copies of the fixture hives; removed afterwards. It
// lies in the system's temporary directory (TMPDIR), never in the source tree.
class ScratchPrefix {
public:
    ScratchPrefix();
    ~ScratchPrefix();
    ScratchPrefix(const ScratchPrefix&) = delete;
    ScratchPrefix& operator=(const ScratchPrefix&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs the benchmarks with 10 repetitions and aggregates only, unless the arguments say
// otherwise; 1 when any benchmark failed.
int runBenchmarks(int argc, char** argv);

}  // namespace quorvane::bench
