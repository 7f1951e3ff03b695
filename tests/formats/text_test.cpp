// UTF-16 text and little-endian numbers: bytes to units and back, UTF-8 both ways with what
// cannot be converted, and numbers read only within the bytes given.
#include <gtest/gtest.h>

#include <string>

#include "formats/little_endian.h"
#include "formats/utf16.h"
#include "tests/support/case_name.h"

namespace quorvane::formats {
namespace {

using namespace std::string_literals;

struct Utf16Case {
    const char* what;
    std::string bytes;  // UTF-16LE
    std::string utf8;   // what they read as
    bool roundTrip;     // whether the UTF-8 text gives the same bytes back
};
class Utf16Text : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Text, ReadsAsUtf8) {
    EXPECT_EQ(utf16LeToUtf8(GetParam().bytes), GetParam().utf8);
    if (GetParam().roundTrip) {
        EXPECT_EQ(utf16LeBytes(utf8ToUtf16(GetParam().utf8)), GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf16Text,
    ::testing::Values(
        Utf16Case{"ascii", "a\0b\0"s, "ab", true},
        Utf16Case{"two byte utf8", "\xE9\0"s, "\xC3\xA9", true},
        Utf16Case{"three byte utf8", "\xA9\x03"s, "\xCE\xA9", true},
        Utf16Case{"surrogate pair", "\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80", true},
        Utf16Case{"embedded nul", "a\0\0\0b\0"s, "a\0b"s, true},
        Utf16Case{"odd last byte left out", "a\0b"s, "a", false},
        Utf16Case{"lone high surrogate",
                  "\x3D\xD8"
                  "a\0"s,
                  "\xEF\xBF\xBD"
                  "a",
                  false},
        Utf16Case{"lone low surrogate at end", "a\0\x00\xDE"s, "a\xEF\xBF\xBD", false},
        Utf16Case{"swapped pair", "\x00\xDE\x3D\xD8"s, "\xEF\xBF\xBD\xEF\xBF\xBD", false}),
    testing::CaseName());

TEST(Utf16Text, ReadsBigEndianUnits) {
    EXPECT_EQ(utf16Units("\0a\x03\xA9"s, ByteOrder::Big), u"a\u03A9");
}

struct Utf8Case {
    const char* what;
    std::string utf8;
    std::u16string units;  // invalid bytes left out
};
class InvalidUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(InvalidUtf8, IsLeftOut) {
    EXPECT_EQ(utf8ToUtf16(GetParam().utf8), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Bytes, InvalidUtf8,
                         ::testing::Values(Utf8Case{"stray continuation",
                                                    "a\x80"
                                                    "b",
                                                    u"ab"},
                                           Utf8Case{"overlong slash",
                                                    "\xC0\xAF"
                                                    "b",
                                                    u"b"},
                                           Utf8Case{"overlong three bytes",
                                                    "\xE0\x9F\xBF"
                                                    "z",
                                                    u"z"},
                                           Utf8Case{"truncated sequence", "a\xE2\x82", u"a"},
                                           Utf8Case{"encoded surrogate",
                                                    "\xED\xA0\x80"
                                                    "z",
                                                    u"z"},
                                           Utf8Case{"beyond unicode",
                                                    "\xF4\x90\x80\x80"
                                                    "z",
                                                    u"z"}),
                         testing::CaseName());

struct NumberCase {
    const char* what;
    std::string bytes;
    std::size_t at;
    std::size_t size;
    std::optional<std::uint64_t> value;
};
class LittleEndian : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LittleEndian, ReadsWithinTheBytes) {
    EXPECT_EQ(readLe(GetParam().bytes, GetParam().at, GetParam().size), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, LittleEndian,
    ::testing::Values(NumberCase{"dword", "\x78\x56\x34\x12"s, 0, 4, 0x12345678},
                      NumberCase{"word at offset", "\xFF\x01\x80"s, 1, 2, 0x8001},
                      NumberCase{"high bytes", "\xFF\xFF\xFF\xFF"s, 0, 4, 0xFFFFFFFF},
                      NumberCase{"qword", "\1\2\3\4\5\6\7\x80"s, 0, 8, 0x8007060504030201},
                      NumberCase{"one byte short", "\1\2\3"s, 0, 4, std::nullopt},
                      NumberCase{"start past end", "\1\2"s, 3, 1, std::nullopt},
                      NumberCase{"huge offset", "\1\2"s, ~std::size_t{0}, 2, std::nullopt}),
    testing::CaseName());

TEST(LittleEndian, WritesWhatItReads) {
    const std::string bytes = dwordBytes(0xA1B2C3D4);
    EXPECT_EQ(bytes, "\xD4\xC3\xB2\xA1"s);
    EXPECT_EQ(readDword(bytes), 0xA1B2C3D4u);
}

}  // namespace
}  // namespace quorvane::formats
