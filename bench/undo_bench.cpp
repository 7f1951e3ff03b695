// How long remove-all and its undo take when a policy key holds thousands of another program's
// values: remove-all keeps every one of them in its undo entry, and the undo puts every one back.
// Wall-clock time; bench/README.md gives targets and figures.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/bench_support.h"
#include "journal/undo.h"
#include "platform/hive_store.h"
#include "registry/registry_settings_store.h"
#include "restrictions/restriction_manager.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane;
using bench::fail;
using bench::ScratchPrefix;

constexpr const char* kRestrictionsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";

using bench::NoEvents;
using bench::SilentMessages;

// The restriction logic and the undo journal wired as the window wires them.
struct Window {
    explicit Window(const fs::path& registry) : store(registry) {
        boxes.setClickHandler([this](int number) { manager.SwitchRestriction(number); });
        boxes.setQuietly(4, toolkit::kChecked);  // NoBrowserClose is in force
    }

    platform::HiveStore store;
    journal::UndoJournal journal{store, {store.directory().parent_path() / "undo", "bench"}};
    SilentMessages messages;
    NoEvents events;
    registry::RegistrySettingsStore settings{store};
    toolkit::CheckBoxBank boxes{restrictions::kRestrictionCount};
    restrictions::RestrictionManager manager{
        {store, settings, events, messages, boxes, toolkit::Configuration(), &journal}};
};

std::uint32_t valueCount(platform::RegistryApi& registry) {
    platform::KeyHandle key = 0;
    if (registry.openKey(platform::kCurrentUser, kRestrictionsKey, platform::kKeyRead, key) !=
        platform::kSuccess) {
        return 0;
    }
    std::uint32_t count = 0;
    std::string name;
    std::uint32_t type = 0;
    std::string data;
    while (registry.enumValue(key, count, name, type, data) == platform::kSuccess) {
        ++count;
    }
    registry.closeKey(key);
    return count;
}

// A prefix whose per-user Restrictions key holds `count` values of another program beside
// NoBrowserClose, in force in both hives; copied afresh for each repetition.
class ForeignValues {
public:
    explicit ForeignValues(std::uint32_t count) {
        fs::create_directories(registry());
        fs::copy(template_.path() / "system.reg", registry() / "system.reg");
        fs::copy(template_.path() / "user.reg", registry() / "user.reg");
        platform::HiveStore store(registry());
        platform::BatchScope batch(store);
        for (const platform::KeyHandle root : {platform::kCurrentUser, platform::kLocalMachine}) {
            platform::KeyHandle key = 0;
            if (store.createKey(root, kRestrictionsKey, key) != platform::kSuccess) {
                throw std::runtime_error("cannot make the Restrictions key");
            }
            for (std::uint32_t i = 0; root == platform::kCurrentUser && i < count; ++i) {
                char name[32];
                std::snprintf(name, sizeof name, "Agent setting %05u", i);
                const std::string text = "C:\\Program Files\\Agent\\" + std::string(name) + '\0';
                if (store.setValue(key, name, platform::kRegSz,
                                   reinterpret_cast<const std::uint8_t*>(text.data()),
                                   static_cast<std::uint32_t>(text.size())) != platform::kSuccess) {
                    throw std::runtime_error("cannot seed the foreign values");
                }
            }
            const std::string one("\1\0\0\0", 4);
            if (store.setValue(key, "NoBrowserClose", platform::kRegDword,
                               reinterpret_cast<const std::uint8_t*>(one.data()),
                               4) != platform::kSuccess) {
                throw std::runtime_error("cannot seed NoBrowserClose");
            }
            store.closeKey(key);
        }
        if (!batch.finish().empty()) {
            throw std::runtime_error("cannot store the seeded hives");
        }
    }

    fs::path registry() const { return template_.path() / "registry"; }

    // A fresh copy in `directory`/registry, with an empty undo folder beside it.
    fs::path copyTo(const fs::path& directory) const {
        fs::remove_all(directory / "registry");
        fs::remove_all(directory / "undo");
        fs::create_directories(directory / "registry");
        for (const char* name : {"system.reg", "user.reg"}) {
            fs::copy_file(registry() / name, directory / "registry" / name);
        }
        return directory / "registry";
    }

private:
    ScratchPrefix template_;
};

// Remove-all, or (`undo`) the undo of remove-all, on a fresh copy of the seeded prefix each time.
void ForeignValuesKept(benchmark::State& state, bool undo) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const ForeignValues seeded(count);
    testing::TempDir scratch;
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<Window>(seeded.copyTo(scratch.path()));
        if (undo) {
            window->manager.RemoveAllRestrictions();
        }
        state.ResumeTiming();
        if (!undo) {
            const restrictions::Outcome outcome = window->manager.RemoveAllRestrictions();
            state.PauseTiming();
            if (!outcome.allDone() || valueCount(window->store) != 0 ||
                window->journal.entries().size() != 1) {
                fail(state, "remove-all left values behind or kept no entry");
            }
        } else {
            const journal::UndoResult undone = journal::undoLast(window->store, window->journal);
            state.PauseTiming();
            if (!undone.allDone() || undone.kind != journal::UndoResult::Kind::Undone ||
                valueCount(window->store) != count + 1) {
                fail(state, "the undo did not put every value back: " +
                                restrictions::describeRefusals(undone.outcome));
            }
        }
        window.reset();
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(ForeignValuesKept, RemoveAll, false)
    ->Arg(8000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(ForeignValuesKept, UndoOfRemoveAll, true)
    ->Arg(8000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv);
}
