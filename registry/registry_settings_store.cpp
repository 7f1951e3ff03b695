#include "registry/registry_settings_store.h"

#include "registry/value_query.h"

namespace quorvane::registry {

std::string settingsKey(const std::string& application, const std::string& section) {
    return "Software\\" + application + "\\" + section;
}

RegistrySettingsStore::RegistrySettingsStore(platform::RegistryApi& registry)
    : registry_(registry) {}

std::string RegistrySettingsStore::read(const std::string& application, const std::string& section,
                                        const std::string& key) {
    platform::KeyHandle handle = 0;
    if (registry_.openKey(platform::kCurrentUser, settingsKey(application, section),
                          platform::kKeyRead, handle) != platform::kSuccess) {
        return {};
    }
    std::uint32_t type = 0;
    std::string text;
    const platform::Status status = queryWholeValue(registry_, handle, key, type, text);
    registry_.closeKey(handle);
    if (status != platform::kSuccess) {
        return {};
    }
    if (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

Result<void> RegistrySettingsStore::write(const std::string& application,
                                          const std::string& section, const std::string& key,
                                          const std::string& text) {
    const std::string subKey = settingsKey(application, section);
    platform::KeyHandle handle = 0;
    if (const platform::Status status = registry_.createKey(platform::kCurrentUser, subKey, handle);
        status != platform::kSuccess) {
        return failure(status, "cannot create HKEY_CURRENT_USER\\" + subKey);
    }
    const platform::Status status = registry_.setValue(
        handle, key, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
        static_cast<std::uint32_t>(text.size() + 1));
    registry_.closeKey(handle);
    if (status != platform::kSuccess) {
        return failure(status, "cannot set " + key + " in HKEY_CURRENT_USER\\" + subKey);
    }
    return {};
}

}  // namespace quorvane::registry
