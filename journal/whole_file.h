// Writing a file whole or not at all: the bytes go to a new file beside it, are flushed to the
// disk, and only then take the file's name. A full disk, a missing folder or a name that is taken
// by a folder leave the old file (or none) in place, and say so.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::journal {

// Nothing when `file` now holds exactly `bytes`; else why not, for people.
std::optional<std::string> writeWholeFile(const std::filesystem::path& file,
                                          std::string_view bytes);

struct NewFileFailure {
    bool taken = false;  // the name exists already
    std::string reason;  // for people
};

// Creates `file` holding `bytes`, only when no file of that name exists: the bytes go to a new
// file beside it and are flushed, then take the name exclusively (never over another file), and
// the folder is flushed too. Nothing when `file` now holds exactly `bytes`.
std::optional<NewFileFailure> writeNewFile(const std::filesystem::path& file,
                                           std::string_view bytes);

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
