#include "diagnosis/command_scan.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>

#include "diagnosis/text_scan.h"
#include "formats/base64.h"
#include "formats/little_endian.h"
#include "formats/utf16.h"
#include "platform/letter_case.h"
#include "platform/registry_api.h"

namespace quorvane::diagnosis {

namespace {

using platform::lowerCase;
using restrictions::Restriction;

// Commands handed to a shell are read as the shell would read them, this deep; one nested deeper
// may set anything.
constexpr int kMaxNesting = 16;

// A word of a statement: its text without its quotes and escapes, and where it stands in the
// text it was read from.
struct Word {
    std::string text;
    std::size_t begin = 0;  // its first character, an opening quote included
    std::size_t end = 0;    // past its last one
    bool quoted = false;
};

// One statement of a command line or script.
struct Statement {
    std::vector<Word> words;  // never empty
    bool piped = false;       // what it prints goes on to the next statement

    std::size_t begin() const { return words.front().begin; }
    std::size_t end() const { return words.back().end; }
};

bool endsStatement(char c) {
    return c == '\n' || c == '\r' || c == '&' || c == '|' || c == ';';
}

bool separatesWords(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == '(' || c == ')' ||
           c == '{' || c == '}';
}

std::size_t lineEnd(std::string_view text, std::size_t pos) {
    return std::min(text.find_first_of("\r\n", pos), text.size());
}

// Whether the statement that starts at `pos` is a comment to the end of its line: cmd's REM
// (@REM too) or a label (":name", and "::" as batch files write comments).
bool commentLine(std::string_view text, std::size_t pos) {
    while (pos < text.size() && text[pos] == '@') {
        ++pos;
    }
    if (pos < text.size() && text[pos] == ':') {
        return true;
    }
    constexpr std::string_view kAfterRem = " \t\r\n.:/\\,;=(";
    return lowerCase(text.substr(pos, 3)) == "rem" &&
           (pos + 3 == text.size() || kAfterRem.find(text[pos + 3]) != std::string_view::npos);
}

// Statements end at line ends, '&', '|' and ';' outside quotes. A quoted part belongs to its word
// without its quotes; within double quotes \" `" and "" stand for a quote, within single ones ''.
// Outside quotes ^ and ` escape the next character or continue the line; comments are left out:
// REM and labels (batch files), # and <# #> (PowerShell).
std::vector<Statement> statementsOf(std::string_view text) {
    std::vector<Statement> statements;
    Statement current;
    Word word;
    bool inWord = false;
    char quote = 0;
    const auto startWord = [&](std::size_t at) {
        if (!inWord) {
            word.begin = at;
            inWord = true;
        }
    };
    const auto endWord = [&](std::size_t at) {
        if (inWord) {
            word.end = at;
            current.words.push_back(std::move(word));
        }
        word = Word{};
        inWord = false;
    };
    const auto endStatement = [&](std::size_t at, bool piped) {
        endWord(at);
        if (!current.words.empty()) {
            current.piped = piped;
            statements.push_back(std::move(current));
        }
        current = Statement{};
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (quote != 0) {
            if (c == '\n' || c == '\r') {
                quote = 0;  // a quote never runs past its line
                endStatement(i, false);
            } else if (quote == '"' && (c == '\\' || c == '`') && next == '"') {
                word.text.push_back('"');
                ++i;
            } else if (c == quote && next == quote) {
                word.text.push_back(c);
                ++i;
            } else if (c == quote) {
                quote = 0;
            } else {
                word.text.push_back(c);
            }
            continue;
        }
        if ((c == '^' || c == '`') && (next == '\r' || next == '\n')) {
            i += next == '\r' && i + 2 < text.size() && text[i + 2] == '\n' ? 2 : 1;
        } else if (!inWord && current.words.empty() && !separatesWords(c) && !endsStatement(c) &&
                   commentLine(text, i)) {
            i = lineEnd(text, i) - 1;
        } else if (!inWord && c == '#') {
            i = lineEnd(text, i) - 1;
        } else if (!inWord && c == '<' && next == '#') {
            const std::size_t close = text.find("#>", i + 2);
            i = close == std::string_view::npos ? text.size() : close + 1;
        } else if (c == '"' || (c == '\'' && !inWord)) {
            quote = c;
            startWord(i);
            word.quoted = true;
        } else if (endsStatement(c)) {
            endStatement(i, c == '|' && next != '|');
        } else if (separatesWords(c)) {
            endWord(i);
        } else if ((c == '^' || c == '`') && next != '\0') {
            startWord(i);
            word.text.push_back(next);
            ++i;
        } else {
            startWord(i);
            word.text.push_back(c);
        }
    }
    endStatement(text.size(), false);
    return statements;
}

// The text of `statement` from its word `from` on, as written.
std::string_view restOf(std::string_view text, const Statement& statement, std::size_t from) {
    if (from >= statement.words.size()) {
        return {};
    }
    const std::size_t begin = statement.words[from].begin;
    return text.substr(begin, statement.end() - begin);
}

// Words joined by single spaces, as PowerShell joins the words after -Command.
std::string joined(const std::vector<Word>& words, std::size_t from) {
    std::string out;
    for (std::size_t i = from; i < words.size(); ++i) {
        out.append(i == from ? "" : " ").append(words[i].text);
    }
    return out;
}

// The rest of a command line as the program's arguments, joined by spaces as PowerShell joins
// those after -Command: by the C runtime's rules double quotes group and go, \" is a quote, and so
// is "" within quotes; single quotes stay for PowerShell to read.
std::string commandLineText(std::string_view rest) {
    std::string out;
    bool quoted = false;
    std::size_t backslashes = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                out.push_back('"');
            } else if (quoted && i + 1 < rest.size() && rest[i + 1] == '"') {
                out.push_back('"');
                ++i;
            } else {
                quoted = !quoted;
            }
        } else {
            out.append(backslashes, '\\');
            out.push_back(c);
        }
        backslashes = 0;
    }
    out.append(backslashes, '\\');
    return out;
}

