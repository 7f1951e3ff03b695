// The registry module: the one place where Quorvane touches the registry. Every operation but
// DeleteValue takes a full registry path ("HKEY_CURRENT_USER\Software\..."), splits it into a
// hive and a sub-key, opens one key, does one thing and closes the key again. Failures show only
// in the results; the one message of its own is for a malformed path.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_api.h"
#include "registry/read_result.h"
#include "toolkit/message_box.h"

namespace quorvane::registry {

// A predefined root key of platform/registry_api.h, as a 32-bit number; 0 is no hive.
using Hive = std::uint32_t;

inline constexpr Hive kNoHive = 0;
inline constexpr Hive kHiveCurrentUser = static_cast<Hive>(platform::kCurrentUser);
inline constexpr Hive kHiveLocalMachine = static_cast<Hive>(platform::kLocalMachine);

class General2 {
public:
    General2(platform::RegistryApi& registry, toolkit::MessageBox& messages);

    // The handle of a hive name written out in full, compared exactly; 0 when none matches.
    static Hive HiveFromName(const std::string& name);
    // Splits `path` into `hive` and, in `path`, the sub-key. A malformed path is reported to the
    // user and gives hive 0 with `path` unchanged.
    void SplitRegistryPath(std::string& path, Hive& hive);

    // The path-based operations leave the sub-key part in `path`, as SplitRegistryPath does.
    void SetDwordValue(std::string& path, const std::string& valueName, const std::int32_t& data);
    ReadResult GetDwordValue(std::string& path, const std::string& valueName);
    ReadResult GetStringValue(std::string& path, const std::string& valueName);
    void SetStringValue(std::string& path, const std::string& valueName, const std::string& data);
    void CreateKey(std::string& path);
    void DeleteKey(std::string& path);
    bool DeleteValue(const Hive& hive, const std::string& subKey, const std::string& valueName);

private:
    // Splits `path` and opens its key with `access`; false when there is nothing to do.
    bool openSplit(std::string& path, std::uint32_t access, platform::KeyHandle& key);

    platform::RegistryApi& registry_;
    toolkit::MessageBox& messages_;
    Hive hive_ = kNoHive;          // of the most recent split
    platform::Status status_ = 0;  // of the most recent open or query
    std::uint8_t dwordBuffer_[4] = {};
    std::string stringBuffer_;
    std::uint32_t stringLength_ = 0;
};

}  // namespace quorvane::registry
