// What holds for every input of the shared formats: UTF-16 and UTF-8 convert into each other,
// numbers into their bytes, and a registry file, or a value's data text, reads back as what was
// written.
#include <gtest/gtest.h>
#include <iconv.h>
#include <rapidcheck/gtest.h>

#include <string>

#include "formats/little_endian.h"
#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "tests/support/reg_file_show.h"

namespace quorvane::formats {

namespace {

// Units of every kind: ASCII, the characters the formats treat apart, any unit at all
// (surrogates alone or in pairs among them).
rc::Gen<char16_t> anyUnit() {
    return rc::gen::oneOf(rc::gen::inRange<char16_t>(0x20, 0x7F),
                          rc::gen::elementOf(std::u16string(u"\"\\\r\n\t[]=@;-, \0", 14)),
                          rc::gen::arbitrary<char16_t>());
}
rc::Gen<std::u16string> anyText() {
    return rc::gen::container<std::u16string>(anyUnit());
}

// The UTF-16 text of every scalar value, in order: each converts to the UTF-8 that glibc's
// iconv makes of it, and back.
TEST(Utf16Text, EveryScalarValueConvertsBothWays) {
    std::u16string all;
    for (char32_t code = 0; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        if (code < 0x10000) {
            all += static_cast<char16_t>(code);
        } else {
            all += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            all += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    const std::string utf8 = utf16ToUtf8(all);
    std::string bytes = utf16LeBytes(all);
    std::string expected(bytes.size() * 2, '\0');
    char* in = bytes.data();
    char* out = expected.data();
    std::size_t inLeft = bytes.size();
    std::size_t outLeft = expected.size();
    const iconv_t converter = ::iconv_open("UTF-8", "UTF-16LE");
    ASSERT_NE(::iconv(converter, &in, &inLeft, &out, &outLeft), static_cast<std::size_t>(-1));
    ::iconv_close(converter);
    expected.resize(expected.size() - outLeft);
    EXPECT_TRUE(utf8 == expected);
    EXPECT_TRUE(utf8ToUtf16(utf8) == all);
}

// Any units: a surrogate without its partner becomes U+FFFD, so that the text is valid UTF-8
// and reads back as the same units otherwise.
RC_GTEST_PROP(Utf16Text, LoneSurrogatesBecomeReplacementCharacters, ()) {
    const std::u16string text = *anyText();
    std::u16string expected = text;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const bool high = expected[i] >= 0xD800 && expected[i] <= 0xDBFF;
        if (high && i + 1 < expected.size() && expected[i + 1] >= 0xDC00 &&
            expected[i + 1] <= 0xDFFF) {
            ++i;
        } else if (expected[i] >= 0xD800 && expected[i] <= 0xDFFF) {
            expected[i] = 0xFFFD;
        }
    }
    RC_ASSERT(utf8ToUtf16(utf16ToUtf8(text)) == expected);
}

// Bytes that can begin no character, and sequences that encode none (overlong, an encoded
// surrogate, beyond U+10FFFF, cut short), put anywhere between whole characters or at the end,
// are left out.
RC_GTEST_PROP(Utf16Text, InvalidBytesBetweenCharactersAreLeftOut, ()) {
    const std::u16string text = utf8ToUtf16(utf16ToUtf8(*anyText()));
    std::string withInvalid;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (*rc::gen::inRange(0, 4) == 0) {
            withInvalid += *rc::gen::elementOf(std::vector<std::string>{
                "\x80", "\xBF", "\xC0", "\xC1", "\xF5", "\xFF", "\xC0\xAF", "\xE0\x9F\xBF",
                "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"});
        }
        if (i == text.size()) {
            break;
        }
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        withInvalid += utf16ToUtf8(text.substr(i, pair ? 2 : 1));
        i += pair ? 1 : 0;
    }
    RC_ASSERT(utf8ToUtf16(withInvalid) == text);
}

// UTF-16LE bytes and units, and the big-endian order read as the same units byte-swapped.
RC_GTEST_PROP(Utf16Text, BytesAndUnitsRoundTrip, (const std::string& bytes)) {
    const std::string even = bytes.substr(0, bytes.size() & ~std::size_t{1});
    RC_ASSERT(utf16LeBytes(utf16Units(bytes)) == even);
    std::string swapped = even;
    for (std::size_t i = 0; i < swapped.size(); i += 2) {
        std::swap(swapped[i], swapped[i + 1]);
    }
    RC_ASSERT(utf16Units(swapped, ByteOrder::Big) == utf16Units(even));
}

// A number of 1 to 8 bytes at any offset reads as those bytes, least significant first, when they
// are all there, and not at all otherwise; a DWORD reads back from its four bytes.
RC_GTEST_PROP(LittleEndian, ANumberIsReadWithinTheBytesOnly, (const std::string& bytes)) {
    const std::size_t at = *rc::gen::oneOf(rc::gen::inRange<std::size_t>(0, bytes.size() + 2),
                                           rc::gen::just(~std::size_t{0}));
    const std::size_t size = *rc::gen::inRange<std::size_t>(1, 9);
    std::optional<std::uint64_t> expected;
    for (std::size_t i = 0; at <= bytes.size() && size <= bytes.size() - at && i < size; ++i) {
        expected = expected.value_or(0) | std::uint64_t{static_cast<unsigned char>(bytes[at + i])}
                                              << (8 * i);
    }
    RC_ASSERT(readLe(bytes, at, size) == expected);
    const auto value = *rc::gen::arbitrary<std::uint32_t>();
    RC_ASSERT(dwordBytes(value).size() == 4u);
    RC_ASSERT(readLe(dwordBytes(value), 0, 4) == value);
}

// Data of every type: texts as the registry stores them (with quotes, backslashes, line breaks
// and NULs), DWORDs of four bytes and of other sizes, and any bytes of any type.
rc::Gen<RegValue> anyValue() {
    return rc::gen::exec([] {
        RegValue value;
        value.name = *anyText();
        value.deleted = *rc::gen::inRange(0, 8) == 0;
        if (!value.deleted) {
            value.type = *rc::gen::oneOf(
                rc::gen::elementOf(std::vector<std::uint32_t>{0, 1, 2, 3, 4, 7, 11}),
                rc::gen::arbitrary<std::uint32_t>());
            switch (*rc::gen::inRange(0, 3)) {
                case 0:
                    value.data = registryString(*anyText());
                    break;
                case 1:
                    value.data = dwordBytes(*rc::gen::arbitrary<std::uint32_t>());
                    break;
                default:
                    // Now and then long enough for hex data over many lines.
                    value.data =
                        *rc::gen::oneOf(rc::gen::arbitrary<std::string>(),
                                        rc::gen::scale(10, rc::gen::arbitrary<std::string>()));
            }
        }
        return value;
    });
}

rc::Gen<RegSection> anySection() {
    return rc::gen::exec([] {
        RegSection section;
        // A key line has no way to hold a line break.
        section.key = *rc::gen::elementOf(std::vector<std::u16string>{u"HKEY_CURRENT_USER",
                                                                      u"HKEY_LOCAL_MACHINE"}) +
                      u"\\" + *rc::gen::suchThat(anyText(), [](const std::u16string& key) {
                          return key.find_first_of(u"\r\n") == std::u16string::npos;
                      });
        section.deleted = *rc::gen::inRange(0, 6) == 0;
        if (!section.deleted) {
            section.values = *rc::gen::container<std::vector<RegValue>>(
                static_cast<std::size_t>(*rc::gen::inRange(0, 8)), anyValue());
        }
        return section;
    });
}

RC_GTEST_PROP(RegFile, ReadsBackWhatWasWritten, ()) {
    const auto sections = *rc::gen::container<std::vector<RegSection>>(
        static_cast<std::size_t>(*rc::gen::inRange(0, 5)), anySection());
    const auto read = readRegFile(writeRegFile(sections));
    if (!read) {
        RC_FAIL(read.failure().reason);
    }
    RC_ASSERT(*read == sections);
}

// The data text of one value, as an undo entry keeps it, gives the value's data back.
RC_GTEST_PROP(RegFile, DataTextReadsBackAsTheData, ()) {
    const RegValue value = *anyValue();
    RegValue back;
    back.name = value.name;  // the text holds no name
    RC_ASSERT(readRegValueData(regValueData(value), back));
    RC_ASSERT(back == value);
}

}  // namespace
}  // namespace quorvane::formats
