// Reading what startup items, tasks and scripts contain, and spotting in it what writes the
// registry or names one of the restrictions' values.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/letter_case.h"

namespace quorvane::diagnosis {

// Files larger than this are read only up to it: scripts, tasks and policy files are small.
inline constexpr std::size_t kReadLimit = 4 * 1024 * 1024;

// The file's first `limit` bytes, exactly as stored; nullopt when it cannot be read.
std::optional<std::string> readFileBytes(const std::filesystem::path& file,
                                         std::size_t limit = kReadLimit);

// Text in the registry's narrow encoding: UTF-16 with either byte-order mark, UTF-16LE without
// one (a NUL after most characters), UTF-8 with or without a byte-order mark.
std::string decodeText(std::string_view bytes);

// Runs of at least four printable characters, ASCII or UTF-16LE, joined by blanks: the paths and
// arguments inside a binary file such as a shell link.
std::string printableStrings(std::string_view bytes);

struct CommandFindings {
    // Runs reg, regedit or regini, names a .reg or .pol file, or uses PowerShell's registry
    // commands or drives.
    bool changesRegistry = false;
    std::vector<int> restrictions;   // the restrictions whose value names it contains
    std::vector<std::string> files;  // script and registry files it names, as written
};

CommandFindings examineCommand(std::string_view command);
// The restrictions whose value names appear in `text` as whole words, in any case.
std::vector<int> restrictionsNamedIn(std::string_view text);

// The names of files, keys and values that matter here compare without regard to case.
using platform::equalIgnoringCase;
using platform::lowerCase;

// The XML text of an element's content with its entities replaced.
std::string unescapeXml(std::string_view text);

}  // namespace quorvane::diagnosis
