#include "cli/hive_data.h"

namespace quorvane::cli {

namespace {

bool valueExists(platform::RegistryApi& platform, registry::Hive hive,
                 const restrictions::Restriction& restriction) {
    platform::KeyHandle key = 0;
    if (platform.openKey(hive, restriction.subKey, platform::kKeyRead, key) != platform::kSuccess) {
        return false;
    }
    std::uint32_t size = 0;
    const platform::Status status =
        platform.queryValue(key, restriction.valueName, nullptr, nullptr, &size);
    platform.closeKey(key);
    return status != platform::kFileNotFound;
}

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

const char* hiveName(registry::Hive hive) {
    return hive == registry::kHiveLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

HiveData readHiveData(platform::RegistryApi& platform, registry::General2& registry,
                      registry::Hive hive, const restrictions::Restriction& restriction) {
    HiveData data;
    if (!valueExists(platform, hive, restriction)) {
        return data;
    }
    std::string path = std::string(hiveName(hive)) + "\\" + restriction.subKey;
    const registry::ReadResult result = restriction.kind == restrictions::Kind::Dword
                                            ? registry.GetDwordValue(path, restriction.valueName)
                                            : registry.GetStringValue(path, restriction.valueName);
    if (result.isNumber()) {
        data.found = HiveData::Found::Number;
        data.number = result.asNumber();
    } else if (result.isText() && !result.isError()) {
        data.found = HiveData::Found::Text;
        data.text = result.asText();
    } else {
        data.found = HiveData::Found::Unreadable;
    }
    return data;
}

}  // namespace quorvane::cli
