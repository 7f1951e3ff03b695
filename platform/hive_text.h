// Text rules of Wine's registry files: names are UTF-16, compared case-insensitively in Wine's
// order, and written as escaped plain ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/utf16.h"

namespace quorvane::platform::hive {

// Wine's simple per-unit lower-case mapping (only where upper-casing maps it back).
char16_t foldNonAscii(char16_t unit);
inline char16_t foldUnit(char16_t unit) {
    if (unit < 0x80) {
        return (unit >= 'A' && unit <= 'Z') ? static_cast<char16_t>(unit + 32) : unit;
    }
    return foldNonAscii(unit);
}
std::u16string foldName(std::u16string_view name);

// Wine's sibling order: folded units compared one by one, a prefix sorting first.
int compareFolded(std::u16string_view a, std::u16string_view b);

// Lines of a hive file: blanks are spaces and tabs; a line ends in LF or CR LF.
std::size_t skipBlanks(std::string_view text, std::size_t pos);
// The line without its line end. Inline: every [path] line of a file passes here.
inline std::string_view withoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

bool isHexDigit(char c);
// The value of a hex digit, either case.
unsigned hexValue(char c);
// Appends `value` in lower-case hex digits, padded with zeros to at least `minDigits`.
void appendHex(std::string& out, std::uint64_t value, int minDigits);

// Appends `text` in Wine's escaped form. `specials` are the two characters that need a backslash
// besides the backslash itself: "\"\"" in names, string data and classes, "[]" in key paths.
void appendEscaped(std::string& out, std::u16string_view text, std::string_view specials);

// Reads an escaped text starting at `pos` up to the unescaped `terminator`. On success `pos` is
// just past the terminator. Fails (false) when no terminator follows.
bool readEscaped(std::string_view line, std::size_t& pos, char terminator, std::u16string& out);

}  // namespace quorvane::platform::hive
