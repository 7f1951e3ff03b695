#include "registry/general2.h"

#include <array>
#include <cstring>
#include <utility>

#include "toolkit/application.h"

namespace quorvane::registry {

namespace {

using platform::KeyHandle;

constexpr std::array<std::pair<const char*, KeyHandle>, 7> kHiveNames = {{
    {"HKEY_CLASSES_ROOT", platform::kClassesRoot},
    {"HKEY_CURRENT_USER", platform::kCurrentUser},
    {"HKEY_LOCAL_MACHINE", platform::kLocalMachine},
    {"HKEY_USERS", platform::kUsers},
    {"HKEY_PERFORMANCE_DATA", platform::kPerformanceData},
    {"HKEY_CURRENT_CONFIG", platform::kCurrentConfig},
    {"HKEY_DYN_DATA", platform::kDynData},
}};

constexpr std::uint32_t kDeleteValueRights = 0x3F;
constexpr std::size_t kStringBufferSize = 255;

bool isMalformed(const std::string& path) {
    const bool wrongPrefix = path.compare(0, 5, "HKEY_") != 0 || path.size() < 5;
    const bool trailingBackslash = !path.empty() && path.back() == '\\';
    return wrongPrefix || trailingBackslash;
}

std::string trimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A read whose key could not be opened: "Error", or the empty result when the path named no hive.
ReadResult unreadableAs(Hive hive, Failure why) {
    return hive == kNoHive ? ReadResult::empty(std::move(why)) : ReadResult::error(std::move(why));
}

}  // namespace

General2::General2(platform::RegistryApi& registry, toolkit::MessageBox& messages)
    : registry_(registry), messages_(messages) {}

Hive General2::HiveFromName(const std::string& name) {
    for (const auto& [hiveName, handle] : kHiveNames) {
        if (name == hiveName) {
            return static_cast<Hive>(handle);
        }
    }
    return kNoHive;
}

General2::SplitPath General2::SplitRegistryPath(const std::string& path) {
    if (isMalformed(path)) {
        messages_.show("Incorrect Format:\n\n" + path, toolkit::kOkOnly,
                       toolkit::kApplicationTitle);
        return {kNoHive, path};
    }
    const std::size_t backslash = path.find('\\');
    if (backslash == std::string::npos) {
        return {HiveFromName(path), {}};
    }
    return {HiveFromName(path.substr(0, backslash)), path.substr(backslash + 1)};
}

Result<void> General2::resultOf(platform::Status status) const {
    if (status == platform::kSuccess) {
        return {};
    }
    return Failure{status, registry_.lastFailure()};
}

Result<void> General2::split(const std::string& path, std::string& subKey) {
    SplitPath parts = SplitRegistryPath(path);
    hive_ = parts.hive;
    subKey = std::move(parts.subKey);
    if (hive_ != kNoHive) {
        return {};
    }
    return failure(isMalformed(path) ? "incorrect format: " + path : path + " names no hive");
}

Result<void> General2::openSplit(const std::string& path, std::uint32_t access, KeyHandle& key) {
    std::string subKey;
    if (Result<void> named = split(path, subKey); !named) {
        return named;
    }
    return resultOf(registry_.openKey(hive_, subKey, access, key));
}

Result<void> General2::SetDwordValue(const std::string& path, const std::string& valueName,
                                     const std::int32_t& data) {
    KeyHandle key = 0;
    if (Result<void> opened = openSplit(path, platform::kKeyWrite, key); !opened) {
        return opened;
    }
    std::uint8_t bytes[4];
    std::memcpy(bytes, &data, sizeof bytes);
    Result<void> written =
        resultOf(registry_.setValue(key, valueName, platform::kRegDword, bytes, sizeof bytes));
    registry_.closeKey(key);
    return written;
}

ReadResult General2::GetDwordValue(const std::string& path, const std::string& valueName) {
    KeyHandle key = 0;
    if (const Result<void> opened = openSplit(path, platform::kKeyRead, key); !opened) {
        return unreadableAs(hive_, opened.failure());
    }
    // Cleared first: a value shorter than 4 bytes must not borrow bytes of an earlier read.
    std::memset(dwordBuffer_, 0, sizeof dwordBuffer_);
    std::uint32_t type = 0;
    std::uint32_t size = sizeof dwordBuffer_;
    const Result<void> queried =
        resultOf(registry_.queryValue(key, valueName, &type, dwordBuffer_, &size));
    registry_.closeKey(key);
    if (!queried) {
        return ReadResult::error(queried.failure());
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | dwordBuffer_[i];
    }
    return ReadResult::number(static_cast<std::int32_t>(value));
}

ReadResult General2::GetStringValue(const std::string& path, const std::string& valueName) {
    KeyHandle key = 0;
    if (const Result<void> opened = openSplit(path, platform::kKeyRead, key); !opened) {
        return unreadableAs(hive_, opened.failure());
    }
    stringBuffer_.assign(kStringBufferSize, ' ');
    stringLength_ = kStringBufferSize;
    std::uint32_t type = 0;
    const Result<void> queried = resultOf(registry_.queryValue(
        key, valueName, &type, reinterpret_cast<std::uint8_t*>(stringBuffer_.data()),
        &stringLength_));
    registry_.closeKey(key);
    if (!queried) {
        return ReadResult::error(queried.failure());
    }
    // The whole buffer is the text: the value's bytes, then the spaces the read left
    // alone. The stored NUL stops the trimming on the right and is then dropped as the
    // last character.
    std::string text = trimSpaces(stringBuffer_);
    if (!text.empty()) {
        text.pop_back();
    }
    return ReadResult::text(std::move(text));
}

Result<void> General2::SetStringValue(const std::string& path, const std::string& valueName,
                                      const std::string& data) {
    KeyHandle key = 0;
    if (Result<void> opened = openSplit(path, platform::kKeyWrite, key); !opened) {
        return opened;
    }
    // The bytes of the text and its terminating NUL.
    Result<void> written = resultOf(registry_.setValue(
        key, valueName, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(data.c_str()),
        static_cast<std::uint32_t>(data.size() + 1)));
    registry_.closeKey(key);
    return written;
}

Result<void> General2::CreateKey(const std::string& path) {
    std::string subKey;
    if (Result<void> named = split(path, subKey); !named) {
        return named;
    }
    KeyHandle key = 0;
    Result<void> created = resultOf(registry_.createKey(hive_, subKey, key));
    if (created) {
        registry_.closeKey(key);
    }
    return created;
}

Result<void> General2::DeleteKey(const std::string& path) {
    std::string subKey;
    if (Result<void> named = split(path, subKey); !named) {
        return named;
    }
    KeyHandle root = 0;
    if (Result<void> opened = resultOf(registry_.openKey(hive_, "", platform::kKeyWrite, root));
        !opened) {
        return opened;
    }
    Result<void> deleted = resultOf(registry_.deleteKey(root, subKey));
    registry_.closeKey(root);
    return deleted;
}

Result<void> General2::DeleteValue(const Hive& hive, const std::string& subKey,
                                   const std::string& valueName) {
    KeyHandle key = 0;
    if (Result<void> opened = resultOf(registry_.openKey(hive, subKey, kDeleteValueRights, key));
        !opened) {
        return opened;
    }
    Result<void> deleted = resultOf(registry_.deleteValue(key, valueName));
    registry_.closeKey(key);
    return deleted;
}

}  // namespace quorvane::registry
