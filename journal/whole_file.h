// Writing a file whole or not at all: the bytes go to a new file beside it, are flushed to the
// disk, and only then take the file's name. A full disk, a missing folder or a name that is taken
// by a folder leave the old file (or none) in place, and say so.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::journal {

// Nothing when `file` now holds exactly `bytes`; else why not, for people.
std::optional<std::string> writeWholeFile(const std::filesystem::path& file,
                                          std::string_view bytes);

// The bytes `file` holds; nothing when it cannot be opened or read.
std::optional<std::string> readWholeFile(const std::filesystem::path& file);

}  // namespace quorvane::journal
