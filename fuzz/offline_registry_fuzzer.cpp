// Feeds arbitrary bytes, as a user's NTUSER.DAT, to the offline registry (hivex underneath) and
// checks what must hold for any file a Windows disk may hold, damaged or hostile:
//
//  1. Opening it either succeeds or is refused with a StoreError that names the file; a refusal
//     leaves the file as it was.
//  2. Every key reached by enumeration (bounded in depth and count) can be opened, and a value
//     listed once under its name is queried with the size it was listed with.
//  3. A change (a new key with a value) either takes effect, and a fresh registry on the file
//     reads it back, or fails with a reason and leaves the file byte for byte as it was.
//  4. Impose, lift and remove-all, as the command line runs them (each in a session of its own,
//     with its undo entry), neither abort nor hang, and every hive they write reads back whole:
//     hivex visits every key and value of it, and Samba's regtree lists it.
// A broken rule aborts, so that libFuzzer keeps the input.
#include <hivex.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "journal/undo_journal.h"
#include "platform/letter_case.h"
#include "platform/offline_registry.h"
#include "registry/general2.h"
#include "registry/registry_settings_store.h"
#include "restrictions/journal.h"
#include "restrictions/restriction_manager.h"
#include "tests/support/empty_hive.h"
#include "toolkit/check_boxes.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;

constexpr int kMaxDepth = 8;
constexpr int kMaxKeys = 2000;

