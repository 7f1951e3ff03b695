#include "platform/letter_case.h"

#include <algorithm>
#include <iterator>

#include "formats/utf16.h"

namespace quorvane::platform {

namespace {

struct UpperCase {
    char16_t unit;
    char16_t upper;
};

constexpr UpperCase kUpperCase[] = {
#include "letter_case_table.inc"
};

// The letters of UTF-8 text, one well-formed sequence at a time, in uppercase: its UTF-16 units
// upper-cased one by one; a byte that starts no well-formed sequence stands for itself.
template <typename Visit>
void forEachUpperCased(std::string_view text, Visit visit) {
    std::u16string units;
    for (std::size_t pos = 0; pos < text.size();) {
        units.clear();
        const std::size_t start = pos;
        if (!formats::appendUtf8Sequence(text, pos, units)) {
            visit(text.substr(start, 1), std::u16string_view());
            ++pos;
            continue;
        }
        for (char16_t& unit : units) {
            unit = upperCaseUnit(unit);
        }
        visit(std::string_view(), std::u16string_view(units));
    }
}

}  // namespace

char16_t upperCaseUnit(char16_t unit) {
    if (unit < 0x80) {
        return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 32) : unit;
    }
    const auto* found = std::lower_bound(
        std::begin(kUpperCase), std::end(kUpperCase), unit,
        [](const UpperCase& entry, char16_t wanted) { return entry.unit < wanted; });
    return found != std::end(kUpperCase) && found->unit == unit ? found->upper : unit;
}

std::string foldedCase(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    forEachUpperCased(text, [&](std::string_view raw, std::u16string_view units) {
        folded += raw.empty() ? formats::utf16ToUtf8(units) : std::string(raw);
    });
    return folded;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    const auto plain = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    if (plain(a) && plain(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return upperCaseUnit(static_cast<char16_t>(x)) ==
                          upperCaseUnit(static_cast<char16_t>(y));
               });
    }
    return foldedCase(a) == foldedCase(b);
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return lower;
}

}  // namespace quorvane::platform
