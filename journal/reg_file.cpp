#include "journal/reg_file.h"

namespace quorvane::journal {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
// The registry editor wraps hex data once a line has passed this many characters.
constexpr std::size_t kWrapColumn = 76;
constexpr std::u16string_view kLineEnd = u"\r\n";

std::u16string unitsOf(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return units;
}

std::u16string hexDigits(std::uint32_t value, int minDigits) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < minDigits) {
        text.insert(0, static_cast<std::size_t>(minDigits) - text.size(), u'0');
    }
    return text;
}

void appendQuoted(std::u16string& line, std::u16string_view text) {
    line += u'"';
    for (char16_t unit : text) {
        if (unit == u'\\' || unit == u'"') {
            line += u'\\';
        }
        line += unit;
    }
    line += u'"';
}

// A REG_SZ that the quoted form gives back exactly: one terminating NUL, none inside, and no
// line breaks, which the registry editor would read as the end of the line.
bool isPlainString(std::string_view data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return false;
    }
    const std::u16string units = unitsOf(data);
    for (std::size_t i = 0; i + 1 < units.size(); ++i) {
        if (units[i] == u'\0' || units[i] == u'\r' || units[i] == u'\n') {
            return false;
        }
    }
    return units.back() == u'\0';
}

void appendHex(std::u16string& line, std::string_view data) {
    std::size_t column = line.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        line += hexDigits(static_cast<unsigned char>(data[i]), 2);
        column += 2;
        if (i + 1 < data.size()) {
            line += u',';
            if (++column > kWrapColumn) {
                line += u'\\';
                line += kLineEnd;
                line += u"  ";
                column = 2;
            }
        }
    }
}

std::u16string valueLine(const RegValue& value) {
    std::u16string line;
    if (value.name.empty()) {
        line = u"@";
    } else {
        appendQuoted(line, value.name);
    }
    line += u'=';
    if (value.deleted) {
        return line + u'-';
    }
    if (value.type == kRegSz && isPlainString(value.data)) {
        const std::u16string units = unitsOf(value.data);
        appendQuoted(line, std::u16string_view(units).substr(0, units.size() - 1));
        return line;
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number =
                (number << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        }
        return line + u"dword:" + hexDigits(number, 8);
    }
    line += value.type == kRegBinary ? u"hex:" : u"hex(" + hexDigits(value.type, 1) + u"):";
    appendHex(line, value.data);
    return line;
}

}  // namespace

std::string registryString(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 2 + 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

std::string writeRegFile(const std::vector<RegSection>& sections) {
    std::u16string text(kRegFileHeader);
    text += kLineEnd;
    text += kLineEnd;
    for (const RegSection& section : sections) {
        text += section.deleted ? u"[-" : u"[";
        text += section.key;
        text += u']';
        text += kLineEnd;
        if (!section.deleted) {
            for (const RegValue& value : section.values) {
                text += valueLine(value);
                text += kLineEnd;
            }
        }
        text += kLineEnd;
    }
    std::string bytes = "\xFF\xFE";
    std::string body = registryString(text);
    body.resize(body.size() - 2);  // the file has no terminating NUL
    return bytes + body;
}

}  // namespace quorvane::journal
