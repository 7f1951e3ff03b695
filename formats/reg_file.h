// Registry files as the Windows registry editor writes them ("Windows Registry Editor Version
// 5.00"): UTF-16LE with a byte-order mark, CRLF line ends, one [key] section after another,
// deletions written as [-key] and "name"=-. Importing such a file with the registry editor, on
// Windows or in Wine, makes the registry hold what the file says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/result.h"

namespace quorvane::formats {

inline constexpr std::u16string_view kRegFileHeader = u"Windows Registry Editor Version 5.00";

// One line below a key: a value to store, or one to delete.
struct RegValue {
    std::u16string name;  // empty for the key's default value
    bool deleted = false;
    std::uint32_t type = 0;
    // As the registry stores it: string types as UTF-16LE units with their terminating NUL.
    std::string data;

    bool operator==(const RegValue&) const = default;
};

// A [key] section, or a [-key] section that deletes the key with everything below it.
struct RegSection {
    std::u16string key;  // full path with the hive name written out: HKEY_CURRENT_USER\...
    bool deleted = false;
    std::vector<RegValue> values;

    bool operator==(const RegSection&) const = default;
};

// The file's bytes: byte-order mark, header, an empty line, then the sections, each followed by
// an empty line.
std::string writeRegFile(const std::vector<RegSection>& sections);

// Reads a registry file as the Windows or Wine registry editor writes it: version 5 in UTF-16LE
// with a byte-order mark, or "REGEDIT4" in plain text. Hex data may run on over lines ending in a
// backslash; lines starting with ';' are comments. Anything else that is not a key or value line
// makes the whole file unusable: the failure says which line and why.
Result<std::vector<RegSection>> readRegFile(std::string_view bytes);

// The text after ';' of each comment line, in order. Empty for a file that is no registry file.
std::vector<std::u16string> readRegFileComments(std::string_view bytes);

// A value's data as a value line gives it after '=': -, "text", dword:, hex: or hex(N):, hex
// data on one line; and read back into `value` (its deleted flag, type and data). False when the
// text is none of these.
std::u16string regValueData(const RegValue& value);
bool readRegValueData(std::u16string_view text, RegValue& value);

// A file's text in the registry editor's encodings (UTF-16LE after a byte-order mark, else
// narrow text), and text as a version 5 file holds it: byte-order mark and UTF-16LE.
std::u16string regFileText(std::string_view bytes);
std::string regFileBytes(std::u16string_view text);

// The value of a hex digit in either case; -1 for any other unit.
int hexDigitValue(char16_t unit);

// UTF-16LE bytes of `text` with a terminating NUL, as the registry stores a string.
std::string registryString(std::u16string_view text);

}  // namespace quorvane::formats
