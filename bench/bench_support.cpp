#include "bench/bench_support.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace quorvane::bench {

namespace fs = std::filesystem;

namespace {

// Set when any benchmark could not do its work, so that the program fails as a whole.
bool anyFailed = false;

}  // namespace

void fail(benchmark::State& state, const std::string& why) {
    anyFailed = true;
    state.SkipWithError(why.c_str());
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ScratchPrefix::ScratchPrefix() {
    std::string pattern = (fs::temp_directory_path() / "quorvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary directory from " + pattern);
    }
    path_ = pattern;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        fs::copy_file(fs::path(QUORVANE_FIXTURE_DIR) / name, path_ / name);
        fs::permissions(path_ / name, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::add);
    }
}

ScratchPrefix::~ScratchPrefix() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
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
