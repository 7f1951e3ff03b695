#include "platform/win32_registry.h"

#include <windows.h>

namespace quorvane::platform {

namespace {

// Predefined roots travel as their 32-bit values; Windows expects them sign-extended, so
// 0x80000001 must become 0xFFFFFFFF80000001 in a 64-bit HKEY.
HKEY toHkey(KeyHandle key) {
    if (isPredefinedRoot(key)) {
        return reinterpret_cast<HKEY>(
            static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(key))));
    }
    return reinterpret_cast<HKEY>(key);
}

// Opening a root with an empty sub-key hands the sign-extended root back; callers know the
// roots by their 32-bit values only.
KeyHandle fromHkey(HKEY key) {
    const auto value = reinterpret_cast<LONG_PTR>(key);
    const auto first = static_cast<LONG>(static_cast<std::uint32_t>(kClassesRoot));
    const auto last = static_cast<LONG>(static_cast<std::uint32_t>(kDynData));
    if (value >= first && value <= last) {
        return static_cast<std::uint32_t>(value);
    }
    return reinterpret_cast<KeyHandle>(key);
}

}  // namespace

Status Win32Registry::openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                              KeyHandle& result) {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(toHkey(parent), subKey.c_str(), 0, access, &opened);
    result = status == ERROR_SUCCESS ? fromHkey(opened) : 0;
    return status;
}

Status Win32Registry::createKey(KeyHandle parent, const std::string& subKey, KeyHandle& result) {
    HKEY created = nullptr;
    const LONG status = RegCreateKeyA(toHkey(parent), subKey.c_str(), &created);
    result = status == ERROR_SUCCESS ? fromHkey(created) : 0;
    return status;
}

Status Win32Registry::setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t size) {
    return RegSetValueExA(toHkey(key), name.c_str(), 0, type, data, size);
}

Status Win32Registry::queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size) {
    // DWORD is unsigned long here, not std::uint32_t, so the out-parameters go through locals,
    // primed with the caller's values so that whatever Windows leaves alone stays as it was.
    DWORD typeOut = type != nullptr ? *type : 0;
    DWORD sizeInOut = size != nullptr ? *size : 0;
    const LONG status =
        RegQueryValueExA(toHkey(key), name.c_str(), nullptr, type != nullptr ? &typeOut : nullptr,
                         data, size != nullptr ? &sizeInOut : nullptr);
    if (type != nullptr) {
        *type = typeOut;
    }
    if (size != nullptr) {
        *size = sizeInOut;
    }
    return status;
}

Status Win32Registry::deleteKey(KeyHandle key, const std::string& subKey) {
    return RegDeleteKeyA(toHkey(key), subKey.c_str());
}

Status Win32Registry::deleteValue(KeyHandle key, const std::string& name) {
    return RegDeleteValueA(toHkey(key), name.c_str());
}

Status Win32Registry::closeKey(KeyHandle key) {
    return RegCloseKey(toHkey(key));
}

Status Win32Registry::enumKey(KeyHandle key, std::uint32_t index, std::string& name) {
    // Key names have at most 255 characters.
    char buffer[256];
    DWORD length = sizeof buffer;
    const LONG status =
        RegEnumKeyExA(toHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        name.assign(buffer, length);
    }
    return status;
}

Status Win32Registry::enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                                std::uint32_t& type, std::string& data) {
    // The buffers are sized from the key's largest name and data; another program may enlarge
    // them in between, so a value that no longer fits is asked for again.
    constexpr int kAttempts = 4;
    LONG status = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < kAttempts && status == ERROR_MORE_DATA; ++attempt) {
        DWORD longestName = 0;
        DWORD largestData = 0;
        status = RegQueryInfoKeyA(toHkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, &longestName, &largestData, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        std::string nameBuffer(longestName + 1, '\0');
        std::string dataBuffer(largestData, '\0');
        DWORD nameLength = longestName + 1;
        DWORD dataSize = largestData;
        DWORD typeOut = 0;
        status = RegEnumValueA(toHkey(key), index, nameBuffer.data(), &nameLength, nullptr,
                               &typeOut, reinterpret_cast<BYTE*>(dataBuffer.data()), &dataSize);
        if (status == ERROR_SUCCESS) {
            name.assign(nameBuffer.data(), nameLength);
            type = typeOut;
            data.assign(dataBuffer.data(), dataSize);
        }
    }
    return status;
}

}  // namespace quorvane::platform
