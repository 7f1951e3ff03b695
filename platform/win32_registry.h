// The real Win32 registry behind RegistryApi: each call is the matching advapi32 "A" function.
#pragma once

#include "platform/registry_api.h"

namespace quorvane::platform {

class Win32Registry final : public RegistryApi {
public:
    [[nodiscard]] Status openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                                 KeyHandle& result) override;
    [[nodiscard]] Status createKey(KeyHandle parent, const std::string& subKey,
                                   KeyHandle& result) override;
    [[nodiscard]] Status setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                  const std::uint8_t* data, std::uint32_t size) override;
    [[nodiscard]] Status queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) override;
    [[nodiscard]] Status deleteKey(KeyHandle key, const std::string& subKey) override;
    [[nodiscard]] Status deleteValue(KeyHandle key, const std::string& name) override;
    Status closeKey(KeyHandle key) override;
    [[nodiscard]] Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) override;
    [[nodiscard]] Status enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                                   std::uint32_t& type, std::string& data) override;
};

}  // namespace quorvane::platform
