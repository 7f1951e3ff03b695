#include "formats/reg_file.h"

#include <optional>

#include "formats/little_endian.h"
#include "formats/utf16.h"

namespace quorvane::formats {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
// The registry editor wraps hex data once a line has passed this many characters.
constexpr std::size_t kWrapColumn = 76;
constexpr std::u16string_view kLineEnd = u"\r\n";

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

// A line break, which would end the line, is escaped as Wine's registry editor escapes it.
void appendQuoted(std::u16string& line, std::u16string_view text) {
    line += u'"';
    for (char16_t unit : text) {
        if (unit == u'\\' || unit == u'"') {
            line += u'\\';
        } else if (unit == u'\n' || unit == u'\r') {
            line += u'\\';
            unit = unit == u'\n' ? u'n' : u'r';
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
    const std::u16string units = utf16Units(data);
    for (std::size_t i = 0; i + 1 < units.size(); ++i) {
        if (units[i] == u'\0' || units[i] == u'\r' || units[i] == u'\n') {
            return false;
        }
    }
    return units.back() == u'\0';
}

void appendHex(std::u16string& line, std::string_view data, bool wrap = true) {
    std::size_t column = line.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        line += hexDigits(static_cast<unsigned char>(data[i]), 2);
        column += 2;
        if (i + 1 < data.size()) {
            line += u',';
            if (++column > kWrapColumn && wrap) {
                line += u'\\';
                line += kLineEnd;
                line += u"  ";
                column = 2;
            }
        }
    }
}

// What follows '=' on a value line; hex data wraps only when `wrap` is set.
std::u16string dataText(const RegValue& value, std::u16string line, bool wrap) {
    if (value.deleted) {
        return line + u'-';
    }
    if (value.type == kRegSz && isPlainString(value.data)) {
        const std::u16string units = utf16Units(value.data);
        appendQuoted(line, std::u16string_view(units).substr(0, units.size() - 1));
        return line;
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        return line + u"dword:" + hexDigits(*readDword(value.data), 8);
    }
    line += value.type == kRegBinary ? u"hex:" : u"hex(" + hexDigits(value.type, 1) + u"):";
    appendHex(line, value.data, wrap);
    return line;
}

std::u16string valueLine(const RegValue& value) {
    std::u16string line;
    if (value.name.empty()) {
        line = u"@";
    } else {
        appendQuoted(line, value.name);
    }
    line += u'=';
    return dataText(value, std::move(line), true);
}

bool isBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The file as UTF-16 units: version 5 files are UTF-16LE, REGEDIT4 files narrow text.
std::u16string unitsOfFile(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) {
        return utf16Units(bytes.substr(2));
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    return narrowToUtf16(bytes);
}

// The file's lines without line ends, hex data that runs on over lines joined into one.
std::vector<std::pair<std::size_t, std::u16string>> logicalLines(std::u16string_view text) {
    std::vector<std::pair<std::size_t, std::u16string>> lines;
    bool continues = false;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        end = end == std::u16string_view::npos ? text.size() : end;
        std::u16string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        if (continues) {
            lines.back().second += trimmed(line);
        } else {
            lines.emplace_back(number, std::u16string(line));
        }
        std::u16string& joined = lines.back().second;
        const std::u16string_view ending = trimmed(joined);
        continues = !ending.empty() && ending.back() == u'\\' && ending.find(u'=') != ending.npos &&
                    ending.front() != u'[';
        if (continues) {
            joined.resize(static_cast<std::size_t>(ending.data() - joined.data()) + ending.size() -
                          1);
        }
    }
    return lines;
}

// A quoted text starting at `pos` (just past the opening quote); `pos` ends past the closing one.
std::optional<std::u16string> readQuoted(std::u16string_view line, std::size_t& pos) {
    std::u16string text;
    while (pos < line.size()) {
        const char16_t unit = line[pos++];
        if (unit == u'"') {
            return text;
        }
        if (unit != u'\\' || pos == line.size()) {
            text += unit;
            continue;
        }
        const char16_t escaped = line[pos++];
        switch (escaped) {
            case u'\\':
            case u'"':
                text += escaped;
                break;
            case u'n':
                text += u'\n';
                break;
            case u'r':
                text += u'\r';
                break;
            case u'0':
                text += u'\0';
                break;
            default:
                text += u'\\';
                text += escaped;
        }
    }
    return std::nullopt;
}

std::optional<std::string> readHexBytes(std::u16string_view text) {
    std::string bytes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (isBlank(text[pos]) || text[pos] == u',')) {
            ++pos;
        }
        if (pos == text.size()) {
            break;
        }
        if (pos + 1 >= text.size() || hexDigitValue(text[pos]) < 0 ||
            hexDigitValue(text[pos + 1]) < 0) {
            return std::nullopt;
        }
        bytes.push_back(
            static_cast<char>(hexDigitValue(text[pos]) * 16 + hexDigitValue(text[pos + 1])));
        pos += 2;
        if (pos < text.size() && !isBlank(text[pos]) && text[pos] != u',') {
            return std::nullopt;
        }
    }
    return bytes;
}

std::optional<std::uint32_t> readHexNumber(std::u16string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char16_t unit : text) {
        if (hexDigitValue(unit) < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<std::uint32_t>(hexDigitValue(unit));
    }
    return value;
}

