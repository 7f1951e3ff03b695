// Reading a value whole through the narrow registry functions: first its size, then its data.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry_api.h"

namespace quorvane::registry {

// The type and data of value `name` of the open `key`, as the narrow functions give them
// (strings in the narrow encoding with their NUL); the status of the first query that failed.
[[nodiscard]] platform::Status queryWholeValue(platform::RegistryApi& registry,
                                               platform::KeyHandle key, const std::string& name,
                                               std::uint32_t& type, std::string& data);

}  // namespace quorvane::registry
