// Empty Windows hive files (regf) for the tests, the benchmarks and the fuzz seeds, written from
// the format's public description: the base block with its checksum, one 4 KB hive bin holding
// the root key's node and its security cell, and the bin's free rest. hivex fills them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane::testing {

struct EmptyHiveOptions {
    std::u16string_view fileName = u"SOFTWARE";  // the base block's name field
    std::uint32_t primarySequence = 1;           // a clean hive has equal numbers
    std::uint32_t secondarySequence = 1;
};

void writeEmptyHive(const std::filesystem::path& file, const EmptyHiveOptions& options = {});

// Sets the base block's two sequence numbers of a hive file (and its checksum), as a write that
// was cut short leaves them.
void setSequenceNumbers(const std::filesystem::path& file, std::uint32_t primary,
                        std::uint32_t secondary);

// Damage done on purpose where hivex finds a hive's keys and values: the file offset of the
// key at `path` ("a\\b"; 0 when missing), a 32-bit field set, a value's data or a key's list
// that lies outside the hive, a key that lists itself among its sub-keys in place of its first one.
std::uint64_t keyOffset(const std::filesystem::path& hive, const std::string& path);
void setField(const std::filesystem::path& file, std::uint64_t offset, std::uint32_t value);
inline constexpr std::uint32_t kOutOfRange = 0x7FFFFFF0;
void dataOutOfRange(const std::filesystem::path& hive, const std::string& key, const char* value);
void listItself(const std::filesystem::path& hive, const std::string& key);

}  // namespace quorvane::testing
