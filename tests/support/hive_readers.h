// Readers of Windows' binary hives that share no code with hivex, to check what Quorvane wrote:
// Samba's regtree (Debian registry-tools) and chntpw's reged (Debian chntpw).
#pragma once

#include <filesystem>
#include <string>

namespace quorvane::testing {

// regtree's listing of every key and value, or "" when it failed.
std::string regtreeListing(const std::filesystem::path& hive);
// reged -x's registry-editor export of the whole hive under `prefix` (HKEY_CURRENT_USER, ...),
// or "" when it failed.
std::string regedExport(const std::filesystem::path& hive, const std::string& prefix);

}  // namespace quorvane::testing
