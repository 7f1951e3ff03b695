// hivex turns key and value names into UTF-8 and back with iconv(3): from UTF-16LE and Latin-1,
// and to them. A static C library cannot load the converters for those at run time (they are
// modules it opens from the system, which a rescue system may lack, or hold in a version of its
// own), so quorvane-cli answers the four conversions itself, with the project's own UTF-8 and
// UTF-16 code, in every build alike. Any other pair is refused as iconv_open(3) refuses a pair
// it does not know (EINVAL). Linked into the executable, these definitions take the place of the
// C library's for hivex.
#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "formats/utf16.h"

namespace {

using quorvane::formats::appendUtf8Sequence;

enum class Encoding { Utf8, Utf16Le, Latin1 };

struct Converter {
    Encoding from;
    Encoding to;
};

std::optional<Encoding> encodingNamed(const char* name) {
    const auto is = [name](const char* known) { return ::strcasecmp(name, known) == 0; };
    if (is("UTF-8") || is("UTF8")) {
        return Encoding::Utf8;
    }
    if (is("UTF-16LE") || is("UTF16LE")) {
        return Encoding::Utf16Le;
    }
    if (is("LATIN1") || is("ISO-8859-1") || is("ISO8859-1") || is("ISO_8859-1")) {
        return Encoding::Latin1;
    }
    return std::nullopt;
}

// The UTF-16 units of the one character at the start of `in` and the bytes it takes; 0 bytes
// with `error` set to EILSEQ (not a character of the encoding) or EINVAL (cut off at the end).
std::size_t decode(Encoding from, std::string_view in, std::u16string& units, int& error) {
    units.clear();
    switch (from) {
        case Encoding::Latin1:
            units.push_back(static_cast<unsigned char>(in[0]));
            return 1;
        case Encoding::Utf8: {
            std::size_t pos = 0;
            if (appendUtf8Sequence(in, pos, units)) {
                return pos;
            }
            const auto lead = static_cast<unsigned char>(in[0]);
            const std::size_t length = lead >= 0xF5   ? 1
                                       : lead >= 0xF0 ? 4
                                       : lead >= 0xE0 ? 3
                                       : lead >= 0xC2 ? 2
                                                      : 1;
            // Too short, but what there is may yet begin a character.
            bool prefix = length > 1 && in.size() < length;
            for (std::size_t i = 1; prefix && i < in.size(); ++i) {
                prefix = (static_cast<unsigned char>(in[i]) & 0xC0) == 0x80;
            }
            error = prefix ? EINVAL : EILSEQ;
            return 0;
        }
        case Encoding::Utf16Le:
            break;
    }
    const auto unit = [&in](std::size_t at) {
        return static_cast<char16_t>(static_cast<unsigned char>(in[at]) |
                                     static_cast<unsigned char>(in[at + 1]) << 8);
    };
    if (in.size() < 2) {
        error = EINVAL;
        return 0;
    }
    const char16_t first = unit(0);
    if (first >= 0xDC00 && first <= 0xDFFF) {
        error = EILSEQ;
        return 0;
    }
    units.push_back(first);
    if (first < 0xD800 || first > 0xDBFF) {
        return 2;
    }
    if (in.size() < 4) {
        error = EINVAL;
        return 0;
    }
    const char16_t second = unit(2);
    if (second < 0xDC00 || second > 0xDFFF) {
        error = EILSEQ;
        return 0;
    }
    units.push_back(second);
    return 4;
}

// The character's bytes in `to`; false when `to` has no such character (Latin-1 above U+00FF).
bool encode(Encoding to, const std::u16string& units, std::string& out) {
    switch (to) {
        case Encoding::Latin1:
            if (units.size() != 1 || units[0] > 0xFF) {
                return false;
            }
            out.assign(1, static_cast<char>(units[0]));
            return true;
        case Encoding::Utf16Le:
            out = quorvane::formats::utf16LeBytes(units);
            return true;
        case Encoding::Utf8:
            break;
    }
    out = quorvane::formats::utf16ToUtf8(units);
    return true;
}

}  // namespace

extern "C" {

iconv_t iconv_open(const char* to, const char* from) {
    const auto target = encodingNamed(to);
    const auto source = encodingNamed(from);
    if (!target || !source) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    auto* converter = new (std::nothrow) Converter{*source, *target};
    if (converter == nullptr) {
        errno = ENOMEM;
        return reinterpret_cast<iconv_t>(-1);
    }
    return converter;
}

// No encoding here keeps a state between characters, so a call without input only resets.
size_t iconv(iconv_t descriptor, char** in, size_t* inLeft, char** out, size_t* outLeft) {
    if (descriptor == reinterpret_cast<iconv_t>(-1) || descriptor == nullptr) {
        errno = EBADF;
        return static_cast<size_t>(-1);
    }
    if (in == nullptr || *in == nullptr) {
        return 0;
    }
    const Converter& converter = *static_cast<const Converter*>(descriptor);
    std::u16string units;
    std::string bytes;
    while (*inLeft > 0) {
        int error = 0;
        const std::size_t used =
            decode(converter.from, std::string_view(*in, *inLeft), units, error);
        if (used == 0) {
            errno = error;
            return static_cast<size_t>(-1);
        }
        if (!encode(converter.to, units, bytes)) {
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
        if (bytes.size() > *outLeft) {
            errno = E2BIG;
            return static_cast<size_t>(-1);
        }
        std::memcpy(*out, bytes.data(), bytes.size());
        *out += bytes.size();
        *outLeft -= bytes.size();
        *in += used;
        *inLeft -= used;
    }
    return 0;
}

int iconv_close(iconv_t descriptor) {
    delete static_cast<Converter*>(descriptor);
    return 0;
}

}  // extern "C"
