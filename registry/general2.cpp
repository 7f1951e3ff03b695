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

void General2::SplitRegistryPath(std::string& path, Hive& hive) {
    const std::size_t backslash = path.find('\\');
    if (isMalformed(path)) {
        messages_.show("Incorrect Format:\n\n" + path, toolkit::kOkOnly,
                       toolkit::kApplicationTitle);
        hive = kNoHive;
        return;
    }
    if (backslash == std::string::npos) {
        hive = HiveFromName(path);
        path.clear();
        return;
    }
    hive = HiveFromName(path.substr(0, backslash));
    path.erase(0, backslash + 1);
}

bool General2::openSplit(std::string& path, std::uint32_t access, KeyHandle& key) {
    SplitRegistryPath(path, hive_);
    if (hive_ == kNoHive) {
        return false;
    }
    status_ = registry_.openKey(hive_, path, access, key);
    return status_ == platform::kSuccess;
}

void General2::SetDwordValue(std::string& path, const std::string& valueName,
                             const std::int32_t& data) {
    KeyHandle key = 0;
    if (!openSplit(path, platform::kKeyWrite, key)) {
        return;
    }
    std::uint8_t bytes[4];
    std::memcpy(bytes, &data, sizeof bytes);
    registry_.setValue(key, valueName, platform::kRegDword, bytes, sizeof bytes);
    registry_.closeKey(key);
}

ReadResult General2::GetDwordValue(std::string& path, const std::string& valueName) {
    KeyHandle key = 0;
    if (!openSplit(path, platform::kKeyRead, key)) {
        return hive_ == kNoHive ? ReadResult() : ReadResult::error();
    }
    // Cleared first: a value shorter than 4 bytes must not borrow bytes of an earlier read.
    std::memset(dwordBuffer_, 0, sizeof dwordBuffer_);
    std::uint32_t type = 0;
    std::uint32_t size = sizeof dwordBuffer_;
    status_ = registry_.queryValue(key, valueName, &type, dwordBuffer_, &size);
    registry_.closeKey(key);
    if (status_ != platform::kSuccess) {
        return ReadResult::error();
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | dwordBuffer_[i];
    }
    return ReadResult::number(static_cast<std::int32_t>(value));
}

ReadResult General2::GetStringValue(std::string& path, const std::string& valueName) {
    KeyHandle key = 0;
    if (!openSplit(path, platform::kKeyRead, key)) {
        return hive_ == kNoHive ? ReadResult() : ReadResult::error();
    }
    stringBuffer_.assign(kStringBufferSize, ' ');
    stringLength_ = kStringBufferSize;
    std::uint32_t type = 0;
    status_ =
        registry_.queryValue(key, valueName, &type,
                             reinterpret_cast<std::uint8_t*>(stringBuffer_.data()), &stringLength_);
    registry_.closeKey(key);
    if (status_ != platform::kSuccess) {
        return ReadResult::error();
    }
    // The whole buffer is the text: the value's bytes, then the spaces the read left alone. The
    // stored NUL stops the trimming on the right and is then dropped as the last character.
    std::string text = trimSpaces(stringBuffer_);
    if (!text.empty()) {
        text.pop_back();
    }
    return ReadResult::text(std::move(text));
}

void General2::SetStringValue(std::string& path, const std::string& valueName,
                              const std::string& data) {
    KeyHandle key = 0;
    if (!openSplit(path, platform::kKeyWrite, key)) {
        return;
    }
    // The bytes of the text and its terminating NUL.
    registry_.setValue(key, valueName, platform::kRegSz,
                       reinterpret_cast<const std::uint8_t*>(data.c_str()),
                       static_cast<std::uint32_t>(data.size() + 1));
    registry_.closeKey(key);
}

void General2::CreateKey(std::string& path) {
    SplitRegistryPath(path, hive_);
    if (hive_ == kNoHive) {
        return;
    }
    KeyHandle key = 0;
    status_ = registry_.createKey(hive_, path, key);
    if (status_ == platform::kSuccess) {
        registry_.closeKey(key);
    }
}

void General2::DeleteKey(std::string& path) {
    SplitRegistryPath(path, hive_);
    if (hive_ == kNoHive) {
        return;
    }
    KeyHandle root = 0;
    status_ = registry_.openKey(hive_, "", platform::kKeyWrite, root);
    if (status_ != platform::kSuccess) {
        return;
    }
    registry_.deleteKey(root, path);
    registry_.closeKey(root);
}

bool General2::DeleteValue(const Hive& hive, const std::string& subKey,
                           const std::string& valueName) {
    KeyHandle key = 0;
    if (registry_.openKey(hive, subKey, kDeleteValueRights, key) != platform::kSuccess) {
        return false;
    }
    const bool deleted = registry_.deleteValue(key, valueName) == platform::kSuccess;
    registry_.closeKey(key);
    return deleted;
}

}  // namespace quorvane::registry
