#include "platform/hive_text.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>

#include "formats/utf16.h"

namespace quorvane::platform::hive {

namespace {

// The process locale may be "C", whose case tables stop at ASCII; names need Unicode's.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return locale;
}
wint_t lowerCase(wint_t unit) {
    return unicodeLocale() ? towlower_l(unit, unicodeLocale()) : std::towlower(unit);
}
wint_t upperCase(wint_t unit) {
    return unicodeLocale() ? towupper_l(unit, unicodeLocale()) : std::towupper(unit);
}

char controlEscape(char16_t unit) {
    switch (unit) {
        case 0x07:
            return 'a';
        case 0x08:
            return 'b';
        case 0x09:
            return 't';
        case 0x0A:
            return 'n';
        case 0x0B:
            return 'v';
        case 0x0C:
            return 'f';
        case 0x0D:
            return 'r';
        case 0x1B:
            return 'e';
        default:
            return 0;
    }
}

char16_t unescapeLetter(char letter) {
    switch (letter) {
        case 'a':
            return 0x07;
        case 'b':
            return 0x08;
        case 't':
            return 0x09;
        case 'n':
            return 0x0A;
        case 'v':
            return 0x0B;
        case 'f':
            return 0x0C;
        case 'r':
            return 0x0D;
        case 'e':
            return 0x1B;
        default:
            return static_cast<char16_t>(static_cast<unsigned char>(letter));
    }
}

void appendOctal(std::string& out, unsigned value, bool padded) {
    const char digits[3] = {static_cast<char>('0' + ((value >> 6) & 7)),
                            static_cast<char>('0' + ((value >> 3) & 7)),
                            static_cast<char>('0' + (value & 7))};
    int first = padded ? 0 : (value >= 64 ? 0 : value >= 8 ? 1 : 2);
    out.append(digits + first, digits + 3);
}

}  // namespace

std::size_t skipBlanks(std::string_view text, std::size_t pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    return pos;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

void appendHex(std::string& out, std::uint64_t value, int minDigits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char buffer[16];
    int count = 0;
    do {
        buffer[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (int i = count; i < minDigits; ++i) {
        out.push_back('0');
    }
    while (count > 0) {
        out.push_back(buffer[--count]);
    }
}

char16_t foldNonAscii(char16_t unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return unit;
    }
    const wint_t lower = lowerCase(unit);
    return (lower <= 0xFFFF && upperCase(lower) == unit) ? static_cast<char16_t>(lower) : unit;
}

std::u16string foldName(std::u16string_view name) {
    std::u16string folded(name);
    for (auto& unit : folded) {
        unit = foldUnit(unit);
    }
    return folded;
}

int compareFolded(std::u16string_view a, std::u16string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

void appendEscaped(std::string& out, std::u16string_view text, std::string_view specials) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        const bool hasNext = i + 1 < text.size();
        if (unit > 0x7F) {
            const bool padded = hasNext && text[i + 1] < 0x80 && isHexDigit(char(text[i + 1]));
            out += "\\x";
            appendHex(out, unit, padded ? 4 : 1);
        } else if (unit < 0x20) {
            out.push_back('\\');
            if (const char letter = controlEscape(unit)) {
                out.push_back(letter);
            } else {
                appendOctal(out, unit, hasNext && text[i + 1] >= '0' && text[i + 1] <= '7');
            }
        } else {
            if (unit == '\\' || unit == char16_t(specials[0]) || unit == char16_t(specials[1])) {
                out.push_back('\\');
            }
            out.push_back(static_cast<char>(unit));
        }
    }
}

bool readEscaped(std::string_view line, std::size_t& pos, char terminator, std::u16string& out) {
    while (pos < line.size()) {
        const char c = line[pos];
        if (c == terminator) {
            ++pos;
            return true;
        }
        if (c != '\\') {
            if (!formats::appendUtf8Sequence(line, pos, out)) {
                ++pos;
            }
            continue;
        }
        if (++pos == line.size()) {
            break;
        }
        const char escaped = line[pos];
        if (escaped == 'x') {
            unsigned value = 0;
            int digits = 0;
            ++pos;
            while (digits < 4 && pos < line.size() && isHexDigit(line[pos])) {
                value = value * 16 + hexValue(line[pos++]);
                ++digits;
            }
            out.push_back(static_cast<char16_t>(digits == 0 ? 'x' : value));
        } else if (escaped >= '0' && escaped <= '7') {
            unsigned value = 0;
            for (int digits = 0;
                 digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                 ++digits) {
                value = value * 8 + (line[pos++] - '0');
            }
            out.push_back(static_cast<char16_t>(value));
        } else {
            out.push_back(unescapeLetter(escaped));
            ++pos;
        }
    }
    return false;
}

}  // namespace quorvane::platform::hive
