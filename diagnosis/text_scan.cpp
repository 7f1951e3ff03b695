#include "diagnosis/text_scan.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

#include "platform/narrow_text.h"
#include "restrictions/catalogue.h"

namespace quorvane::diagnosis {

namespace {

constexpr std::size_t kMinimumRun = 4;

bool isWordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Whether `word` occurs in `text` (both lower case) with no word character on either side.
bool containsWord(std::string_view text, std::string_view word) {
    for (std::size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + 1)) {
        const bool startsWord = at == 0 || !isWordCharacter(text[at - 1]);
        const std::size_t end = at + word.size();
        const bool endsWord = end == text.size() || !isWordCharacter(text[end]);
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

std::u16string unitsOf(std::string_view bytes, bool bigEndian) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        units[i] = static_cast<char16_t>(bigEndian ? (first << 8) | second : first | (second << 8));
    }
    return units;
}

// Text without a byte-order mark whose odd bytes are mostly NUL is UTF-16LE.
bool looksLikeUtf16(std::string_view bytes) {
    const std::size_t pairs = std::min<std::size_t>(bytes.size() / 2, 256);
    std::size_t nulls = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        nulls += bytes[2 * i + 1] == '\0' && bytes[2 * i] != '\0' ? 1 : 0;
    }
    return pairs > 0 && nulls * 4 >= pairs * 3;
}

// The `reg` tool with one of its commands that write: "reg add", "reg.exe import", ...
bool runsRegTool(std::string_view lower) {
    static constexpr std::array<std::string_view, 6> kWriting = {"add",     "import", "copy",
                                                                 "restore", "load",   "delete"};
    for (std::size_t at = lower.find("reg"); at != std::string_view::npos;
         at = lower.find("reg", at + 1)) {
        if (at > 0 && isWordCharacter(lower[at - 1])) {
            continue;
        }
        std::size_t end = at + 3;
        if (lower.substr(end, 4) == ".exe") {
            end += 4;
        }
        if (end < lower.size() && lower[end] == '"') {
            ++end;
        }
        if (end == lower.size() || !std::isspace(static_cast<unsigned char>(lower[end]))) {
            continue;
        }
        while (end < lower.size() && std::isspace(static_cast<unsigned char>(lower[end]))) {
            ++end;
        }
        for (std::string_view command : kWriting) {
            if (lower.substr(end, command.size()) == command &&
                (end + command.size() == lower.size() ||
                 !isWordCharacter(lower[end + command.size()]))) {
                return true;
            }
        }
    }
    return false;
}

bool usesPowerShellRegistry(std::string_view lower) {
    static constexpr std::array<std::string_view, 8> kMarks = {"set-itemproperty",
                                                               "new-itemproperty",
                                                               "new-item",
                                                               "copy-itemproperty",
                                                               "hkcu:",
                                                               "hklm:",
                                                               "registry::",
                                                               "microsoft.win32.registry"};
    return std::any_of(kMarks.begin(), kMarks.end(), [&](std::string_view mark) {
        return lower.find(mark) != std::string_view::npos;
    });
}

bool hasExtension(std::string_view lowerToken, std::string_view extension) {
    return lowerToken.size() > extension.size() && lowerToken.ends_with(extension);
}

// The words of a command line; quoted parts stay whole, without their quotes.
std::vector<std::string> tokens(std::string_view command) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    for (char c : command) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (std::isspace(static_cast<unsigned char>(c)) || c == '&' ||
                               c == '|' || c == ';' || c == '(' || c == ')' || c == ',')) {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}

}  // namespace

std::optional<std::string> readFileBytes(const std::filesystem::path& file, std::size_t limit) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes(limit, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(limit));
    if (in.bad()) {
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::string decodeText(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) {
        return platform::utf16ToNarrow(unitsOf(bytes.substr(2), false));
    }
    if (bytes.starts_with("\xFE\xFF")) {
        return platform::utf16ToNarrow(unitsOf(bytes.substr(2), true));
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    } else if (looksLikeUtf16(bytes)) {
        return platform::utf16ToNarrow(unitsOf(bytes, false));
    }
    return std::string(bytes);
}

std::string printableStrings(std::string_view bytes) {
    std::string result;
    const auto flush = [&](std::string& run) {
        if (run.size() >= kMinimumRun) {
            result += result.empty() ? "" : " ";
            result += run;
        }
        run.clear();
    };
    const auto printable = [](unsigned char c) { return c >= 0x20 && c < 0x7F; };
    std::string run;
    for (char c : bytes) {
        if (printable(static_cast<unsigned char>(c))) {
            run.push_back(c);
        } else {
            flush(run);
        }
    }
    flush(run);
    for (std::size_t start : {std::size_t{0}, std::size_t{1}}) {
        for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
            if (bytes[i + 1] == '\0' && printable(static_cast<unsigned char>(bytes[i]))) {
                run.push_back(bytes[i]);
            } else {
                flush(run);
            }
        }
        flush(run);
    }
    return result;
}

std::vector<int> restrictionsNamedIn(std::string_view text) {
    const std::string lower = lowerCase(text);
    std::vector<int> found;
    for (const restrictions::Restriction& restriction : restrictions::kCatalogue) {
        if (containsWord(lower, lowerCase(restriction.valueName))) {
            found.push_back(restriction.number);
        }
    }
    return found;
}

CommandFindings examineCommand(std::string_view command) {
    const std::string lower = lowerCase(command);
    CommandFindings findings;
    findings.changesRegistry = runsRegTool(lower) || containsWord(lower, "regedit") ||
                               containsWord(lower, "regedit.exe") ||
                               containsWord(lower, "regedt32") || containsWord(lower, "regini") ||
                               usesPowerShellRegistry(lower);
    for (std::string& word : tokens(command)) {
        const std::string lowerWord = lowerCase(word);
        const bool registryFile =
            hasExtension(lowerWord, ".reg") || hasExtension(lowerWord, ".pol");
        findings.changesRegistry = findings.changesRegistry || registryFile;
        if (registryFile || hasExtension(lowerWord, ".bat") || hasExtension(lowerWord, ".cmd") ||
            hasExtension(lowerWord, ".ps1")) {
            findings.files.push_back(std::move(word));
        }
    }
    findings.restrictions = restrictionsNamedIn(command);
    return findings;
}

std::string unescapeXml(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, character] : kEntities) {
            if (text.substr(i, entity.size()) == entity) {
                out.push_back(character);
                i += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out.push_back(text[i++]);
        }
    }
    return out;
}

}  // namespace quorvane::diagnosis
