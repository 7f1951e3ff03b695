// UTF-16 text as Windows files and the registry hold it, and its conversions: to and from the
// bytes of UTF-16LE, UTF-8, and the narrow encoding of the registry's narrow functions (the ANSI
// code page on Windows, UTF-8 elsewhere).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::formats {

enum class ByteOrder { Little, Big };

// The units of UTF-16 bytes; a last odd byte, half a unit, is left out.
std::u16string utf16Units(std::string_view bytes, ByteOrder order = ByteOrder::Little);
// The UTF-16LE bytes of `units`, nothing added.
std::string utf16LeBytes(std::u16string_view units);

// Decodes one well-formed UTF-8 sequence at `pos` and appends its units, `pos` then past it;
// false, nothing changed, when no valid sequence starts there.
bool appendUtf8Sequence(std::string_view text, std::size_t& pos, std::u16string& out);

// Invalid UTF-8 bytes are left out, as Wine leaves them out when it reads a hive.
std::u16string utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD, so that the result is always valid UTF-8.
std::string utf16ToUtf8(std::u16string_view text);

// UTF-16LE bytes read as UTF-8 text: the two steps above.
inline std::string utf16LeToUtf8(std::string_view bytes) {
    return utf16ToUtf8(utf16Units(bytes));
}

// Between UTF-16 and the narrow encoding (UTF-8 on POSIX; on Windows the ANSI code page, whose
// own rules apply to characters it lacks).
std::u16string narrowToUtf16(std::string_view text);
std::string utf16ToNarrow(std::u16string_view text);

}  // namespace quorvane::formats
