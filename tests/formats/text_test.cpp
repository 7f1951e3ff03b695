// What cannot be converted from UTF-8, and little-endian numbers of other sizes and places, read
// only within the bytes given. The round trips of both are properties (formats_property_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "formats/little_endian.h"
#include "formats/utf16.h"
#include "tests/support/case_name.h"

namespace quorvane::formats {
namespace {

using namespace std::string_literals;

struct Utf8Case {
    const char* what;
    std::string utf8;
    std::u16string units;  // invalid bytes left out
};
class InvalidUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(InvalidUtf8, IsLeftOut) {
    EXPECT_EQ(utf8ToUtf16(GetParam().utf8), GetParam().units);
}

// The letter after the bytes is "z", which no hex escape before it can swallow.
INSTANTIATE_TEST_SUITE_P(Bytes, InvalidUtf8,
                         ::testing::Values(Utf8Case{"overlong slash", "\xC0\xAFz", u"z"},
                                           Utf8Case{"overlong three bytes", "\xE0\x9F\xBFz", u"z"},
                                           Utf8Case{"truncated sequence", "z\xE2\x82", u"z"},
                                           Utf8Case{"encoded surrogate", "\xED\xA0\x80z", u"z"},
                                           Utf8Case{"beyond unicode", "\xF4\x90\x80\x80z", u"z"}),
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
    ::testing::Values(NumberCase{"word at offset", "\xFF\x01\x80"s, 1, 2, 0x8001},
                      NumberCase{"qword", "\1\2\3\4\5\6\7\x80"s, 0, 8, 0x8007060504030201},
                      NumberCase{"one byte short", "\1\2\3"s, 0, 4, std::nullopt},
                      NumberCase{"start past end", "\1\2"s, 3, 1, std::nullopt},
                      NumberCase{"huge offset", "\1\2"s, ~std::size_t{0}, 2, std::nullopt}),
    testing::CaseName());

}  // namespace
}  // namespace quorvane::formats
