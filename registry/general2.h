// The registry module: the one place where Quorvane touches the registry. Every operation but
// DeleteValue takes a full registry path ("HKEY_CURRENT_USER\Software\..."), splits it into a
// hive and a sub-key, opens one key, does one thing and closes the key again. Failures show only
// in the results: each operation says whether it took effect and, when not, the registry's status
// and its words (a hive file that cannot be written or read names itself there). The one message
// of its own is for a malformed path.
#pragma once

#include <cstdint>
#include <string>

#include "formats/result.h"
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
    // A full path's hive and sub-key. A malformed path is reported to the user and gives hive 0
    // with the whole path as sub-key.
    struct SplitPath {
        Hive hive = kNoHive;
        std::string subKey;
    };
    SplitPath SplitRegistryPath(const std::string& path);

    // A path that is malformed or names no hive of the table fails with status 0; reads then give
    // the empty result. The data texts come back unchanged.
    Result<void> SetDwordValue(const std::string& path, const std::string& valueName,
                               const std::int32_t& data);
    ReadResult GetDwordValue(const std::string& path, const std::string& valueName);
    ReadResult GetStringValue(const std::string& path, const std::string& valueName);
    Result<void> SetStringValue(const std::string& path, const std::string& valueName,
                                const std::string& data);
    Result<void> CreateKey(const std::string& path);
    Result<void> DeleteKey(const std::string& path);
    // Converts to true when the value was deleted.
    Result<void> DeleteValue(const Hive& hive, const std::string& subKey,
                             const std::string& valueName);

private:
    // Splits `path` into `subKey` and the module's hive; why there is nothing to do, if so.
    Result<void> split(const std::string& path, std::string& subKey);
    // Splits `path` and opens its key with `access`.
    Result<void> openSplit(const std::string& path, std::uint32_t access, platform::KeyHandle& key);
    // Success, or the failure of the platform call that gave `status` in the registry's words.
    Result<void> resultOf(platform::Status status) const;

    platform::RegistryApi& registry_;
    toolkit::MessageBox& messages_;
    Hive hive_ = kNoHive;  // of the most recent split
    std::uint8_t dwordBuffer_[4] = {};
    std::string stringBuffer_;
    std::uint32_t stringLength_ = 0;
};

}  // namespace quorvane::registry