[[noreturn]] void broken(const char* rule) {
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void save(const fs::path& file, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// A folder of this process's own, on a memory file system where there is one: every write
// flushes three times. libFuzzer may end without running exit handlers, so each run removes the
// folders of runs that are gone.
const fs::path& folder() {
    static const fs::path made = [] {
        const fs::path base =
            fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        const std::string prefix = "quorvane-offline-fuzz-";
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(base, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(prefix) &&
                !fs::exists("/proc/" + name.substr(prefix.size()), ignored)) {
                fs::remove_all(entry.path(), ignored);
            }
        }
        fs::path dir = base / (prefix + std::to_string(::getpid()));
        fs::create_directories(dir);
        quorvane::testing::writeEmptyHive(dir / "SOFTWARE");
        return dir;
    }();
    return made;
}

void walk(RegistryApi& registry, KeyHandle key, int depth, int& keys) {
    std::string name;
    std::uint32_t type = 0;
    std::string data;
    // A damaged hive may hold two values of one name; a query gives one of them.
    std::map<std::string, std::vector<std::size_t>> sizes;
    for (std::uint32_t index = 0;
         registry.enumValue(key, index, name, type, data) == kSuccess && index < 1000; ++index) {
        sizes[lowerCase(name)].push_back(data.size());
    }
    for (const auto& [listed, found] : sizes) {
        std::uint32_t size = 0;
        if (found.size() == 1 &&
            registry.queryValue(key, listed, nullptr, nullptr, &size) == kSuccess &&
            size != found.front()) {
            broken("a listed value is queried with the size it was listed with");
        }
    }
    for (std::uint32_t index = 0; registry.enumKey(key, index, name) == kSuccess; ++index) {
        if (depth >= kMaxDepth || ++keys > kMaxKeys) {
            return;
        }
        KeyHandle child = 0;
        // A name with a backslash in it is not one key's name to the registry's path syntax.
        if (name.find('\\') != std::string::npos || name.empty()) {
            continue;
        }
        if (registry.openKey(key, name, kKeyRead, child) == kSuccess) {
            walk(registry, child, depth + 1, keys);
            registry.closeKey(child);
        }
    }
}

struct Quiet final : quorvane::toolkit::MessageBox {
    void show(const std::string&, int, const std::string&) override {}
};
struct NoEvents final : quorvane::toolkit::EventPump {
    void processPendingEvents() override {}
};

bool regtreeLists(const fs::path& file) {
    static const bool there = std::system("command -v regtree >/dev/null 2>&1") == 0;
    return !there ||
           std::system(
               ("regtree -s /dev/null -F '" + file.string() + "' >/dev/null 2>&1").c_str()) == 0;
}

// hivex hands a value's type as it is stored, which may be no hive_type at all: nothing here
// reads it.
__attribute__((no_sanitize("enum"))) int anyValue(hive_h*, void*, hive_node_h, hive_value_h,
                                                  hive_type, std::size_t, const char*,
                                                  const char*) {
    return 0;
}

// Whether hivex visits every key and value of `file`, and Samba's regtree lists it wherever it
// listed the hive before the write (`before`): regtree itself gives up on some values Windows
// accepts, such as a REG_QWORD of other than 8 bytes.
bool readsBackWhole(const fs::path& file, const std::string& before) {
    hive_h* h = hivex_open(file.c_str(), 0);
    if (h == nullptr) {
        return false;
    }
    hivex_visitor visitor{};
    visitor.value_any = anyValue;
    const bool visited = hivex_visit(h, &visitor, sizeof visitor, nullptr, 0) == 0;
    hivex_close(h);
    if (!visited) {
        return false;
    }
    if (regtreeLists(file)) {
        return true;
    }
    const fs::path earlier = folder() / "before.hive";
    save(earlier, reinterpret_cast<const std::uint8_t*>(before.data()), before.size());
    return !regtreeLists(earlier);
}

OfflineHives hives();

// Runs restriction `number`'s imposing, its lifting, then remove-all on the hives.
void runActions(int number) {
    namespace toolkit = quorvane::toolkit;
    namespace restrictions = quorvane::restrictions;
    const fs::path user = folder() / "NTUSER.DAT";
    for (int action = 0; action < 3; ++action) {
        const std::string before = contents(user);
        try {
            OfflineRegistry registry(hives());
            Quiet quiet;
            NoEvents events;
            quorvane::registry::General2 general(registry, quiet);
            quorvane::registry::RegistrySettingsStore settings(registry);
            toolkit::CheckBoxBank boxes(restrictions::kRestrictionCount);
            quorvane::journal::UndoJournal journal(registry, {folder() / "undo", "fuzzed"});
            restrictions::RestrictionManager manager(
                {registry, settings, events, quiet, boxes, toolkit::Configuration{}, &journal});
            if (action < 2) {
                const restrictions::JournalEntry entry(&journal, "switch");
                BatchScope batch(registry);
                boxes.assign(number, action == 0 ? toolkit::kChecked : toolkit::kUnchecked);
                manager.SwitchRestriction(number);
            } else {
                for (const auto& restriction : restrictions::kCatalogue) {
                    boxes.assign(restriction.number, restrictions::isInForce(general, restriction)
                                                         ? toolkit::kChecked
                                                         : toolkit::kUnchecked);
                }
                boxes.setClickHandler([&](int clicked) { manager.SwitchRestriction(clicked); });
                manager.RemoveAllRestrictions();
            }
        } catch (const StoreError&) {
            // Refused as a whole: the file must be as it was (checked below).
        }
        if (contents(user) != before && !readsBackWhole(user, before)) {
            broken("every hive written reads back whole, by hivex and by regtree");
        }
    }
}

OfflineHives hives() {
    return {{folder() / "SOFTWARE", "SOFTWARE"},
            OfflineHive{folder() / "NTUSER.DAT", "fuzz"},
            folder() / "backups"};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path user = folder() / "NTUSER.DAT";
    save(user, data, size);
    const std::string before = contents(user);
    try {
        OfflineRegistry registry(hives());
        int keys = 0;
        walk(registry, kCurrentUser, 0, keys);

        // One batch: all of the change is written, or none of it.
        const std::string value = "fuzzed";
        KeyHandle key = 0;
        registry.beginBatch();
        Status status = registry.createKey(kCurrentUser, "Software\\Quorvane Fuzz", key);
        if (status == kSuccess) {
            status = registry.setValue(key, "Checked", kRegSz,
                                       reinterpret_cast<const std::uint8_t*>(value.data()),
                                       static_cast<std::uint32_t>(value.size() + 1));
            registry.closeKey(key);
        }
        const StoreFailures failures = registry.endBatch();
        if (status != kSuccess || !failures.empty()) {
            if (registry.lastFailure().empty()) {
                broken("a failed change says why");
            }
            if (contents(user) != before) {
                broken("a failed change leaves the file as it was");
            }
        } else {
            OfflineRegistry fresh(hives());
            std::uint32_t read = 0;
            KeyHandle again = 0;
            if (fresh.openKey(kCurrentUser, "Software\\Quorvane Fuzz", kKeyRead, again) !=
                    kSuccess ||
                fresh.queryValue(again, "Checked", nullptr, nullptr, &read) != kSuccess ||
                read != value.size() + 1) {
                broken("a change that took effect reads back");
            }
        }
    } catch (const StoreError& error) {
        if (std::string(error.what()).find(user.string()) == std::string::npos) {
            broken("a refusal names the file");
        }
        if (contents(user) != before) {
            broken("a refused hive is left as it was");
        }
        return 0;
    }
    save(user, data, size);
    runActions(size > 0 ? 1 + data[0] % 24 : 4);
    return 0;
}
