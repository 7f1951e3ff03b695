#include "diagnosis/command_scan.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>

#include "formats/little_endian.h"
#include "platform/letter_case.h"
#include "platform/registry_api.h"

namespace quorvane::diagnosis {

namespace {

using platform::lowerCase;
using restrictions::Restriction;

// One statement of a command line or script: its text and its words, quoted parts whole and
// without their quotes.
struct Statement {
    std::string text;
    std::vector<std::string> words;
};

bool endsStatement(char c) {
    return c == '\n' || c == '\r' || c == '&' || c == '|' || c == ';';
}

bool separatesWords(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == '(' || c == ')' ||
           c == '{' || c == '}';
}

std::vector<Statement> statementsOf(std::string_view text) {
    std::vector<Statement> statements;
    Statement current;
    std::string word;
    bool inWord = false;
    char quote = 0;
    const auto endWord = [&] {
        if (inWord) {
            current.words.push_back(std::move(word));
        }
        word.clear();
        inWord = false;
    };
    const auto endStatement = [&] {
        endWord();
        if (!current.words.empty()) {
            statements.push_back(std::move(current));
        }
        current = Statement{};
    };
    for (char c : text) {
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\n' || c == '\r') {
                quote = 0;  // a quote never runs past its line
                endStatement();
                continue;
            } else {
                word.push_back(c);
            }
            current.text.push_back(c);
            continue;
        }
        if (c == '"' || (c == '\'' && !inWord)) {
            quote = c;
            inWord = true;
            current.text.push_back(c);
        } else if (endsStatement(c)) {
            endStatement();
        } else if (separatesWords(c)) {
            endWord();
            if (!current.text.empty()) {
                current.text.push_back(c == '\t' ? ' ' : c);
            }
        } else {
            word.push_back(c);
            inWord = true;
            current.text.push_back(c);
        }
    }
    endStatement();
    return statements;
}

// "C:\Windows\REG.EXE" -> "reg"; "@regedit" -> "regedit".
std::string programName(std::string_view word) {
    std::string name = lowerCase(word);
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    if (name.starts_with('@')) {
        name.erase(0, 1);
    }
    if (name.ends_with(".exe")) {
        name.resize(name.size() - 4);
    }
    return name;
}

bool hasExtension(std::string_view word, std::string_view extension) {
    const std::string lower = lowerCase(word);
    return lower.size() > extension.size() && lower.ends_with(extension);
}

bool isVariable(std::string_view word) {
    return word.find('$') != std::string_view::npos || word.find('%') != std::string_view::npos ||
           word.find('!') != std::string_view::npos;
}

std::optional<Restriction> restrictionNamed(std::string_view name) {
    return restrictions::restrictionByValueName(name);
}