// What a shell is handed from word `from` of `statement` on: a PowerShell string as a whole (a
// caller that is PowerShell itself quotes it so), else the rest of the line.
std::string handedText(std::string_view text, const Statement& statement, std::size_t from) {
    const Word& first = statement.words[from];
    if (from + 1 == statement.words.size() && text[first.begin] == '\'') {
        return first.text;
    }
    return std::string(restOf(text, statement, from));
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

// Whether the key a command names may be `restriction`'s: a key whose root the reader knows, by
// the one rule; one in a variable may be any, and so may a relative PowerShell path (below
// whatever location the script set) when `relative` allows one.
bool keyMayHold(const Word& key, const Restriction& restriction, bool relative) {
    if (const auto below = keyBelowHive(key.text)) {
        return holdsRestriction(*below, restriction);
    }
    return isVariable(key.text) || (relative && key.text.find(':') == std::string::npos);
}

// Records that `restriction` is put in force, if it is.
void putsInForce(const std::optional<Restriction>& restriction, bool keyHolds,
                 std::string_view data, bool numeric, bool quad, CommandFindings& found,
                 bool& writes) {
    if (restriction && keyHolds && literalInForce(*restriction, data, numeric, quad)) {
        addRestrictions(found.restrictions, {restriction->number});
        writes = true;
    }
}

// reg add KEY /v NAME [/t TYPE] [/d DATA] [/f]: no /d writes an empty text or 0.
void regAdd(const std::vector<Word>& words, std::size_t from, CommandFindings& found,
            bool& writes) {
    const Word* key = nullptr;
    std::optional<std::string> name;
    std::string type = "reg_sz";
    std::string data;
    for (std::size_t i = from; i < words.size(); ++i) {
        const std::string option = lowerCase(words[i].text);
        const bool hasArgument = i + 1 < words.size();
        if ((option == "/v" || option == "-v") && hasArgument) {
            name = words[++i].text;
        } else if ((option == "/t" || option == "-t") && hasArgument) {
            type = lowerCase(words[++i].text);
        } else if ((option == "/d" || option == "-d") && hasArgument) {
            data = words[++i].text;
        } else if (key == nullptr && !isOption(words[i].text)) {
            key = &words[i];
        }
    }
    if (!name || key == nullptr) {
        return;  // a key, or its default value: no restriction is either
    }
    if (isVariable(*name)) {
        found.mayChangeAny = writes = true;
        return;
    }
    const auto restriction = restrictionNamed(*name);
    putsInForce(restriction, restriction && keyMayHold(*key, *restriction, false), data,
                type == "reg_dword" || type == "reg_dword_big_endian" || type == "reg_qword",
                type == "reg_qword", found, writes);
}

void regTool(const std::vector<Word>& words, std::size_t at, CommandFindings& found, bool& writes) {
    if (at + 1 >= words.size()) {
        return;
    }
    const std::string command = lowerCase(words[at + 1].text);
    if (command == "add") {
        regAdd(words, at + 2, found, writes);
    } else if (command == "import" && at + 2 < words.size()) {
        found.files.push_back({NamedFile::Kind::Registry, words[at + 2].text});
        writes = true;
    } else if (command == "copy" || command == "restore" || command == "load") {
        found.mayChangeAny = writes = true;
    }
    // delete, query, export, save, unload, compare, flags: nothing is put in force.
}

// regedit [/s] FILE...: imports each file; regedit /e FILE [KEY] exports instead.
void registryEditor(const std::vector<Word>& words, std::size_t at, CommandFindings& found,
                    bool& writes) {
    std::vector<std::string> files;
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const std::string option = lowerCase(words[i].text);
        if (option == "/e" || option == "-e" || option == "/a" || option == "-a") {
            return;
        }
        if (!isOption(words[i].text)) {
            files.push_back(words[i].text);
        }
    }
    for (std::string& file : files) {
        found.files.push_back({NamedFile::Kind::Registry, std::move(file)});
        writes = true;
    }
}

