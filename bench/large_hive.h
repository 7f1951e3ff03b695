// A SOFTWARE hive grown to about 100 MB, as a real machine hive is: 720 x 50 keys of two
// 1,000-byte values each nobody reads, and every restriction's value in its policy key, for the
// benchmarks of an offline Windows installation.
#pragma once

#include <filesystem>

namespace quorvane::bench {

// How many keys growHive adds below the root's Vendors key, besides the restrictions' keys.
inline constexpr int kGrownKeys = 720 * 50;

// Adds the keys and values to the hive `file` (an empty hive, or an installation's SOFTWARE)
// through hivex and writes it back. Throws std::runtime_error when hivex cannot.
void growHive(const std::filesystem::path& file);

}  // namespace quorvane::bench
