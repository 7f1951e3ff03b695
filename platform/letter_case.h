// Registry key and value names, file names and extensions compare without regard to letter case.
// Only ASCII letters fold, as in the C locale: the same on every system and in every code page.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform {

std::string lowerCase(std::string_view text);
bool equalIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quorvane::platform
