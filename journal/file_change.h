// Changing files a user owns, for `fix` and its undo: a file rewritten whole (formats/whole_file.h)
// keeps its owner and permissions, and an item is moved without ever taking a name that exists.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "formats/result.h"

namespace quorvane::journal {

// Replaces the regular file `file` with `bytes` whole or not at all, then reads it back; the new
// file gets the owner, group and permission bits of the old one. When run as root, a file whose
// folder its owner could not change is refused.
Result<void> rewriteFile(const std::filesystem::path& file, std::string_view bytes);

// Moves the file `from` to `to` (making `to`'s folder), never over an existing file; across file
// systems by copying, reading back and then removing the original.
Result<void> moveFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace quorvane::journal
