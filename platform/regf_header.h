// The base block of Windows' binary hive files (regf): the first 4096 bytes, which say whether
// the hive was written back cleanly. The rest of the format is hivex's to read and write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvane::platform::regf {

inline constexpr std::size_t kBaseBlockSize = 4096;
inline constexpr std::string_view kSignature = "regf";
// Offsets in the base block of its little-endian 32-bit fields.
inline constexpr std::size_t kPrimarySequenceOffset = 0x04;
inline constexpr std::size_t kSecondarySequenceOffset = 0x08;
inline constexpr std::size_t kChecksumOffset = 0x1FC;  // over the 508 bytes before it

inline std::uint32_t readUint32(std::string_view bytes, std::size_t offset) {
    const auto byte = [&](std::size_t i) {
        return std::uint32_t{static_cast<unsigned char>(bytes[offset + i])};
    };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

// The base block's checksum: the XOR of its first 127 32-bit words, 0 counted as 1 and
// 0xFFFFFFFF as 0xFFFFFFFE.
std::uint32_t checksum(std::string_view baseBlock);

struct BaseBlock {
    std::uint32_t primarySequence = 0;
    std::uint32_t secondarySequence = 0;
    bool checksumMatches = false;

    // Windows raises the primary number before it writes and the secondary one after: they
    // differ when a write was cut short, or when the newest state is still in the logs.
    bool writtenBackCleanly() const { return primarySequence == secondarySequence; }
};

// The base block at the start of `bytes`; nullopt when it is too short or not a hive's.
std::optional<BaseBlock> parseBaseBlock(std::string_view bytes);

}  // namespace quorvane::platform::regf
