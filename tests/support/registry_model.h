// One model for every registry: random sequences of RegistryApi operations (open, create, close,
// set, query, delete, enumerate, batches, and a look at what was stored) run against a registry
// and against a plain in-memory registry that does what Windows does, compared step by step.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_api.h"
#include "tests/support/property.h"

namespace quorvane::testing::model {

// Every drawn path lies below this key, in both hives; it exists before the first operation.
inline constexpr const char* kModelKey = "Software\\Quorvane\\Model";
// Handles an operation can act on; an operation's base is a slot or one of the two roots.
inline constexpr int kSlots = 3;
inline constexpr int kUserRoot = -1;
inline constexpr int kMachineRoot = -2;

struct Operation {
    enum class Kind {
        Open,
        Create,
        Close,
        Set,
        Query,
        DeleteValue,
        DeleteKey,
        EnumKeys,
        EnumValues,
        BeginBatch,
        EndBatch,
        CheckStored,
    };
    // How Query asks: for the size only, with a buffer of the size needed, or one byte short.
    enum class Buffer { SizeOnly, Exact, Short };

    Kind kind = Kind::Query;
    int slot = 0;          // the handle acted on, or the one Open and Create fill
    int base = kUserRoot;  // what Open, Create and DeleteKey start from, and Close closes
    std::string subKey;
    std::uint32_t access = 0;
    std::string name;
    std::uint32_t type = 0;
    std::string data;
    Buffer buffer = Buffer::Exact;

    std::string describe() const;
};

Operation drawOperation(const Pick& pick);

// The key at `path` and everything below it as `registry` shows it: a line for the key, or for the
// status it cannot be opened with, then its values with their types and bytes, then its sub-keys.
std::string listTree(platform::RegistryApi& registry, platform::KeyHandle root,
                     const std::string& path);

// Runs `operations` on `registry` and on the model; what the first step that differs did and
// should have done, after the steps before it, or nothing. `reopen`, where the registry keeps
// its data in files, gives a fresh reader of them for CheckStored (outside any batch).
std::optional<std::string> differencesFromModel(
    platform::RegistryApi& registry, const std::vector<Operation>& operations,
    const std::function<std::unique_ptr<platform::RegistryApi>()>& reopen);

}  // namespace quorvane::testing::model
