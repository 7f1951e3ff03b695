// The state of registry places as registry-file sections that put it back: a value (or its
// absence), a whole key with everything below it, or the absence of a key.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/reg_file.h"
#include "platform/registry_api.h"
#include "registry/general2.h"
#include "restrictions/journal.h"

namespace quorvane::journal {

// One value of a key, or (no value name) the key with everything below it.
struct Place {
    registry::Hive hive = registry::kNoHive;
    std::string subKey;
    std::optional<std::string> valueName;
};

// "HKEY_CURRENT_USER\sub\key", as a registry file names a key.
std::u16string keyPath(registry::Hive hive, const std::string& subKey);

// Whether the registry holds already what `change` would make of it.
bool holds(platform::RegistryApi& registry, const restrictions::PlannedChange& change);

// The place whose state must be kept to undo `change`: its value, the key it deletes, or, when
// its key is missing, the topmost missing key (the change would make it and every key below).
// Nothing when the change would change nothing; the reason when the registry cannot be read.
Result<std::optional<Place>> placeToKeep(platform::RegistryApi& registry,
                                         const restrictions::PlannedChange& change);

// The sections that give `place` back its present state: "[key]" and the value or its
// deletion; "[-key]" then the key and every key below it with their values; "[-key]" alone for
// a key that is missing. The reason when the registry cannot be read.
Result<std::vector<formats::RegSection>> snapshot(platform::RegistryApi& registry,
                                                  const Place& place);

// What a key holds, read through one handle: its values (type and data) and the names of its
// sub-keys, both by name without regard to case.
struct KeyContents {
    platform::Status status = platform::kSuccess;  // kFileNotFound: the key is missing
    std::map<std::string, std::pair<std::uint32_t, std::string>> values;
    std::set<std::string> children;
};
KeyContents readKey(platform::RegistryApi& registry, registry::Hive hive,
                    const std::string& subKey);

}  // namespace quorvane::journal
