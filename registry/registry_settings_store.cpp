#include "registry/registry_settings_store.h"

#include <vector>

namespace quorvane::registry {

namespace {

std::string sectionKey(const std::string& application, const std::string& section) {
    return "Software\\" + application + "\\" + section;
}

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(platform::RegistryApi& registry)
    : registry_(registry) {}

std::string RegistrySettingsStore::read(const std::string& application, const std::string& section,
                                        const std::string& key) {
    platform::KeyHandle handle = 0;
    if (registry_.openKey(platform::kCurrentUser, sectionKey(application, section),
                          platform::kKeyRead, handle) != platform::kSuccess) {
        return {};
    }
    std::uint32_t size = 0;
    std::vector<std::uint8_t> data;
    platform::Status status = registry_.queryValue(handle, key, nullptr, nullptr, &size);
    if (status == platform::kSuccess) {
        data.resize(size);
        status = registry_.queryValue(handle, key, nullptr, data.data(), &size);
    }
    registry_.closeKey(handle);
    if (status != platform::kSuccess) {
        return {};
    }
    std::string text(data.begin(), data.begin() + size);
    if (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

void RegistrySettingsStore::write(const std::string& application, const std::string& section,
                                  const std::string& key, const std::string& text) {
    platform::KeyHandle handle = 0;
    if (registry_.createKey(platform::kCurrentUser, sectionKey(application, section), handle) !=
        platform::kSuccess) {
        return;
    }
    registry_.setValue(handle, key, platform::kRegSz,
                       reinterpret_cast<const std::uint8_t*>(text.c_str()),
                       static_cast<std::uint32_t>(text.size() + 1));
    registry_.closeKey(handle);
}

}  // namespace quorvane::registry
