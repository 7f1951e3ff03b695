// The registry's narrow text: what the "A" functions take and give. Windows uses the system's
// ANSI code page; the hive store uses UTF-8. Files in other encodings (UTF-16 registry files,
// policy files, task definitions) meet the registry's text through these two functions.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform {

std::u16string narrowToUtf16(std::string_view text);
std::string utf16ToNarrow(std::u16string_view text);

}  // namespace quorvane::platform