// A number as reg, PowerShell and scripts write one: decimal with a sign, 0x hex, $true/$false;
// its low 32 bits, as a four-byte value holds them.
std::optional<std::int32_t> numberOf(std::string_view text) {
    const std::string lower = lowerCase(text);
    if (lower == "$true") {
        return 1;
    }
    if (lower == "$false") {
        return 0;
    }
    std::string_view digits = lower;
    bool negative = false;
    if (digits.starts_with('-') || digits.starts_with('+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.starts_with("0x")) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    const auto low = static_cast<std::uint32_t>(negative ? 0 - value : value);
    return static_cast<std::int32_t>(low);
}

// Whether writing `text` as `restriction`'s value puts it in force: a number above 0 (for the
// window title, any text but none), or a text, which the four-byte read of a flag takes as its
// characters' codes.
bool textInForce(const Restriction& restriction, std::string_view text, bool numeric, bool quad) {
    const auto number = numberOf(text);
    if (restriction.kind == restrictions::Kind::String) {
        return number ? *number != 0 : !text.empty();
    }
    if (quad) {
        return false;  // eight bytes: a four-byte flag cannot be read from them
    }
    if (number) {
        return *number > 0;
    }
    return !numeric && !text.empty();  // a number type refuses text
}

// As textInForce for data a command writes; data it does not write out (a variable) may.
bool literalInForce(const Restriction& restriction, std::string_view literal, bool numeric,
                    bool quad) {
    return (isVariable(literal) && !numberOf(literal)) ||
           textInForce(restriction, literal, numeric, quad);
}

bool isOption(std::string_view word) {
    return word.size() > 1 && (word.front() == '/' || word.front() == '-');
}

// reg add KEY /v NAME [/t TYPE] [/d DATA] [/f]: no /d writes an empty text or 0.
void regAdd(const std::vector<std::string>& words, std::size_t from, CommandFindings& found,
            bool& writes) {
    std::optional<std::string> name;
    std::string type = "reg_sz";
    std::string data;
    for (std::size_t i = from; i < words.size(); ++i) {
        const std::string option = lowerCase(words[i]);
        const bool hasArgument = i + 1 < words.size();
        if ((option == "/v" || option == "-v") && hasArgument) {
            name = words[++i];
        } else if ((option == "/t" || option == "-t") && hasArgument) {
            type = lowerCase(words[++i]);
        } else if ((option == "/d" || option == "-d") && hasArgument) {
            data = words[++i];
        }
    }
    if (!name) {
        return;  // a key, or its default value: no restriction is either
    }
    if (isVariable(*name)) {
        found.mayChangeAny = writes = true;
        return;
    }
    const auto restriction = restrictionNamed(*name);
    if (restriction &&
        literalInForce(*restriction, data,
                       type == "reg_dword" || type == "reg_dword_big_endian" || type == "reg_qword",
                       type == "reg_qword")) {
        addRestrictions(found.restrictions, {restriction->number});
        writes = true;
    }
}

void regTool(const std::vector<std::string>& words, std::size_t at, CommandFindings& found,
             bool& writes) {
    if (at + 1 >= words.size()) {
        return;
    }
    const std::string command = lowerCase(words[at + 1]);
    if (command == "add") {
        regAdd(words, at + 2, found, writes);
    } else if (command == "import" && at + 2 < words.size()) {
        found.files.push_back({NamedFile::Kind::Registry, words[at + 2]});
        writes = true;
    } else if (command == "copy" || command == "restore" || command == "load") {
        found.mayChangeAny = writes = true;
    }
    // delete, query, export, save, unload, compare, flags: nothing is put in force.
}

// regedit [/s] FILE...: imports each file; regedit /e FILE [KEY] exports instead.
void registryEditor(const std::vector<std::string>& words, std::size_t at, CommandFindings& found,
                    bool& writes) {
    std::vector<std::string> files;
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const std::string option = lowerCase(words[i]);
        if (option == "/e" || option == "-e" || option == "/a" || option == "-a") {
            return;
        }
        if (!isOption(words[i])) {
            files.push_back(words[i]);
        }
    }
    for (std::string& file : files) {
        found.files.push_back({NamedFile::Kind::Registry, std::move(file)});
        writes = true;
    }
}

// Set-ItemProperty [-Path] P [-Name] N [-Value] V, New-ItemProperty likewise (-PropertyType).
void itemProperty(const std::vector<std::string>& words, std::size_t at, CommandFindings& found,
                  bool& writes) {
    std::vector<std::string> positional;
    std::optional<std::string> name;
    std::optional<std::string> value;
    std::string type;
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const std::string option = lowerCase(words[i]);
        const bool hasArgument = i + 1 < words.size();
        if (!option.starts_with('-') || option.size() < 2 || numberOf(option)) {
            positional.push_back(words[i]);
        } else if (hasArgument && (option == "-name" || option == "-n")) {
            name = words[++i];
        } else if (hasArgument && (option == "-value" || option == "-v")) {
            value = words[++i];
        } else if (hasArgument && (option == "-propertytype" || option == "-type")) {
            type = lowerCase(words[++i]);
        } else if (hasArgument && (option == "-path" || option == "-literalpath")) {
            ++i;
            positional.insert(positional.begin(), std::string());  // the path's place
        }
    }
    // Positions: path, name, value.
    if (!name && positional.size() > 1) {
        name = positional[1];
    }
    if (!value && positional.size() > 2) {
        value = positional[2];
    }
    if (!name) {
        return;
    }
    if (isVariable(*name)) {
        found.mayChangeAny = writes = true;
        return;
    }
    const auto restriction = restrictionNamed(*name);
    if (restriction && literalInForce(*restriction, value.value_or(std::string()), type == "dword",
                                      type == "qword")) {
        addRestrictions(found.restrictions, {restriction->number});
        writes = true;
    }
}

