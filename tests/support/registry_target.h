// The registry the conformance, registry-module and restriction tests run on, and how every test
// reads and writes values through RegistryApi. makeRegistryTarget gives a fresh hive store
// natively, the real Win32 registry of a throw-away Wine prefix in the mingw-w64 build. Both
// start from the same state, that of a fresh Windows as far as Quorvane can see: the browser's
// Main key in both hives and the machine's System policy key exist; no Software\Policies, no
// Software\Quorvane, no per-user System policy key, and none of the values the tests write.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "formats/little_endian.h"
#include "platform/registry_api.h"

namespace quorvane::testing {

inline constexpr const char* kMainKey = "Software\\Microsoft\\Internet Explorer\\Main";
inline constexpr const char* kRestrictionsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";
inline constexpr const char* kSystemKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

inline constexpr const char* kToolbarsKey =
    "Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars\\Restrictions";

// What a startup item runs to impose restriction `name` again for the user: reg add with data 1 in
// `key` (the restrictions key unless told).
inline std::string relock(const std::string& name, const std::string& key = kRestrictionsKey) {
    return "reg add \"HKCU\\" + key + "\" /v " + name + " /d 1 /f";
}

class RegistryTarget {
public:
    virtual ~RegistryTarget() = default;
    virtual platform::RegistryApi& registry() = 0;
    // Removes a key with all its sub-keys, as another program might. The tests' keys in a file
    // registry have no sub-keys: those of a fresh Windows are not there.
    virtual void removeTree(platform::KeyHandle root, const std::string& subKey) {
        ASSERT_EQ(registry().deleteKey(root, subKey), platform::kSuccess) << subKey;
    }
    // A fresh reader of what a registry kept in files holds; none for the Win32 registry.
    virtual std::unique_ptr<platform::RegistryApi> reopened() { return nullptr; }
};

std::unique_ptr<RegistryTarget> makeRegistryTarget();

// Every registry implementation this build has, by name, for the suites that hold them all to
// the same rules: the build's own (makeRegistryTarget) and, on Linux, an offline Windows
// installation's binary hives.
struct RegistryKind {
    std::string name;
    std::unique_ptr<RegistryTarget> (*make)();
};
std::vector<RegistryKind> registryKinds();
inline void PrintTo(const RegistryKind& kind, std::ostream* out) {
    *out << kind.name;
}

// The bytes in hex, each after a space: " 61 00".
inline std::string hexBytes(const std::string& bytes) {
    std::string out;
    for (const unsigned char byte : bytes) {
        out += {' ', "0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 0xF]};
    }
    return out;
}

// A value as the registry holds it.
struct Stored {
    std::uint32_t type = 0;
    std::string bytes;

    bool operator==(const Stored&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Stored& stored) {
        return out << "{type " << stored.type << "," << hexBytes(stored.bytes) << "}";
    }
};

inline Stored dword(std::uint32_t value) {
    return {platform::kRegDword, formats::dwordBytes(value)};
}

inline Stored sz(const std::string& text) {
    return {platform::kRegSz, text + '\0'};
}

inline platform::Status set(platform::RegistryApi& registry, platform::KeyHandle key,
                            const std::string& name, const Stored& value) {
    return registry.setValue(key, name, value.type,
                             reinterpret_cast<const std::uint8_t*>(value.bytes.data()),
                             static_cast<std::uint32_t>(value.bytes.size()));
}

// The value at root\subKey, or nothing when the key or the value is missing.
inline std::optional<Stored> stored(platform::RegistryApi& registry, platform::KeyHandle root,
                                    const std::string& subKey, const std::string& name) {
    platform::KeyHandle key = 0;
    if (registry.openKey(root, subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return std::nullopt;
    }
    Stored value;
    std::uint32_t size = 0;
    platform::Status status = registry.queryValue(key, name, &value.type, nullptr, &size);
    if (status == platform::kSuccess) {
        value.bytes.resize(size);
        status = registry.queryValue(key, name, &value.type,
                                     reinterpret_cast<std::uint8_t*>(value.bytes.data()), &size);
        value.bytes.resize(size);
    }
    registry.closeKey(key);
    return status == platform::kSuccess ? std::optional(value) : std::nullopt;
}

inline bool keyExists(platform::RegistryApi& registry, platform::KeyHandle root,
                      const std::string& subKey) {
    platform::KeyHandle key = 0;
    if (registry.openKey(root, subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return false;
    }
    registry.closeKey(key);
    return true;
}

inline void makeKey(platform::RegistryApi& registry, platform::KeyHandle root,
                    const std::string& subKey) {
    platform::KeyHandle key = 0;
    ASSERT_EQ(registry.createKey(root, subKey, key), platform::kSuccess) << subKey;
    registry.closeKey(key);
}

// The keys every target starts with.
inline void makeBaselineKeys(platform::RegistryApi& registry) {
    makeKey(registry, platform::kCurrentUser, kMainKey);
    makeKey(registry, platform::kLocalMachine, kMainKey);
    makeKey(registry, platform::kLocalMachine, kSystemKey);
}

// Stores the value, making its key when it is missing; the first failure's status.
inline platform::Status write(platform::RegistryApi& registry, platform::KeyHandle root,
                              const std::string& subKey, const std::string& name,
                              const Stored& value) {
    platform::KeyHandle key = 0;
    platform::Status status = registry.createKey(root, subKey, key);
    if (status == platform::kSuccess) {
        status = set(registry, key, name, value);
        registry.closeKey(key);
    }
    return status;
}

inline void put(platform::RegistryApi& registry, platform::KeyHandle root,
                const std::string& subKey, const std::string& name, const Stored& value) {
    ASSERT_EQ(write(registry, root, subKey, name, value), platform::kSuccess)
        << subKey << "\\" << name;
}

}  // namespace quorvane::testing