// Set-ItemProperty [-Path] P [-Name] N [-Value] V, New-ItemProperty likewise (-PropertyType). A
// path that comes down the pipeline may be any.
void itemProperty(const std::vector<Word>& words, std::size_t at, CommandFindings& found,
                  bool& writes) {
    std::vector<const Word*> positional;
    std::optional<Word> path;
    std::optional<std::string> name;
    std::optional<std::string> value;
    std::string type;
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const std::string option = lowerCase(words[i].text);
        const bool hasArgument = i + 1 < words.size();
        if (words[i].quoted || !option.starts_with('-') || option.size() < 2 || numberOf(option)) {
            positional.push_back(&words[i]);
        } else if (hasArgument && (option == "-name" || option == "-n")) {
            name = words[++i].text;
        } else if (hasArgument && (option == "-value" || option == "-v")) {
            value = words[++i].text;
        } else if (hasArgument && (option == "-propertytype" || option == "-type")) {
            type = lowerCase(words[++i].text);
        } else if (hasArgument && (option == "-path" || option == "-literalpath")) {
            path = words[++i];
        }
    }
    // Positions: path, name, value.
    std::size_t next = 0;
    if (!path && next < positional.size()) {
        path = *positional[next++];
    }
    if (!name && next < positional.size()) {
        name = positional[next++]->text;
    }
    if (!value && next < positional.size()) {
        value = positional[next]->text;
    }
    if (!name) {
        return;
    }
    if (isVariable(*name)) {
        found.mayChangeAny = writes = true;
        return;
    }
    const auto restriction = restrictionNamed(*name);
    putsInForce(restriction, restriction && (!path || keyMayHold(*path, *restriction, true)),
                value.value_or(std::string()), type == "dword", type == "qword", found, writes);
}

