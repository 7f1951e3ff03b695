// Value data between the narrow functions and a hive that keeps strings as UTF-16LE (Wine's text
// hives and Windows' binary ones alike).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry_api.h"

namespace quorvane::platform {

// The bytes a hive keeps for data given to setValue: strings in UTF-16LE, with the terminating
// NUL that Windows stores also when the count leaves it out (added without reading past `size`).
std::string storedValueData(std::uint32_t type, const std::uint8_t* data, std::uint32_t size);

// Value data between the narrow functions and a file that holds the string types as UTF-16LE (a
// registry editor's file): every byte converted, NULs included, none added.
std::string fileData(std::uint32_t type, std::string_view narrowData);
std::string narrowData(std::uint32_t type, std::string_view fileData);

// queryValue's answer for a stored value: strings in the narrow encoding; kMoreData with the
// size needed, the buffer untouched, when it is too small.
Status copyOutValue(std::uint32_t storedType, const std::string& storedBytes, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* size);

}  // namespace quorvane::platform
