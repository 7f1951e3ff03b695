// Feeds arbitrary text to the hive parser and checks what every parsed file must satisfy,
// whatever its damage: the store reads hives other programs wrote, and writes them back.
//
//  1. What the document writes parses again, and writing that gives the same text: a hive
//     read and written by two Quorvane runs in a row does not drift.
//  2. A file already laid out as the writer lays it out (one line-end style, a blank line
//     before every section, sections in the order the writer puts them) comes back byte for byte.
//  3. Every query on every key is answered without crashing, and isLink() gives the same answer
//     whether it is first asked before or after the key's lines are read (the store does both).
//  4. With every section rendered anew, the text still parses to the same keys, with the
//     same values (type and bytes), the same link marks, and renders to itself again.
// A broken rule aborts, so that libFuzzer keeps the input. While one rule is known broken, set
// HIVE_FUZZ_RULE to the names of the others (see kRules; comma-separated) to fuzz or minimise for
// those alone: inputs that break any other rule then pass quietly.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive_file.h"
#include "platform/hive_text.h"

namespace {

namespace hive = quorvane::platform::hive;
namespace formats = quorvane::formats;

enum class Rule {
    WrittenParses,
    WrittenIsFixedPoint,
    LayoutKept,
    LinkStable,
    WrittenSameTree,
    RenderedParses,
    RenderedIsFixedPoint,
    RenderedSameTree,
    RenderingIsStable,
};

struct RuleText {
    const char* name;
    const char* text;
};
constexpr RuleText kRules[] = {
    {"written-parses", "the written text parses again"},
    {"written-fixed-point", "writing the re-read text gives the same text"},
    {"layout-kept", "a file in the written layout is written back byte for byte"},
    {"link-stable", "isLink() answers the same whether asked before or after reading the key"},
    {"written-same-tree", "the written text holds the same keys and values"},
    {"rendered-parses", "the rendered text parses again"},
    {"rendered-fixed-point", "the rendered text is written back byte for byte"},
    {"rendered-same-tree", "the rendered text holds the same keys and values"},
    {"rendering-stable", "rendering the rendered text gives it again"},
};

// Thrown instead of aborting for a rule that HIVE_FUZZ_RULE leaves out.
struct OtherRuleBroken {};

bool selected(Rule rule) {
    static const char* const only = std::getenv("HIVE_FUZZ_RULE");
    if (only == nullptr) {
        return true;
    }
    const std::string_view name = kRules[static_cast<int>(rule)].name;
    std::string_view list = only;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (list.substr(0, comma) == name) {
            return true;
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return false;
}

[[noreturn]] void broken(Rule rule) {
    if (!selected(rule)) {
        throw OtherRuleBroken{};
    }
    const RuleText& text = kRules[static_cast<int>(rule)];
    std::fprintf(stderr, "hive_parser_fuzzer: broken rule %s: %s\n", text.name, text.text);
    std::abort();
}

void require(bool holds, Rule rule) {
    if (!holds) {
        broken(rule);
    }
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t newline = text.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        lines.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

// Every name a value line of `text` could carry, folded. Value names only ever come from the
// start of a line, so this holds all the names the parser can find, and more.
std::set<std::u16string> candidateValueNames(std::string_view text) {
    std::set<std::u16string> names;
    for (std::string_view line : linesOf(text)) {
        const std::string_view content = hive::withoutLineEnd(line);
        const std::size_t start = hive::skipBlanks(content, 0);
        if (start == content.size()) {
            continue;
        }
        if (content[start] == '@') {
            names.insert(std::u16string());
        } else if (content[start] == '"') {
            std::size_t pos = start + 1;
            std::u16string name;
            if (hive::readEscaped(content, pos, '"', name)) {
                names.insert(hive::foldName(name));
            }
        }
    }
    return names;
}

// The lines that begin (after blanks) with '[': every section's first line, and damaged lines
// that only look like one.
std::vector<std::string_view> bracketLines(std::string_view text) {
    std::vector<std::string_view> found;
    for (std::string_view line : linesOf(text)) {
        const std::size_t start = hive::skipBlanks(line, 0);
        if (start < line.size() && line[start] == '[') {
            found.push_back(line);
        }
    }
    return found;
}

// Whether `text` is laid out as the writer lays out untouched sections: the line end of the
// first line everywhere, and an empty line before every line that may start a section. The
// order of the sections is checked apart, by comparing with the written text.
bool laidOutAsWritten(std::string_view text) {
    const std::vector<std::string_view> lines = linesOf(text);
    if (lines.empty()) {
        return false;
    }
    const bool crlf = lines.front().size() >= 2 && lines.front().ends_with("\r\n");
    const std::string_view emptyLine = crlf ? "\r\n" : "\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.back() == '\n') {
            const bool hasCr = line.size() >= 2 && line[line.size() - 2] == '\r';
            if (hasCr != crlf) {
                return false;
            }
        }
        const std::size_t start = hive::skipBlanks(line, 0);
        if (start < line.size() && line[start] == '[' && (i == 0 || lines[i - 1] != emptyLine)) {
            return false;
        }
    }
    return true;
}

// What one key holds, as seen through the public interface.
struct KeyView {
    std::u16string name;
    bool link = false;
    std::vector<std::pair<std::u16string, hive::ValueData>> values;  // folded name, data
    std::vector<KeyView> children;
};

bool sameValue(const std::pair<std::u16string, hive::ValueData>& a,
               const std::pair<std::u16string, hive::ValueData>& b) {
    return a.first == b.first && a.second.type == b.second.type && a.second.bytes == b.second.bytes;
}

// When isLink() is first asked: the store asks it of keys whose lines it has read and of keys
// whose lines it has not, and the answer must not depend on which.
enum class LinkAsked { BeforeReading, AfterReading };

// Queries everything on `key` and below.
KeyView look(hive::Key& key, const std::set<std::u16string>& names, LinkAsked asked) {
    KeyView view;
    view.name = key.name();
    if (asked == LinkAsked::BeforeReading) {
        view.link = key.isLink();
    }
    // Any query reads all of the key's lines, even when the file names no value at all.
    (void)key.value(std::u16string_view());
    for (const std::u16string& name : names) {
        if (auto data = key.value(name)) {
            view.values.emplace_back(name, std::move(*data));
        }
    }
    if (asked == LinkAsked::AfterReading) {
        view.link = key.isLink();
    }
    (void)key.linkTarget();
    (void)key.modified();
    for (const auto& child : key.children()) {
        view.children.push_back(look(*child, names, asked));
    }
    return view;
}

enum class Names { Exact, IgnoringCase };

// Says where two views part, for the report of a broken rule.
[[noreturn]] void differ(const std::string& path, const char* what, Rule rule) {
    if (selected(rule)) {
        std::fprintf(stderr, "hive_parser_fuzzer: at key \"%s\": %s\n", path.c_str(), what);
    }
    broken(rule);
}

void requireSame(const KeyView& a, const KeyView& b, Names names, Rule rule,
                 const std::string& parentPath = {}) {
    const std::string name = formats::utf16ToUtf8(a.name);
    const std::string path = parentPath.empty() ? "[" + name + "]" : parentPath + "\\" + name;
    const bool sameName =
        names == Names::Exact ? a.name == b.name : hive::foldName(a.name) == hive::foldName(b.name);
    if (!sameName) {
        differ(path, ("the other name is \"" + formats::utf16ToUtf8(b.name) + "\"").c_str(), rule);
    }
    if (a.link != b.link) {
        differ(path, "one is a link, the other not", rule);
    }
    for (std::size_t i = 0; i < std::max(a.values.size(), b.values.size()); ++i) {
        if (i >= a.values.size() || i >= b.values.size() || !sameValue(a.values[i], b.values[i])) {
            const auto& named = i < a.values.size() ? a.values[i] : b.values[i];
            differ(path, ("value \"" + formats::utf16ToUtf8(named.first) + "\" differs").c_str(),
                   rule);
        }
    }
    if (a.children.size() != b.children.size()) {
        differ(path,
               (std::to_string(a.children.size()) + " children against " +
                std::to_string(b.children.size()))
                   .c_str(),
               rule);
    }
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        requireSame(a.children[i], b.children[i], names, rule, path);
    }
}

