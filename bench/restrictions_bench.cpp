// How long the user waits for the restriction work: the detection the window runs when it
// loads, remove-all, and `quorvane-cli list` as a whole process next to `wine reg query` of one
// value on the same Wine prefix. Wall-clock time; bench/README.md gives targets and figures.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/hive_store.h"
#include "registry/registry_settings_store.h"
#include "restrictions/restriction_manager.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace quorvane;
using bench::fail;
using bench::ScratchPrefix;

using bench::NoEvents;
using bench::SilentMessages;

// The restriction logic wired as the window wires it, over a store on `directory`.
struct Window {
    explicit Window(const fs::path& directory) : store(directory) {
        boxes.setClickHandler([this](int number) { manager.SwitchRestriction(number); });
    }

    platform::HiveStore store;
    SilentMessages messages;
    NoEvents events;
    registry::RegistrySettingsStore settings{store};
    toolkit::CheckBoxBank boxes{restrictions::kRestrictionCount};
    restrictions::RestrictionManager manager{
        {store, settings, events, messages, boxes, toolkit::Configuration()}};
};

void setValue(platform::RegistryApi& registry, platform::KeyHandle root, const char* subKey,
              const char* name, std::uint32_t type, const std::string& data) {
    platform::KeyHandle key = 0;
    if (registry.createKey(root, subKey, key) != platform::kSuccess ||
        registry.setValue(key, name, type, reinterpret_cast<const std::uint8_t*>(data.data()),
                          static_cast<std::uint32_t>(data.size())) != platform::kSuccess) {
        throw std::runtime_error(std::string("cannot seed ") + name);
    }
    registry.closeKey(key);
}

// Every restriction in force in the per-user hive, as a policy tool leaves them; the machine
// hive holds the window title only. Detection then rewrites all 23 into the machine hive.
void seedAllInForce(const fs::path& directory, bool bothHives) {
    platform::HiveStore store(directory);
    platform::BatchScope batch(store);
    const std::string one("\1\0\0\0", 4);
    for (const auto& restriction : restrictions::kCatalogue) {
        if (restriction.kind == restrictions::Kind::String) {
            setValue(store, platform::kLocalMachine, restriction.subKey, restriction.valueName,
                     platform::kRegSz, std::string("Kiosk", 6));
            continue;
        }
        setValue(store, platform::kCurrentUser, restriction.subKey, restriction.valueName,
                 platform::kRegDword, one);
        if (bothHives) {
            setValue(store, platform::kLocalMachine, restriction.subKey, restriction.valueName,
                     platform::kRegDword, one);
        }
    }
}

// A seeded prefix to copy from, so that each repetition starts from the same files.
class SeededPrefix {
public:
    explicit SeededPrefix(bool bothHives) { seedAllInForce(template_.path(), bothHives); }

    void copyTo(const fs::path& directory) const {
        for (const char* name : {"system.reg", "user.reg"}) {
            fs::copy_file(template_.path() / name, directory / name,
                          fs::copy_options::overwrite_existing);
        }
    }

private:
    ScratchPrefix template_;
};

void LoadTimeDetection(benchmark::State& state) {
    const SeededPrefix seeded(false);
    ScratchPrefix prefix;
    for (auto _ : state) {
        state.PauseTiming();
        seeded.copyTo(prefix.path());
        auto window = std::make_unique<Window>(prefix.path());
        state.ResumeTiming();
        const restrictions::Outcome outcome = window->manager.RefreshRestrictionStates();
        state.PauseTiming();
        if (window->boxes.state(23) != toolkit::kChecked || !outcome.allDone()) {
            fail(state, "detection did not find restriction 23 or could not store");
        }
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(LoadTimeDetection)->Unit(benchmark::kMillisecond)->UseRealTime();

void RemoveAllWithAll24InForce(benchmark::State& state) {
    const SeededPrefix seeded(true);
    ScratchPrefix prefix;
    for (auto _ : state) {
        state.PauseTiming();
        seeded.copyTo(prefix.path());
        auto window = std::make_unique<Window>(prefix.path());
        window->manager.RefreshRestrictionStates();
        state.ResumeTiming();
        window->manager.RemoveAllRestrictions();
        state.PauseTiming();
        if (window->boxes.state(4) != toolkit::kUnchecked ||
            testing::readFile(prefix.path() / "system.reg").find("NoBrowserClose") !=
                std::string::npos) {
            fail(state, "remove-all left a restriction behind");
        }
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(RemoveAllWithAll24InForce)->Unit(benchmark::kMillisecond)->UseRealTime();

// Runs a program to its end with its output thrown away; its exit status.
int runQuietly(std::vector<std::string> arguments, const std::vector<std::string>& environment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    for (char** variable = environ; *variable != nullptr; ++variable) {
        variables.emplace_back(*variable);
    }
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A real Wine prefix made by Wine itself, with the restrictions seeded, for both tools to read.
class WinePrefix {
public:
    WinePrefix() {
        environment_ = {"WINEPREFIX=" + prefix_.path().string(), "WINEDEBUG=-all",
                        "WINEDLLOVERRIDES=mscoree=;mshtml="};
        run({"wineboot", "-i"});
        stopServer();
        seedAllInForce(prefix_.path(), true);
    }
    ~WinePrefix() { stopServer(); }

    int run(std::vector<std::string> arguments) const {
        return runQuietly(std::move(arguments), environment_);
    }
    // The store refuses a prefix whose wineserver runs, and `wine reg` without one is what a
    // user meets on the first call.
    void stopServer() const {
        run({"wineserver", "-k"});
        run({"wineserver", "-w"});
    }
    const fs::path& path() const { return prefix_.path(); }

private:
    ScratchPrefix prefix_;
    std::vector<std::string> environment_;
};

const WinePrefix& winePrefix() {
    static const WinePrefix prefix;
    return prefix;
}

void CliListProcess(benchmark::State& state) {
    const WinePrefix& prefix = winePrefix();
    for (auto _ : state) {
        if (runQuietly({QUORVANE_CLI, "--registry", prefix.path().string(), "list"}, {}) != 0) {
            fail(state, "quorvane-cli list failed");
        }
    }
}
BENCHMARK(CliListProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void WineRegQueryOneValue(benchmark::State& state) {
    const WinePrefix& prefix = winePrefix();
    for (auto _ : state) {
        const int status =
            prefix.run({"wine", "reg", "query",
                        "HKCU\\Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions",
                        "/v", "NoBrowserClose"});
        state.PauseTiming();
        if (status != 0) {
            fail(state, "wine reg query failed");
        }
        prefix.stopServer();
        state.ResumeTiming();
    }
}
BENCHMARK(WineRegQueryOneValue)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return quorvane::bench::runBenchmarks(argc, argv);
}
