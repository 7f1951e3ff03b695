#include "platform/value_data.h"

#include <cstring>

#include "formats/utf16.h"

namespace quorvane::platform {

std::string storedValueData(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!isStringType(type)) {
        return bytes;
    }
    if (size > 0 && data[size - 1] != 0) {
        bytes.push_back('\0');
    }
    return fileData(type, bytes);
}

std::string fileData(std::uint32_t type, std::string_view narrowData) {
    if (!isStringType(type)) {
        return std::string(narrowData);
    }
    return formats::utf16LeBytes(formats::narrowToUtf16(narrowData));
}

std::string narrowData(std::uint32_t type, std::string_view fileData) {
    if (!isStringType(type)) {
        return std::string(fileData);
    }
    return formats::utf16ToNarrow(formats::utf16Units(fileData));
}

Status copyOutValue(std::uint32_t storedType, const std::string& storedBytes, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* size) {
    std::string bytes = storedBytes;
    if (isStringType(storedType)) {
        bytes = narrowData(storedType, storedBytes);
    }
    if (type != nullptr) {
        *type = storedType;
    }
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return kSuccess;
    }
    if (size == nullptr) {
        return kInvalidParameter;
    }
    if (*size < needed) {
        *size = needed;
        return kMoreData;
    }
    std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return kSuccess;
}

}  // namespace quorvane::platform