hive::Document parseAgain(const std::string& text, Rule rule) {
    try {
        return hive::Document::parse(text);
    } catch (const hive::HeaderError&) {
        broken(rule);
    }
}

void check(hive::Document& document, const std::string& input) {
    const std::set<std::u16string> names = candidateValueNames(input);

    // 1. The written text is a fixed point.
    const std::string written = document.serialize();
    hive::Document reread = parseAgain(written, Rule::WrittenParses);
    require(reread.serialize() == written, Rule::WrittenIsFixedPoint);

    // 2. A file already in the written layout is given back unchanged.
    if (laidOutAsWritten(input) && bracketLines(input) == bracketLines(written)) {
        require(written == input, Rule::LayoutKept);
    }

    // 3. Queries on the document as read, and on a second copy asked in the other order.
    const KeyView original = look(document.root(), names, LinkAsked::BeforeReading);
    hive::Document copy = parseAgain(input, Rule::LinkStable);
    requireSame(original, look(copy.root(), names, LinkAsked::AfterReading), Names::Exact,
                Rule::LinkStable);
    // Names are kept as first spelled, and writing may move a section ahead of the one that
    // spelled its key first, so across the written text only the folded names are bound to stay.
    requireSame(original, look(reread.root(), names, LinkAsked::BeforeReading), Names::IgnoringCase,
                Rule::WrittenSameTree);

    // 4. Every section rendered anew.
    document.root().markAllTouched();
    const std::string rendered = document.serialize();
    hive::Document fromRendered = parseAgain(rendered, Rule::RenderedParses);
    require(fromRendered.serialize() == rendered, Rule::RenderedIsFixedPoint);
    requireSame(original, look(fromRendered.root(), names, LinkAsked::BeforeReading), Names::Exact,
                Rule::RenderedSameTree);
    fromRendered.root().markAllTouched();
    require(fromRendered.serialize() == rendered, Rule::RenderingIsStable);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::optional<hive::Document> parsed;
    try {
        parsed.emplace(hive::Document::parse(input));
    } catch (const hive::HeaderError&) {
        return 0;
    }
    try {
        check(*parsed, input);
    } catch (const OtherRuleBroken&) {
        // Another rule than the selected one: this input does not count.
    }
    return 0;
}