// The data after "=": "-", "text", dword:, hex: or hex(N):. False when it is none of them.
bool readData(std::u16string_view data, RegValue& value) {
    data = trimmed(data);
    if (data == u"-") {
        value.deleted = true;
        return true;
    }
    if (data.starts_with(u'"')) {
        std::size_t pos = 1;
        const auto text = readQuoted(data, pos);
        if (!text || !trimmed(data.substr(pos)).empty()) {
            return false;
        }
        value.type = kRegSz;
        value.data = registryString(*text);
        return true;
    }
    if (data.starts_with(u"dword:")) {
        const auto number = readHexNumber(data.substr(6), 8);
        if (!number) {
            return false;
        }
        value.type = kRegDword;
        value.data = dwordBytes(*number);
        return true;
    }
    std::size_t hexStart = 0;
    if (data.starts_with(u"hex:")) {
        value.type = kRegBinary;
        hexStart = 4;
    } else if (data.starts_with(u"hex(")) {
        const std::size_t close = data.find(u"):");
        const auto type =
            close == data.npos ? std::nullopt : readHexNumber(data.substr(4, close - 4), 8);
        if (!type) {
            return false;
        }
        value.type = *type;
        hexStart = close + 2;
    } else {
        return false;
    }
    auto bytes = readHexBytes(data.substr(hexStart));
    if (!bytes) {
        return false;
    }
    value.data = std::move(*bytes);
    return true;
}

// A value line: @=... or "name"=...; the reason when it is not one.
std::optional<std::string> readValueLine(std::u16string_view line, RegValue& value) {
    std::size_t pos = 0;
    if (line.starts_with(u'@')) {
        pos = 1;
    } else {
        pos = 1;
        auto name = readQuoted(line, pos);
        if (!name) {
            return "the value name has no closing quote";
        }
        value.name = std::move(*name);
    }
    while (pos < line.size() && isBlank(line[pos])) {
        ++pos;
    }
    if (pos == line.size() || line[pos] != u'=') {
        return "no '=' after the value name";
    }
    if (!readData(line.substr(pos + 1), value)) {
        return "the data is none of \"text\", dword:, hex:, hex(N): or -";
    }
    return std::nullopt;
}

}  // namespace

Result<std::vector<RegSection>> readRegFile(std::string_view bytes) {
    const std::u16string text = unitsOfFile(bytes);
    const auto lines = logicalLines(text);
    if (lines.empty() || (trimmed(lines.front().second) != kRegFileHeader &&
                          trimmed(lines.front().second) != u"REGEDIT4")) {
        return failure(std::string("not a registry file: the first line is not \"") +
                       utf16ToNarrow(kRegFileHeader) + "\" or \"REGEDIT4\"");
    }
    std::vector<RegSection> sections;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto& [number, raw] = lines[i];
        const std::u16string_view line = trimmed(raw);
        const auto fail = [&, lineNumber = number](const std::string& why) {
            return failure("line " + std::to_string(lineNumber) + ": " + why);
        };
        if (line.empty() || line.front() == u';') {
            continue;
        }
        if (line.front() == u'[') {
            if (line.back() != u']' || line.size() < 3) {
                return fail("a key line must end in ']'");
            }
            const bool deleted = line[1] == u'-';
            sections.push_back(
                {std::u16string(line.substr(deleted ? 2 : 1, line.size() - (deleted ? 3 : 2))),
                 deleted,
                 {}});
            continue;
        }
        if (line.front() != u'@' && line.front() != u'"') {
            return fail("neither a key nor a value");
        }
        if (sections.empty() || sections.back().deleted) {
            return fail("a value outside a key");
        }
        RegValue value;
        if (auto why = readValueLine(line, value)) {
            return fail(*why);
        }
        sections.back().values.push_back(std::move(value));
    }
    return sections;
}

int hexDigitValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    if (unit >= u'a' && unit <= u'f') {
        return unit - u'a' + 10;
    }
    if (unit >= u'A' && unit <= u'F') {
        return unit - u'A' + 10;
    }
    return -1;
}

std::u16string regValueData(const RegValue& value) {
    return dataText(value, {}, false);
}

bool readRegValueData(std::u16string_view text, RegValue& value) {
    value.deleted = false;
    return readData(text, value);
}

std::u16string regFileText(std::string_view bytes) {
    return unitsOfFile(bytes);
}

std::string regFileBytes(std::u16string_view text) {
    return "\xFF\xFE" + utf16LeBytes(text);  // a file has no terminating NUL
}

std::string registryString(std::u16string_view text) {
    return utf16LeBytes(text).append(2, '\0');
}

std::vector<std::u16string> readRegFileComments(std::string_view bytes) {
    std::vector<std::u16string> comments;
    const auto lines = logicalLines(unitsOfFile(bytes));
    if (lines.empty() || (trimmed(lines.front().second) != kRegFileHeader &&
                          trimmed(lines.front().second) != u"REGEDIT4")) {
        return comments;
    }
    for (const auto& [number, raw] : lines) {
        const std::u16string_view line = trimmed(raw);
        if (!line.empty() && line.front() == u';') {
            comments.emplace_back(line.substr(1));
        }
    }
    return comments;
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
    return regFileBytes(text);
}

}  // namespace quorvane::formats
