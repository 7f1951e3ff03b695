#include "registry/value_query.h"

namespace quorvane::registry {

platform::Status queryWholeValue(platform::RegistryApi& registry, platform::KeyHandle key,
                                 const std::string& name, std::uint32_t& type, std::string& data) {
    std::uint32_t size = 0;
    platform::Status status = registry.queryValue(key, name, &type, nullptr, &size);
    if (status == platform::kSuccess) {
        data.resize(size);
        status = registry.queryValue(key, name, &type, reinterpret_cast<std::uint8_t*>(data.data()),
                                     &size);
        data.resize(size);
    }
    return status;
}

}  // namespace quorvane::registry
