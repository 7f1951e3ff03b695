// Reading a file that others may have put in Quorvane's way; writing one is formats/whole_file.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::journal {

// A file read whole, or why it was not.
struct FileRead {
    std::optional<std::string> bytes;
    std::string failure;  // for people; empty when `bytes` is set
};

// Reads a file that somebody other than Quorvane may have put where it looks (an undo entry, a
// policy file, a script or shortcut that a startup command names): without ever blocking, only
// when it is a regular file of at most `limit` bytes, and, when run as root, only when the owner
// of `place` (the prefix, installation or folder it belongs to) could read it through the same
// path. A link is followed under that rule, so root is never led to disclose a file its user
// could not read. A FIFO, a device or a folder is refused without reading from it.
FileRead readUserFile(const std::filesystem::path& file, std::uintmax_t limit,
                      const std::filesystem::path& place);

// The bytes `file` holds, read as `readUserFile` with the file's own folder as its place and a
// bound of 64 MiB; nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& file);

}  // namespace quorvane::journal
