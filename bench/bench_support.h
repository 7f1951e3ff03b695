// What the benchmarks share: scratch copies of the fixture prefix, failing a
// benchmark so that the program fails as a whole, and the defaults every run uses.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "toolkit/event_pump.h"
#include "toolkit/message_box.h"

namespace quorvane::bench {

// Marks the benchmark failed; the program then exits with 1.
void fail(benchmark::State& state, const std::string& why);

// A scratch prefix holding fresh, writable copies of the fixture hives, in the system's temporary
// directory (TMPDIR), never in the source tree; removed afterwards.
class ScratchPrefix : public testing::TempDir {
public:
    ScratchPrefix() { testing::copyFixtureHives(path()); }
};

// A message box that shows nothing, and an event pump with no events: the windows' services
// where no window is.
class SilentMessages final : public toolkit::MessageBox {
public:
    void show(const std::string&, int, const std::string&) override {}
};

class NoEvents final : public toolkit::EventPump {
public:
    void processPendingEvents() override {}
};

// Runs the benchmarks with 10 repetitions and aggregates only, unless the arguments say
// otherwise; 1 when any benchmark failed.
int runBenchmarks(int argc, char** argv);

}  // namespace quorvane::bench
