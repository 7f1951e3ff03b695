// The text conversions hivex asks of iconv(3), as quorvane-cli answers them itself
// (platform/hivex_iconv.cpp, linked into this test as into the program): through iconv's own
// interface, in output buffers of every size, against the project's UTF-8 and UTF-16 code.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "formats/utf16.h"

namespace {

using quorvane::formats::utf16LeBytes;
using quorvane::formats::utf8ToUtf16;

struct Converted {
    std::string bytes;
    int error = 0;  // 0 when everything was converted
};

// Converts `in` through buffers of `room` bytes (room for the longest character at least), going
// on after each "output full" (E2BIG) with
// what was left, so that a cut at any point must give the same bytes as one large buffer.
Converted convert(const char* to, const char* from, std::string in, std::size_t room) {
    const iconv_t descriptor = iconv_open(to, from);
    if (descriptor == reinterpret_cast<iconv_t>(-1)) {
        return {"", errno};
    }
    Converted result;
    char* input = in.data();
    std::size_t inputLeft = in.size();
    for (;;) {
        std::string buffer(room, '\0');
        char* output = buffer.data();
        std::size_t outputLeft = room;
        const std::size_t status = iconv(descriptor, &input, &inputLeft, &output, &outputLeft);
        const int error = errno;
        result.bytes.append(buffer, 0, room - outputLeft);
        if (status != static_cast<std::size_t>(-1)) {
            break;
        }
        if (error != E2BIG || outputLeft == room) {
            result.error = error;
            break;
        }
    }
    iconv_close(descriptor);
    return result;
}

TEST(HivexIconv, ConvertsUtf8ToUtf16AndLatin1AndBackInBuffersOfAnySize) {
    for (const std::string text : {"", "NoBrowserClose", "Zürich Öl", "Жанна", "€uro",
                                   "\xF0\x9F\x98\x80 astral", "mixed ÿ Ā \xE2\x80\x8B"}) {
        const std::string utf16 = utf16LeBytes(utf8ToUtf16(text));
        const std::u16string units = utf8ToUtf16(text);
        const bool latin1 =
            std::all_of(units.begin(), units.end(), [](char16_t u) { return u <= 0xFF; });
        std::string bytes;
        for (char16_t unit : units) {
            bytes.push_back(static_cast<char>(unit));
        }
        for (std::size_t room : {4u, 5u, 7u, 4096u}) {
            EXPECT_EQ(convert("UTF-16LE", "UTF-8", text, room).bytes, utf16) << text << room;
            EXPECT_EQ(convert("UTF-8", "UTF-16LE", utf16, room).bytes, text) << text << room;
            const Converted toLatin1 = convert("LATIN1", "UTF-8", text, room);
            EXPECT_EQ(toLatin1.error, latin1 ? 0 : EILSEQ) << text << room;
            if (latin1) {
                EXPECT_EQ(toLatin1.bytes, bytes) << text << room;
                EXPECT_EQ(convert("UTF-8", "LATIN1", bytes, room).bytes, text) << text << room;
            }
        }
    }
}

// Input that is no text of its encoding is refused (EILSEQ), input cut in the middle of a
// character is named as such (EINVAL), as the C library's own converters do.
TEST(HivexIconv, RefusesBrokenInputAndUnknownEncodings) {
    struct Row {
        const char* from;
        std::string input;
        int error;
    };
    const Row rows[] = {
        {"UTF-8", "a\xC3", EINVAL},                                // cut after its lead byte
        {"UTF-8", "a\xFF", EILSEQ},                                // never a lead byte
        {"UTF-8", "\xED\xA0\x80", EILSEQ},                         // a surrogate written as UTF-8
        {"UTF-8", "\xC0\xAF", EILSEQ},                             // overlong
        {"UTF-16LE", std::string("A\0B", 3), EINVAL},              // an odd byte at the end
        {"UTF-16LE", std::string("\x00\xD8", 2), EINVAL},          // half a pair at the end
        {"UTF-16LE", std::string("\x00\xDC\x41\x00", 4), EILSEQ},  // a lone second half
        {"UTF-16LE", std::string("\x00\xD8\x41\x00", 4), EILSEQ},  // a first half without its pair
    };
    for (const Row& row : rows) {
        EXPECT_EQ(convert("UTF-8", row.from, row.input, 64).error, row.error) << row.from;
    }
    EXPECT_EQ(convert("UTF-8", "KOI8-R", "x", 64).error, EINVAL);
    EXPECT_EQ(convert("UTF-16LE", "UTF-8", "", 64).error, 0);
}

}  // namespace
