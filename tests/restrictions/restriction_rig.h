// The restriction manager wired as the window wires it, on a given registry: 24 check boxes whose
// changes run the switching actions, the marker in the managed registry, recorded messages and a
// fake event pump. Every registry call goes through a recorder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/hive_store.h"
#include "registry/registry_settings_store.h"
#include "restrictions/restriction_manager.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/recording_registry.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "toolkit/check_boxes.h"

namespace quorvane::testing {

inline constexpr const char* kControlPanelKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Control Panel";
inline constexpr const char* kPresetsKey = "Software\\Quorvane\\Presets";
inline constexpr const char* kStartupHint =
    "If after restarting your PC a Restriction returns see the Help file for information about "
    "Startup items";

struct SeededValue {
    platform::KeyHandle root;
    const char* subKey;
    const char* name;
    Stored value;
};

// Values of every type in keys remove-all deletes, some of them another tool's, for its undo.
inline std::vector<SeededValue> valuesOfEveryType() {
    using namespace std::string_literals;
    const auto user = platform::kCurrentUser;
    return {{user, kRestrictionsKey, "NoBrowserClose", dword(1)},
            {user, kRestrictionsKey, "Other tool's", sz("Grüße \"quoted\" C:\\dir\\")},
            {user, kRestrictionsKey, "Expand", {platform::kRegExpandSz, "%SystemRoot%\0"s}},
            {user, kRestrictionsKey, "Multi", {platform::kRegMultiSz, "one\0two\0\0"s}},
            {user, kRestrictionsKey, "Blob", {platform::kRegBinary, "\0\xff\x10 "s}},
            {user, kRestrictionsKey, "Big", {platform::kRegQword, "\1\2\3\4\5\6\7\x80"s}},
            {platform::kLocalMachine, kSystemKey, "DisableRegistryTools", dword(1)}};
}

inline void seed(platform::RegistryApi& registry, const std::vector<SeededValue>& values) {
    for (const SeededValue& value : values) {
        put(registry, value.root, value.subKey, value.name, value.value);
    }
}

// `name` = `value` in `subKey` of both hives.
inline void putInBoth(platform::RegistryApi& registry, const std::string& subKey,
                      const std::string& name, const Stored& value) {
    for (platform::KeyHandle root : {platform::kCurrentUser, platform::kLocalMachine}) {
        put(registry, root, subKey, name, value);
    }
}

// Whether `registry` holds each of `values` (`held`), or none of them.
inline void expectHeld(platform::RegistryApi& registry, const std::vector<SeededValue>& values,
                       bool held = true) {
    for (const SeededValue& value : values) {
        EXPECT_EQ(stored(registry, value.root, value.subKey, value.name),
                  held ? std::optional(value.value) : std::nullopt)
            << value.name;
    }
}

struct Rig {
    explicit Rig(platform::RegistryApi& registry, toolkit::Configuration configuration = {},
                 restrictions::Journal* journal = nullptr)
        : recorder(registry),
          manager({recorder, settings, events, messages, boxes, configuration, journal}) {
        boxes.setClickHandler([this](int number) { manager.RestrictionClicked(number); });
    }

    std::vector<int> checkedBoxes() const {
        std::vector<int> checked;
        for (int number = 1; number <= boxes.count(); ++number) {
            if (boxes.state(number) != toolkit::kUnchecked) {
                checked.push_back(number);
            }
        }
        return checked;
    }

    RecordingRegistry recorder;
    RecordingMessageBox messages;
    FakeEventPump events;
    registry::RegistrySettingsStore settings{recorder};
    toolkit::CheckBoxBank boxes{24};
    restrictions::RestrictionManager manager;
};

// A hive store of its own in a scratch directory, holding the keys a fresh Windows has.
struct StoreScene {
    StoreScene() { makeBaselineKeys(store); }

    std::filesystem::path hive(const char* name) const { return temp.path() / "registry" / name; }

    TempDir temp;
    platform::HiveStore store{temp.path() / "registry",
                              platform::HiveStore::Creation::CreateIfMissing};
};

}  // namespace quorvane::testing
