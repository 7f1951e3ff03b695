#include "platform/value_data.h"

#include <cstring>

#include "platform/narrow_text.h"

namespace quorvane::platform {

std::string storedValueData(std::uint32_t type, const std::uint8_t* data, std::uint32_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (!isStringType(type)) {
        return bytes;
    }
    if (size > 0 && data[size - 1] != 0) {
        bytes.push_back('\0');
    }
    const std::u16string units = narrowToUtf16(bytes);
    std::string stored(units.size() * 2, '\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        stored[2 * i] = static_cast<char>(units[i] & 0xFF);
        stored[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return stored;
}

Status copyOutValue(std::uint32_t storedType, const std::string& storedBytes, std::uint32_t* type,
                    std::uint8_t* data, std::uint32_t* size) {
    std::string bytes = storedBytes;
    if (isStringType(storedType)) {
        std::u16string units(storedBytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i) {
            units[i] =
                static_cast<char16_t>(static_cast<unsigned char>(storedBytes[2 * i]) |
                                      static_cast<unsigned char>(storedBytes[2 * i + 1]) << 8);
        }
        bytes = utf16ToNarrow(units);
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
