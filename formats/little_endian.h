// Little-endian numbers as Windows files and registry data hold them: least significant byte
// first. Reads never go past the bytes they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::formats {

// The unsigned number of `size` bytes (at most 8) at `at`; nullopt when they run past the end.
inline std::optional<std::uint64_t> readLe(std::string_view bytes, std::size_t at,
                                           std::size_t size) {
    if (size > 8 || at > bytes.size() || size > bytes.size() - at) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// A DWORD (four bytes) at `at`.
inline std::optional<std::uint32_t> readDword(std::string_view bytes, std::size_t at = 0) {
    const auto value = readLe(bytes, at, 4);
    return value ? std::optional(static_cast<std::uint32_t>(*value)) : std::nullopt;
}

// Appends the `size` low bytes of `value`, least significant first.
inline void appendLe(std::string& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

inline std::string dwordBytes(std::uint32_t value) {
    std::string bytes;
    appendLe(bytes, value, 4);
    return bytes;
}

}  // namespace quorvane::formats