// Registry calls of scripts: Registry.SetValue(key, name, value), $key.SetValue(name, value),
// StdRegProv's SetDWORDValue(hive, key, name, value), WScript.Shell's RegWrite "key\name", value.
void registryCall(const std::vector<std::string>& words, std::size_t at, bool regWrite,
                  CommandFindings& found, bool& writes) {
    const std::size_t end = std::min(words.size(), at + 5);
    for (std::size_t i = at + 1; i < end; ++i) {
        std::string_view name = words[i];
        if (regWrite) {
            const std::size_t slash = name.find_last_of('\\');
            name = slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
        }
        if (const auto restriction = restrictionNamed(name)) {
            const std::string value = i + 1 < words.size() ? words[i + 1] : std::string();
            if (literalInForce(*restriction, value, false, false)) {
                addRestrictions(found.restrictions, {restriction->number});
                writes = true;
            }
            return;
        }
        if (regWrite) {
            break;  // RegWrite names the value in its first argument
        }
    }
    if (std::any_of(words.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                    words.begin() + static_cast<std::ptrdiff_t>(end), isVariable)) {
        found.mayChangeAny = writes = true;
    }
}

bool callsRegistry(std::string_view lowerWord, bool& regWrite) {
    static constexpr std::array<std::string_view, 4> kSetters = {
        "setvalue", "setdwordvalue", "setstringvalue", "setexpandedstringvalue"};
    regWrite = lowerWord.ends_with("regwrite");
    return regWrite || std::any_of(kSetters.begin(), kSetters.end(), [&](std::string_view name) {
               return lowerWord.ends_with(name);
           });
}

void examineStatement(const Statement& statement, CommandFindings& found) {
    const std::vector<std::string>& words = statement.words;
    bool writes = false;
    bool exports = false;
    for (std::size_t at = 0; at < words.size(); ++at) {
        const std::string program = programName(words[at]);
        bool regWrite = false;
        if (program == "reg") {
            const std::string command =
                at + 1 < words.size() ? lowerCase(words[at + 1]) : std::string();
            exports = command == "export" || command == "save";
            regTool(words, at, found, writes);
            break;
        }
        if (program == "regedit" || program == "regedt32") {
            registryEditor(words, at, found, writes);
            break;
        }
        if (program == "regini") {
            found.mayChangeAny = writes = true;
            break;
        }
        if (program == "set-itemproperty" || program == "sp" || program == "new-itemproperty") {
            itemProperty(words, at, found, writes);
            break;
        }
        if (program == "copy-itemproperty" || program == "move-itemproperty") {
            found.mayChangeAny = writes = true;
            break;
        }
        if (callsRegistry(program, regWrite)) {
            registryCall(words, at, regWrite, found, writes);
            break;
        }
    }
    for (std::size_t at = 0; at < words.size() && !exports; ++at) {
        const std::string& word = words[at];
        const std::string program = at > 0 ? programName(words[at - 1]) : std::string();
        if (hasExtension(word, ".pol")) {
            found.files.push_back({NamedFile::Kind::Policy, word});
            writes = true;
        } else if (hasExtension(word, ".reg") &&
                   (at == 0 || program == "start" || program == "call")) {
            // Opening a registry file imports it.
            found.files.push_back({NamedFile::Kind::Registry, word});
            writes = true;
        } else if (hasExtension(word, ".bat") || hasExtension(word, ".cmd") ||
                   hasExtension(word, ".ps1") || hasExtension(word, ".vbs") ||
                   hasExtension(word, ".js")) {
            found.files.push_back({NamedFile::Kind::Script, word});
        }
    }
    if (writes) {
        found.writes.push_back(statement.text);
    }
}

}  // namespace

void addRestrictions(std::vector<int>& numbers, const std::vector<int>& more) {
    for (int number : more) {
        if (std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
}

CommandFindings examineCommand(std::string_view text) {
    CommandFindings found;
    for (const Statement& statement : statementsOf(text)) {
        examineStatement(statement, found);
    }
    return found;
}

bool storesInForce(const Restriction& restriction, std::uint32_t type, std::string_view data) {
    if (platform::isStringType(type)) {
        return textInForce(restriction, data.substr(0, data.find('\0')), false, false);
    }
    if (restriction.kind == restrictions::Kind::String) {
        return std::any_of(data.begin(), data.end(), [](char c) { return c != '\0'; });
    }
    if (data.size() > 4) {
        return false;  // more than four bytes: a flag cannot be read from it
    }
    const auto number = static_cast<std::uint32_t>(*formats::readLe(data, 0, data.size()));
    return static_cast<std::int32_t>(number) > 0;
}

}  // namespace quorvane::diagnosis
