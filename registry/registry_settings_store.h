// The settings store kept in the managed registry, as REG_SZ values under
// HKEY_CURRENT_USER\Software\<application>\<section>: the state it records (the policy-key
// marker) describes that registry, so it travels with it.
#pragma once

#include "platform/registry_api.h"
#include "toolkit/settings_store.h"

namespace quorvane::registry {

// The key below HKEY_CURRENT_USER that holds the settings of `section`.
std::string settingsKey(const std::string& application, const std::string& section);

class RegistrySettingsStore final : public toolkit::SettingsStore {
public:
    explicit RegistrySettingsStore(platform::RegistryApi& registry);

    std::string read(const std::string& application, const std::string& section,
                     const std::string& key) override;
    Result<void> write(const std::string& application, const std::string& section,
                       const std::string& key, const std::string& text) override;

private:
    platform::RegistryApi& registry_;
};

}  // namespace quorvane::registry