// Registry calls of scripts: Registry.SetValue(key, name, value), $key.SetValue(name, value),
// StdRegProv's SetDWORDValue(hive, key, name, value), WScript.Shell's RegWrite "key\name", value.
// A key the call takes from an object or a variable may be any.
void registryCall(const std::vector<Word>& words, std::size_t at, bool regWrite,
                  CommandFindings& found, bool& writes) {
    const std::size_t end = std::min(words.size(), at + 5);
    for (std::size_t i = at + 1; i < end; ++i) {
        std::string_view name = words[i].text;
        Word key;  // RegWrite's: the path before the value's name
        if (regWrite) {
            const std::size_t slash = name.find_last_of('\\');
            key.text = name.substr(0, slash == std::string_view::npos ? 0 : slash);
            name = slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
        }
        if (const auto restriction = restrictionNamed(name)) {
            bool keyHolds = true;  // the key of an object or a variable may be any
            if (regWrite) {
                keyHolds = keyMayHold(key, *restriction, true);
            } else if (i == at + 2) {
                keyHolds = keyMayHold(words[at + 1], *restriction, true);
            } else if (i == at + 3 && words[at + 2].quoted) {
                keyHolds = holdsRestriction(words[at + 2].text, *restriction);  // below the hive
            }
            putsInForce(restriction, keyHolds, i + 1 < words.size() ? words[i + 1].text : "", false,
                        false, found, writes);
            return;
        }
        if (regWrite) {
            break;  // RegWrite names the value in its first argument
        }
    }
    if (std::any_of(words.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                    words.begin() + static_cast<std::ptrdiff_t>(end),
                    [](const Word& word) { return isVariable(word.text); })) {
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

// Programs that only print their arguments: echo (also echo. and its kin), Write-Host,
// Write-Output and the other Write- commands.
bool printsOnly(std::string_view program) {
    if (program.starts_with("echo")) {
        return program.size() == 4 ||
               std::string_view(".:(/\\[]+,;=").find(program[4]) != std::string_view::npos;
    }
    static constexpr std::array<std::string_view, 7> kPrinters = {
        "write-host",    "write-output", "write-information", "write-verbose",
        "write-warning", "write-debug",  "out-host"};
    return std::find(kPrinters.begin(), kPrinters.end(), program) != kPrinters.end();
}

// cmd [/options] /c|/k|/r COMMAND: the rest of the line is the command; when it starts with a
// quote, cmd drops that quote and the last one of the line.
std::optional<std::string> cmdCommand(std::string_view text, const Statement& statement,
                                      std::size_t at) {
    for (std::size_t i = at + 1; i < statement.words.size(); ++i) {
        const std::string option = lowerCase(statement.words[i].text);
        if (option == "/c" || option == "/k" || option == "/r") {
            if (i + 1 == statement.words.size()) {
                return std::string();
            }
            std::string command = handedText(text, statement, i + 1);
            if (command.starts_with('"')) {
                command.erase(0, 1);
                const std::size_t last = command.rfind('"');
                if (last != std::string::npos) {
                    command.erase(last, 1);
                }
            }
            return command;
        }
        if (!option.starts_with('/')) {
            break;
        }
    }
    return std::nullopt;
}

// What PowerShell is given to run: commands (-Command, the words after it; -EncodedCommand,
// UTF-16LE text in base64) or a script (-File).
struct Handed {
    enum class Kind { Nothing, Command, Script };
    Kind kind = Kind::Nothing;
    std::string text;
};

bool takesArgument(std::string_view parameter) {
    static constexpr std::array<std::string_view, 11> kParameters = {
        "executionpolicy", "windowstyle",    "workingdirectory",  "version",
        "inputformat",     "outputformat",   "configurationname", "psconsolefile",
        "settingsfile",    "custompipename", "encodedarguments"};
    return parameter.size() == 1 || parameter == "ep" || parameter == "ea" || parameter == "wd" ||
           std::any_of(kParameters.begin(), kParameters.end(),
                       [&](std::string_view name) { return name.starts_with(parameter); });
}

// powershell|pwsh [parameters] (-Command TEXT... | -EncodedCommand BASE64 | -File SCRIPT); the
// first other word starts the command (Windows PowerShell) or names the script (PowerShell 7).
// Parameters may be shortened and start with - or /.
Handed powershellCommand(std::string_view text, const Statement& statement, std::size_t at,
                         bool core) {
    const std::vector<Word>& words = statement.words;
    const auto command = [&](std::size_t from) {
        return Handed{Handed::Kind::Command, commandLineText(handedText(text, statement, from))};
    };
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const std::string& word = words[i].text;
        if (words[i].quoted || word.size() < 2 || (word[0] != '-' && word[0] != '/')) {
            if (word == "-") {
                return {};  // reads its input
            }
            return core ? Handed{Handed::Kind::Script, word} : command(i);
        }
        const std::string parameter = lowerCase(word.substr(1));
        const bool hasArgument = i + 1 < words.size();
        if (parameter == "c" || (parameter.size() >= 3 && parameter.size() <= 7 &&
                                 std::string_view("command").starts_with(parameter))) {
            return hasArgument && words[i + 1].text != "-" ? command(i + 1) : Handed{};
        }
        if (parameter == "e" || parameter == "ec" ||
            (parameter.size() >= 2 && !parameter.starts_with("encodeda") &&
             std::string_view("encodedcommand").starts_with(parameter))) {
            const auto bytes =
                hasArgument ? formats::base64Decode(words[i + 1].text) : std::nullopt;
            return bytes ? Handed{Handed::Kind::Command,
                                  formats::utf16ToNarrow(formats::utf16Units(*bytes))}
                         : Handed{};
        }
        if (parameter == "f" ||
            (parameter.size() >= 2 && std::string_view("file").starts_with(parameter))) {
            return hasArgument ? Handed{Handed::Kind::Script, words[i + 1].text} : Handed{};
        }
        if (takesArgument(parameter)) {
            ++i;
        }
    }
    return {};
}

// Start-Process [-FilePath] PROGRAM [-ArgumentList] ARGUMENTS...: the command line it starts,
// its arguments joined by spaces as Start-Process joins them.
std::optional<std::string> startedProcess(const std::vector<Word>& words, std::size_t at) {
    std::string program;
    std::string arguments;
    bool listing = false;
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const std::string word = lowerCase(words[i].text);
        const bool hasArgument = i + 1 < words.size();
        if (!words[i].quoted && word.size() > 1 && word.starts_with('-')) {
            const std::string_view parameter = std::string_view(word).substr(1);
            listing =
                parameter == "args" ||
                (parameter.size() >= 2 && std::string_view("argumentlist").starts_with(parameter));
            if (!listing && hasArgument &&
                (std::string_view("filepath").starts_with(parameter) || parameter == "path")) {
                program = words[++i].text;
            } else if (!listing && hasArgument &&
                       (parameter.starts_with("verb") || parameter.starts_with("window") ||
                        parameter.starts_with("working") || parameter.starts_with("credential") ||
                        parameter.starts_with("redirect"))) {
                ++i;
            }
        } else if (program.empty() && !listing) {
            program = words[i].text;
        } else {
            arguments.append(" ").append(words[i].text);
        }
    }
    if (program.empty()) {
        return std::nullopt;
    }
    return (program.find(' ') == std::string::npos ? program : '"' + program + '"') + arguments;
}

