// Reading the text of scripts, tasks and policy files.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/letter_case.h"
#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

// Files larger than this are not read: scripts, tasks, shortcuts and policy files are small.
inline constexpr std::size_t kReadLimit = 4 * 1024 * 1024;

// Text in the registry's narrow encoding: UTF-16 with either byte-order mark, UTF-16LE without
// one (a NUL after most characters), UTF-8 with or without a byte-order mark.
std::string decodeText(std::string_view bytes);

// The names of files, keys and values that matter here compare without regard to case.
using platform::equalIgnoringCase;
using platform::lowerCase;

// A registry key's path as a command, a registry file or a script writes it, below its hive: when
// it begins with HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE (spelled out or short: HKCU, HKLM; as
// PowerShell's drives HKCU: and HKLM: or its Registry:: provider paths; on a computer named as
// \\NAME\...) or with a user's key in HKEY_USERS (HKU\SID\...), the rest of the path; none for
// any other path.
std::optional<std::string> keyBelowHive(std::string_view path);

// Whether `subKey`, a key below its hive, is the key that holds `restriction`, in either registry
// view (the 32-bit view's Software\Wow6432Node counts as Software). Empty names are dropped and
// case is ignored. The one rule for commands, registry files and policy files alike.
bool holdsRestriction(std::string_view subKey, const restrictions::Restriction& restriction);

// The XML text of an element's content with its entities replaced.
std::string unescapeXml(std::string_view text);

}  // namespace quorvane::diagnosis
