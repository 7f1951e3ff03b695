// Names compare as Windows compares them: registry key and value names, user and folder names,
// file names and extensions are equal when they are equal after each UTF-16 unit is mapped to its
// simple uppercase (Unicode's UnicodeData.txt; a unit without one stays). The same on every
// system, whatever its locale: "łukasz" is "ŁUKASZ", "Łukasz" is not "Żukasz", "ß" stays "ß".
// The narrow text is UTF-8; bytes that are not UTF-8 compare as they are.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform {

// The unit's simple uppercase, or the unit itself.
char16_t upperCaseUnit(char16_t unit);

// `text` with every letter in its uppercase: equal for names Windows holds for equal, so a key
// of maps and sets of names.
std::string foldedCase(std::string_view text);

bool equalIgnoringCase(std::string_view a, std::string_view b);

// `text` with ASCII letters in lowercase, everything else as it is: for texts shown or written
// in a form of their own (extensions, switches), never to compare names.
std::string lowerCase(std::string_view text);

}  // namespace quorvane::platform
