// Which rights of a key handle each operation needs, as Windows checks them: the generic rights
// and MAXIMUM_ALLOWED count as the specific ones they stand for.
#pragma once

#include <cstdint>

#include "platform/registry_api.h"

namespace quorvane::platform::rights {

inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kMaximumAllowed = 0x02000000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;

// Any of these asks for a handle that may change the key.
inline constexpr std::uint32_t kWrite = kKeySetValue | kKeyCreateSubKey | kKeyCreateLink | kDelete |
                                        kWriteDac | kWriteOwner | kGenericWrite | kGenericAll;
inline constexpr std::uint32_t kQuery =
    kKeyQueryValue | kGenericRead | kGenericAll | kMaximumAllowed;
inline constexpr std::uint32_t kSet = kKeySetValue | kGenericWrite | kGenericAll | kMaximumAllowed;
inline constexpr std::uint32_t kCreate =
    kKeyCreateSubKey | kGenericWrite | kGenericAll | kMaximumAllowed;
inline constexpr std::uint32_t kEnumerate =
    kKeyEnumerateSubKeys | kGenericRead | kGenericAll | kMaximumAllowed;

}  // namespace quorvane::platform::rights
