#include "bench/bench_support.h"

#include <vector>

namespace quorvane::bench {

namespace {

// Set when any benchmark could not do its work, so that the program fails as a whole.
bool anyFailed = false;

}  // namespace

void fail(benchmark::State& state, const std::string& why) {
    anyFailed = true;
    state.SkipWithError(why.c_str());
}

int runBenchmarks(int argc, char** argv) {
    std::vector<char*> args{argv[0]};
    std::string repetitions = "--benchmark_repetitions=10";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    args.push_back(repetitions.data());
    args.push_back(aggregates.data());
    args.insert(args.end(), argv + 1, argv + argc);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return anyFailed ? 1 : 0;
}

}  // namespace quorvane::bench
