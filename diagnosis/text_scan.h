// Reading the text of scripts, tasks and policy files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/letter_case.h"

namespace quorvane::diagnosis {

// Files larger than this are not read: scripts, tasks, shortcuts and policy files are small.
inline constexpr std::size_t kReadLimit = 4 * 1024 * 1024;

// Text in the registry's narrow encoding: UTF-16 with either byte-order mark, UTF-16LE without
// one (a NUL after most characters), UTF-8 with or without a byte-order mark.
std::string decodeText(std::string_view bytes);

// The names of files, keys and values that matter here compare without regard to case.
using platform::equalIgnoringCase;
using platform::lowerCase;

// The XML text of an element's content with its entities replaced.
std::string unescapeXml(std::string_view text);

}  // namespace quorvane::diagnosis