bool examineText(std::string_view text, CommandFindings& found, int depth);

// Reads a command handed to a shell as that shell would run it.
bool examineNested(std::string_view command, CommandFindings& found, int depth) {
    if (depth >= kMaxNesting) {
        found.mayChangeAny = true;  // cannot be read this deep: it may set anything
        return true;
    }
    return examineText(command, found, depth + 1);
}

// Whether `statement` runs what it reads from its input: cmd or PowerShell without a command of
// their own, Invoke-Expression without an argument.
bool runsItsInput(std::string_view text, const Statement& statement) {
    const std::string program = programName(statement.words.front().text);
    if (program == "cmd") {
        return !cmdCommand(text, statement, 0);
    }
    if (program == "powershell" || program == "pwsh") {
        return powershellCommand(text, statement, 0, program == "pwsh").kind ==
               Handed::Kind::Nothing;
    }
    return (program == "iex" || program == "invoke-expression") && statement.words.size() == 1;
}

// Whether the statement puts a restriction in force or may; what it sets and the files it hands
// on go to `found`.
bool examineStatement(std::string_view text, const std::vector<Statement>& statements,
                      std::size_t index, CommandFindings& found, int depth) {
    const Statement& statement = statements[index];
    const std::vector<Word>& words = statement.words;
    bool writes = false;
    bool exports = false;
    for (std::size_t at = 0; at < words.size(); ++at) {
        const std::string program = programName(words[at].text);
        bool regWrite = false;
        if (printsOnly(program)) {
            // What is printed runs only when it goes on to a shell.
            return statement.piped && index + 1 < statements.size() &&
                   runsItsInput(text, statements[index + 1]) &&
                   examineNested(joined(words, at + 1), found, depth);
        }
        if (program == "cmd" || program == "%comspec%") {
            const auto command = cmdCommand(text, statement, at);
            if (command) {
                return examineNested(*command, found, depth);
            }
            break;
        }
        if (program == "powershell" || program == "pwsh") {
            const Handed handed = powershellCommand(text, statement, at, program == "pwsh");
            if (handed.kind == Handed::Kind::Command) {
                return examineNested(handed.text, found, depth);
            }
            if (handed.kind == Handed::Kind::Script) {
                found.files.push_back({NamedFile::Kind::Script, handed.text});
            }
            return false;
        }
        if (program == "iex" || program == "invoke-expression") {
            const std::size_t from =
                at + (at + 1 < words.size() && lowerCase(words[at + 1].text) == "-command" ? 2 : 1);
            if (from < words.size() && !words[from].quoted && isVariable(words[from].text)) {
                found.mayChangeAny = true;  // code held in a variable may set anything
                return true;
            }
            return from < words.size() && examineNested(joined(words, from), found, depth);
        }
        if (program == "start-process" || program == "saps") {
            const auto command = startedProcess(words, at);
            return command && examineNested(*command, found, depth);
        }
        if (program == "reg") {
            const std::string command =
                at + 1 < words.size() ? lowerCase(words[at + 1].text) : std::string();
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
        const std::string& word = words[at].text;
        const std::string program = at > 0 ? programName(words[at - 1].text) : std::string();
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
    return writes;
}

bool examineText(std::string_view text, CommandFindings& found, int depth) {
    bool writes = false;
    const std::vector<Statement> statements = statementsOf(text);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        if (examineStatement(text, statements, i, found, depth)) {
            writes = true;
            // The statement as the command or script has it, however deep it set something.
            if (depth == 0) {
                const Statement& statement = statements[i];
                found.writes.emplace_back(
                    text.substr(statement.begin(), statement.end() - statement.begin()));
            }
        }
    }
    return writes;
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
    examineText(text, found, 0);
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
