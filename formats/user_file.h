// Reading a file that others may have put in Quorvane's way; writing one is formats/whole_file.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "formats/result.h"

namespace quorvane::formats {

// Reads a file that somebody other than Quorvane may have put where it looks (an undo entry, a
// policy file, a script or shortcut that a startup command names): without ever blocking, only
// when it is a regular file of at most `limit` bytes, and, when run as root, only when the owner
// of `place` (the prefix, installation or folder it belongs to) could read it through the same
// path. A link is followed under that rule, so root is never led to disclose a file its user
// could not read. A FIFO, a device or a folder is refused without reading from it.
Result<std::string> readUserFile(const std::filesystem::path& file, std::uintmax_t limit,
                                 const std::filesystem::path& place);

}  // namespace quorvane::formats
