#include "cli/hive_data.h"

namespace quorvane::cli {

namespace {

// What the registry module can read of a value, in bytes: a number of 4, a text of 255 with its
// terminating NUL.
constexpr std::uint32_t kReadableDword = 4;
constexpr std::uint32_t kReadableText = 255;

}  // namespace

std::string HiveData::describe() const {
    switch (found) {
        case Found::Absent:
            return "absent";
        case Found::Unreadable:
            return "unreadable";
        case Found::Number:
            return std::to_string(number);
        case Found::Text:
            break;
    }
    return "\"" + text + "\"";
}

HiveData readHiveData(platform::RegistryApi& platform, registry::General2& registry,
                      registry::Hive hive, const restrictions::Restriction& restriction) {
    HiveData data;
    platform::KeyHandle key = 0;
    const platform::Status opened =
        platform.openKey(hive, restriction.subKey, platform::kKeyRead, key);
    if (opened != platform::kSuccess) {
        // A key that is there but cannot be read (a damaged hive) is no missing key.
        if (opened != platform::kFileNotFound) {
            data.found = HiveData::Found::Unreadable;
        }
        return data;
    }
    std::uint32_t size = 0;
    const platform::Status status =
        platform.queryValue(key, restriction.valueName, nullptr, nullptr, &size);
    platform.closeKey(key);
    if (status == platform::kFileNotFound) {
        return data;
    }
    const bool isDword = restriction.kind == restrictions::Kind::Dword;
    // Decided by the value itself, not by the text the module gives: a title that reads
    // "Error" is a title.
    if (status != platform::kSuccess || size > (isDword ? kReadableDword : kReadableText)) {
        data.found = HiveData::Found::Unreadable;
        return data;
    }
    std::string path = restrictions::fullRegistryPath(hive, restriction.subKey);
    const registry::ReadResult result = isDword
                                            ? registry.GetDwordValue(path, restriction.valueName)
                                            : registry.GetStringValue(path, restriction.valueName);
    if (result.isNumber()) {
        data.found = HiveData::Found::Number;
        data.number = result.asNumber();
    } else {
        data.found = HiveData::Found::Text;
        data.text = result.asText();
    }
    return data;
}

}  // namespace quorvane::cli
