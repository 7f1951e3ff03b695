// The hive text format: what Wine wrote comes back byte for byte, edits touch only their
// sections, and new text is written as Wine writes it.
#include "platform/hive_file.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "formats/utf16.h"
#include "platform/hive_text.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::platform::hive {

namespace {

using testing::contains;
using testing::fixtureDirectory;
using testing::readFile;

constexpr FileTime kSomeTime = 0x1dd85d468358468;  // 2026-12-06 in a fixture

std::string dword(std::uint32_t value) {
    return testing::dword(value).bytes;
}

// UTF-16LE bytes of `text` with its terminating NUL, as string values are stored.
std::string sz(std::u16string_view text) {
    return formats::utf16LeBytes(text) + std::string(2, '\0');
}

// The key at `path`, a list of names in any letter case.
template <class Path = std::initializer_list<std::u16string_view>>
Key& keyAt(Document& document, const Path& path) {
    Key* key = &document.root();
    for (auto name : path) {
        key = key->child(foldName(name));
        if (key == nullptr) {
            throw std::runtime_error("no such key");
        }
    }
    return *key;
}

const std::string kSmallHive =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Alpha] 1796597521\n"
    "#time=1dd85d468358468\n"
    "\"b\"=dword:00000002\n"
    "\"d\"=\"four\"\n"
    "\n"
    "[Software\\\\Gamma] 1796597521\n"
    "#time=1dd85d468358468\n"
    "@=\"default\"\n";

// In a file whose lines mix both ends (those before the keys edited in CRLF, which the header
// makes the file's own, the rest in LF) and holds lines Wine cannot read (kept as they are; the
// values after a bad key line are not the key's before it), edits leave the other sections and the
// blank lines between them as they were. A new value goes after its key's lines, damaged or not.
TEST(HiveFileTest, EditsInAFileOfMixedLineEndsAndDamagedLinesChangeOnlyTheirOwnSections) {
    const std::string wine = readFile(fixtureDirectory() / "system.reg");
    const std::size_t at = wine.find("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion]");
    ASSERT_NE(at, std::string::npos);
    std::string original;
    for (const char c : wine.substr(0, at)) {
        original += c == '\n' ? "\r\n" : std::string(1, c);
    }
    const std::size_t edit = original.size();
    // Where Wine writes the section, in the order of the keys.
    original +=
        "\r\n[Software\\\\Microsoft\\\\Windows NT\\\\Broken] 1796597521\r\n"
        "\"ok\"=dword:00000001\r\nthis line means nothing\r\n\"bad\"=dword:xyz\r\n"
        "[Software\\\\Unclosed 1796597521\r\n\"orphan\"=dword:00000001\r\n";
    const std::size_t current = original.size();
    original += wine.substr(at);
    Document document = Document::parse(original);
    EXPECT_TRUE(document.serialize() == original) << "not written back as it was";
    Key& broken = keyAt(document, {u"Software", u"Microsoft", u"Windows NT", u"Broken"});
    EXPECT_FALSE(broken.value(foldName(u"orphan"))) << "values after a bad key line are not ours";
    EXPECT_EQ(broken.value(foldName(u"bad"))->type, 0u);
    ASSERT_TRUE(broken.setValue(u"zz", {4, dword(7)}, kSomeTime));
    Key& key = keyAt(document, {u"Software", u"Microsoft", u"Windows NT", u"CurrentVersion"});
    ASSERT_TRUE(key.setValue(u"RegisteredOwner", {1, sz(u"Quorvane")}, kSomeTime + 1));
    const std::string edited = document.serialize();
    const std::size_t tail = original.size() - original.find("\n\n[", current + 1);
    EXPECT_EQ(edited.substr(0, edit), original.substr(0, edit));
    EXPECT_TRUE(contains(edited,
                         "this line means nothing\r\n\"bad\"=dword:xyz\r\n\"zz\"=dword:00000007\r\n"
                         "[Software\\\\Unclosed 1796597521\r\n\"orphan\"=dword:00000001\r\n"));
    EXPECT_EQ(edited.substr(edited.size() - tail), original.substr(original.size() - tail));
}

// New keys and values go where Wine puts them, and a change sets the key's time as Wine writes it.
TEST(HiveFileTest, NewKeysValuesAndTimesGoWhereWinePutsThem) {
    Document document = Document::parse(kSmallHive);
    Key& software = keyAt(document, {u"Software"});
    Key& beta = software.addChild(u"beta", kSomeTime);
    EXPECT_EQ(&software.addChild(u"BETA", kSomeTime), &beta) << "one key in either spelling";
    beta.setValue(u"x", {4, dword(1)}, kSomeTime);
    Key& alpha = keyAt(document, {u"Software", u"Alpha"});
    alpha.setValue(u"C", {4, dword(3)}, kSomeTime);
    alpha.setValue(u"A", {4, dword(0)}, kSomeTime);
    alpha.setValue(u"", {1, sz(u"first")}, kSomeTime);
    // Lower-casing puts '_' before letters; a prefix sorts first.
    alpha.setValue(u"_", {4, dword(5)}, kSomeTime);
    alpha.setValue(u"bb", {4, dword(6)}, kSomeTime);
    // 255 s on, where the low half of the time has leading zeros to keep. (A value set as it was
    // changes nothing: AWriteAfterReadsInPartChangesOnlyItsSection, in the store.)
    const FileTime later = kSomeTime + 10'000'000ull * 255;
    Key& gamma = keyAt(document, {u"Software", u"Gamma"});
    gamma.setValue(u"n", {4, dword(1)}, later);
    EXPECT_EQ(gamma.modified(), later);

    const std::string text = document.serialize();
    const std::string alphaSection =
        "[Software\\\\Alpha] 1796597521\n#time=1dd85d468358468\n@=\"first\"\n"
        "\"_\"=dword:00000005\n\"A\"=dword:00000000\n\"b\"=dword:00000002\n"
        "\"bb\"=dword:00000006\n\"C\"=dword:00000003\n\"d\"=\"four\"\n";
    EXPECT_TRUE(contains(text, alphaSection));
    EXPECT_LT(text.find("[Software\\\\Alpha]"), text.find("[Software\\\\beta]"));
    EXPECT_LT(text.find("[Software\\\\beta]"), text.find("[Software\\\\Gamma]"));
    EXPECT_TRUE(contains(text, "[Software\\\\Gamma] 1796597776\n#time=1dd85d500336de8\n"));
}

// The forms Wine's own files lack; the fixtures' values are rendered anew below. That every form
// reads back as it was, the tree property at the end holds for any type and data.
struct ValueForm {
    const char* what;
    ValueData data;
    std::string line;
};
class ValueForms : public ::testing::TestWithParam<ValueForm> {};

TEST_P(ValueForms, RenderAsWineDoes) {
    EXPECT_EQ(renderValueLine(u"v", GetParam().data, "\n"), GetParam().line);
}

const ValueForm kValueForms[] = {
    {"escaped text",
     {1, sz(u"a \"q\" back\\slash\ttab Grüße Ω 7\0017")},
     "\"v\"=\"a \\\"q\\\" back\\\\slash\\ttab Gr\\xfc\\x00dfe \\x3a9 7\\0017\""},
    {"text without bytes", {1, ""}, "\"v\"=hex(1):"},
    {"text without its NUL", {1, "ab"}, "\"v\"=hex(1):61,62"},
    {"short dword", {4, "\x01\x02"}, "\"v\"=hex(4):01,02"},
    {"qword", {11, std::string("\x01\0\0\0\0\0\0\x80", 8)}, "\"v\"=hex(b):01,00,00,00,00,00,00,80"},
};
INSTANTIATE_TEST_SUITE_P(Types, ValueForms, ::testing::ValuesIn(kValueForms), testing::CaseName());

// The value lines of a hive file in order, each with the lines Wine continued it on.
std::vector<std::string> valueLinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!lines.empty() && lines.back().ends_with('\\')) {
            lines.back() += '\n' + line;
        } else if (line.starts_with('"') || line.starts_with('@')) {
            lines.push_back(line);
        }
    }
    return lines;
}

// Every value at and below `key` rendered anew, in the order of the file.
void renderValues(Key& key, std::vector<std::string>& rendered) {
    for (const std::u16string& value : key.valueNames()) {
        rendered.push_back(renderValueLine(value, *key.value(foldName(value)), "\n"));
    }
    for (const auto& child : key.children()) {
        renderValues(*child, rendered);
    }
}

// Wine's own files come back byte for byte. Rendered anew, every section must give Wine's own
// text: ordering, escapes, and a section for each key that has values or no sub-keys, and for no
// other; and every value, rendered anew from the data it loads as, the line Wine wrote: its
// escapes, and its hex data broken after the comma that takes the line past column 76.
TEST(HiveFileTest, FixturesRoundTripByteForByteAndRenderAsWineDoes) {
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        SCOPED_TRACE(name);
        const std::string original = readFile(fixtureDirectory() / name);
        Document document = Document::parse(original);
        EXPECT_EQ(document.serialize(), original);
        document.root().markAllTouched();
        EXPECT_EQ(document.serialize(), original) << "rendered anew";
        std::vector<std::string> rendered;
        renderValues(document.root(), rendered);
        const std::vector<std::string> written = valueLinesOf(original);
        ASSERT_EQ(rendered.size(), written.size());
        const auto [mine, wines] = std::mismatch(rendered.begin(), rendered.end(), written.begin());
        EXPECT_TRUE(mine == rendered.end()) << "rendered: " << *mine << "\nWine wrote: " << *wines;
    }
}

TEST(HiveFileTest, DataWineCannotReadLoadsAsEmptyNone) {
    for (const char* text : {"dword:", "dword:123456789", "hex:zz", "hex(4:00", "\"open", "what"}) {
        const ValueData data = decodeValueData(text);
        EXPECT_EQ(data.type, 0u) << text;
        EXPECT_TRUE(data.bytes.empty()) << text;
    }
    EXPECT_EQ(decodeValueData("str:\"plain\"").type, 1u);
    EXPECT_EQ(decodeValueData("\"x\" trailing words").bytes, sz(u"x"));
}

// Thousands of siblings out of order, some listed again in another spelling with a value and a
// child of their own: each name is one key with the sections of all its listings, in file order.
TEST(HiveFileTest, ManyShuffledSiblingsListedAgainAreOneKeyEach) {
    constexpr int kKeys = 3000;
    std::vector<int> order(kKeys);
    for (int i = 0; i < kKeys; ++i) {
        order[i] = (i * 1237) % kKeys;  // 1237 is prime to 3000: every key once, shuffled
    }
    std::string text = Document::headerFor("REGISTRY\\\\Machine");
    for (const int i : order) {
        text += "\n[Software\\\\K" + std::to_string(i) + "] 1796597521\n\"a\"=dword:1\n";
    }
    for (int i = 0; i < kKeys; i += 7) {
        text += "\n[Software\\\\k" + std::to_string(i) + "\\\\Sub] 1796597521\n";
        text += "\n[SOFTWARE\\\\k" + std::to_string(i) + "] 1796597521\n\"b\"=dword:2\n";
    }
    Document document = Document::parse(text);
    const auto& keys = keyAt(document, {u"Software"}).children();
    ASSERT_EQ(keys.size(), std::size_t{kKeys});
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return compareFolded(a->folded(), b->folded()) < 0;
    }));
    for (int i = 0; i < kKeys; i += 7) {
        const std::string spelled = "K" + std::to_string(i);
        const std::u16string name(spelled.begin(), spelled.end());
        Key& key = keyAt(document, {u"Software", name});
        EXPECT_EQ(key.name(), name);
        EXPECT_EQ(key.valueNames(), (std::vector<std::u16string>{u"a", u"b"})) << spelled;
        ASSERT_EQ(key.children().size(), 1u);
        EXPECT_EQ(key.children()[0]->name(), u"Sub");
    }
    const std::string reloaded = Document::parse(document.serialize()).serialize();
    EXPECT_EQ(reloaded, document.serialize());
}

// Windows stops at 512 levels; a deeper section is a line Wine could not read, kept as it is.
// The file decides the depth, so nothing may recurse on it.
TEST(HiveFileTest, KeysDeeperThanWindowsAllowsStayDamagedText) {
    for (const std::size_t depth : {512u, 513u, 100'000u, 400'000u}) {
        SCOPED_TRACE(depth);
        std::string section = "[a";
        for (std::size_t level = 1; level < depth; ++level) {
            section += "\\\\a";
        }
        section += "] 1796597521\n\"v\"=dword:00000001\n";
        Document document = Document::parse(kSmallHive + "\n" + section);
        Key* deepest = &document.root();
        for (std::size_t level = 0; deepest != nullptr && level < depth; ++level) {
            deepest = deepest->child(u"a");
        }
        EXPECT_EQ(deepest != nullptr, depth <= Document::kMaxDepth);
        keyAt(document, {u"Software", u"Gamma"}).setValue(u"w", {4, dword(2)}, kSomeTime);
        EXPECT_TRUE(contains(document.serialize(), "\n" + section));
    }
}

// A file cut short (inside a line, or after a line that says another follows) is refused too:
// what came after is lost, and writing it back would make that final.
TEST(HiveFileTest, OnlyWinesHeaderAndWholeLinesAreAccepted) {
    for (const char* text : {"", "WINE REGISTRY Version 1\n", "wine registry version 2\n",
                             "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n"}) {
        EXPECT_THROW(Document::parse(text), HeaderError) << text;
    }
    EXPECT_NO_THROW(Document::parse("WINE REGISTRY Version 2\n"));
    for (const std::string& text :
         {std::string("WINE REGISTRY Version 2"), kSmallHive.substr(0, kSmallHive.size() - 3),
          kSmallHive + "\"v\"=hex:01,\\\r\n"}) {
        EXPECT_THROW(Document::parse(text), TruncatedError) << text;
    }
}

TEST(HiveTextTest, EscapesFollowWine) {
    std::string out;
    appendEscaped(out, u"[a]\\\"\x7f\x1b\a0\u00e9f\u00e9g", "[]");
    EXPECT_EQ(out, "\\[a\\]\\\\\"\x7f\\e\\a0\\x00e9f\\xe9g");
    std::u16string back;
    std::size_t pos = 0;
    ASSERT_TRUE(readEscaped("\\x41\\101\\q\xc3\xa9\xff\"rest", pos, '"', back));
    EXPECT_EQ(back, u"AAq\xe9") << "invalid UTF-8 is dropped";
    out.clear();
    appendEscaped(out, u"\b\t\n\v\f\r", "");
    EXPECT_EQ(out, "\\b\\t\\n\\v\\f\\r");
    EXPECT_EQ(foldName(u"ÄBC_[Ω]"), u"äbc_[ω]");
}

// Wine keeps the last line of one value name, in any letter case, also across two sections of one
// key; a new value then goes in name order, and an added last one goes last.
TEST(HiveDocument, TheLastLineOfAValueNameCountsAndNewValuesGoInNameOrder) {
    Document document = Document::parse(
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
        "[Software\\\\Alpha] 1796597521\n\"b\"=dword:00000001\n\"c\"=dword:00000003\n"
        "\"B\"=dword:00000002\n\n"
        "[Software\\\\Alpha] 1796597521\n\"c\"=dword:00000004\n\n");
    Key& alpha = keyAt(document, {u"Software", u"Alpha"});
    EXPECT_EQ(alpha.value(u"b")->bytes, dword(2));
    EXPECT_EQ(alpha.value(u"c")->bytes, dword(4));
    EXPECT_EQ(alpha.valueNames(), (std::vector<std::u16string>{u"B", u"c"}));
    ASSERT_TRUE(alpha.setValue(u"a", {4, dword(5)}, kSomeTime));
    ASSERT_TRUE(alpha.setValue(u"z", {4, dword(6)}, kSomeTime));
    ASSERT_TRUE(alpha.deleteValue(u"b", kSomeTime));
    ASSERT_TRUE(alpha.setValue(u"bb", {4, dword(7)}, kSomeTime));
    EXPECT_EQ(alpha.valueNames(), (std::vector<std::u16string>{u"a", u"bb", u"c", u"z"}));
    EXPECT_EQ(alpha.value(u"z")->bytes, dword(6));
    EXPECT_EQ(alpha.value(u"bb")->bytes, dword(7));
    EXPECT_FALSE(alpha.value(u"b"));
}

// A hive scanned in pieces, its sections read again only as keys are asked for, gives what its
// whole text gives: the same bytes written back, the same keys read in part; read in part, it is
// never written back, which would lose the rest. Through the store, in any order of keys asked
// for: the registry model's readers.
struct PiecesCase {
    const char* what;
    std::string text;
    std::vector<std::u16string> wanted;  // a key read in part, name by name
    std::string key = {};                // what that key reads as, where the row says
};

// `text` read in part, scanned in pieces: only the way to the key at `path` (none: everything)
// and what lies below it. The text must outlive the document, which reads its sections later.
Document readInPart(const std::string& text, const std::vector<std::u16string>& path) {
    auto scanned = std::make_shared<const ScannedHive>(
        text.size(), [&text](std::size_t offset, char* out, std::size_t length) {
            ASSERT_LE(offset + length, text.size());
            std::copy_n(text.data() + offset, length, out);
        });
    std::u16string wanted;
    for (const auto& name : path) {
        wanted += (wanted.empty() ? u"" : u"\\") + name;
    }
    return Document::parseSelected(scanned, std::span(&wanted, 1));
}

std::vector<PiecesCase> piecesCases() {
    const std::string header =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n";
    const std::string tail = "\n[A\\\\B] 1700000000\n\"v\"=dword:00000001\n\n[C] 0\n\"w\"=\"x\"\n";
    // A [path] line that begins just before the end of the first piece and ends after it.
    const std::string looksLike =
        "\n[A\\\\B\\\\k] 0\n\"v\"=\"[A\\\\B\\\\k\\\\x] 0\"\n[A\\\\B\\\\k\\\\y\\]\n";
    std::string across =
        header + ";" + std::string(ScannedHive::kPieceSize - header.size() - 5, 'p') + "\n";
    const std::string again = "\n[a\\\\\\x42] 0\n\"u\"=dword:00000003\n\n[Unclosed\n\"x\"=\"y\"\n";
    // Its value is its own, so that a section lost at the seam shows.
    across += "[A\\\\B] 1700000000\n\"u\"=dword:00000002\n";
    return {
        {"line longer than a piece",
         header + "\n[A] 0\n\"big\"=\"" + std::string(600'000, 'x') + "\"\n" + tail,
         {u"a", u"b"}},
        {"key line across two pieces", across + tail, {u"a", u"b"}},
        {"sibling keys whose [path] lines begin alike",
         header + "\n[A\\\\B\\\\k] 0\n\"v\"=dword:00000001\n\n[A\\\\B\\\\k\\xe9] 0\n\"w\"=\"1\"\n\n"
                  "[A\\\\B\\\\k\\]] 0\n\"u\"=\"2\"\n",
         {u"a", u"b", u"k\u00e9"}},
        // A value that holds a [path] line of the run, and a line like one but without its
        // closing ']': neither starts a section.
        {"lines that only look like the run's", header + looksLike, {u"a", u"b", u"k"}, looksLike},
        {"crlf and damaged lines",
         "WINE REGISTRY Version 2\r\n\r\n[A\\\\B] 5\r\n\"v\"=dword:zz\r\n[not a key\r\n  "
         "[A\\\\B\\\\C] 6\r\n"
         "\"w\"=\"\\]\"\r\n\r\n[A\\\\B\\] still\\\\D] 7\r\n\r\n",
         {u"a", u"b"}},
        // Listed again further on, in another case and with a letter escaped: one key, of both
        // sections (and the line after them that Wine cannot read).
        {"a key listed again in another spelling",
         header + tail + again,
         {u"a", u"b"},
         "\n[A\\\\B] 1700000000\n\"v\"=dword:00000001\n" + again},
        // Wine's own.
        {"Wine's system.reg",
         readFile(fixtureDirectory() / "system.reg"),
         {u"software", u"microsoft", u"windows nt", u"currentversion"}},
    };
}

class ReadInPiecesTest : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(ReadInPiecesTest, GivesWhatTheWholeTextGives) {
    const PiecesCase& c = GetParam();
    Document whole = Document::parse(c.text);
    EXPECT_EQ(readInPart(c.text, {}).serialize(), whole.serialize());
    Document part = readInPart(c.text, c.wanted);
    std::string fromWhole;
    std::string fromPart;
    keyAt(whole, c.wanted).serialize(fromWhole, "\n");
    keyAt(part, c.wanted).serialize(fromPart, "\n");
    EXPECT_NE(fromWhole.find("\"="), std::string::npos) << "the key read holds values";
    EXPECT_EQ(fromPart, fromWhole);
    EXPECT_THROW(static_cast<void>(part.serialize()), std::logic_error) << "the rest would be lost";
    if (!c.key.empty()) {
        EXPECT_EQ(fromWhole, c.key);
    }
}

INSTANTIATE_TEST_SUITE_P(Hives, ReadInPiecesTest, ::testing::ValuesIn(piecesCases()),
                         testing::CaseName());

// A key as drawn, its values and sub-keys each named once without regard to case.
struct DrawnKey {
    std::u16string name;
    std::vector<std::pair<std::u16string, ValueData>> values;
    std::vector<DrawnKey> children;
};

// Names with what the format escapes ('"', '\', '[', ']', control characters, units outside
// ASCII, lone surrogates); a key's name holds no '\' and is never empty.
rc::Gen<std::u16string> drawnName(bool key) {
    return rc::gen::map(
        rc::gen::container<std::u16string>(rc::gen::oneOf(
            rc::gen::elementOf(std::u16string(u"\"\\[]=@;\r\n\t\x7f\x1b\xe9\x3a9 \0", 15)),
            rc::gen::inRange<char16_t>(0x20, 0x7F), rc::gen::arbitrary<char16_t>())),
        [key](std::u16string name) {
            if (key) {
                std::replace(name.begin(), name.end(), u'\\', u'/');
                name.insert(0, u"k");
            }
            return name;
        });
}

template <class T, class Name>
std::vector<T> namedOnce(std::vector<T> items, Name name) {
    std::set<std::u16string> seen;
    std::erase_if(items, [&](const T& item) { return !seen.insert(foldName(name(item))).second; });
    return items;
}

rc::Gen<DrawnKey> drawnKey(int depth) {
    return rc::gen::exec([depth] {
        DrawnKey key{*drawnName(true), {}, {}};
        const auto data = rc::gen::exec([] {
            const auto type = *rc::gen::oneOf(
                rc::gen::elementOf(std::vector<std::uint32_t>{0, 1, 2, 3, 4, 7, 11}),
                rc::gen::arbitrary<std::uint32_t>());
            // Four bytes often, so that DWORDs take their own form.
            return ValueData{
                type, *rc::gen::oneOf(
                          rc::gen::map(drawnName(false), sz), rc::gen::arbitrary<std::string>(),
                          rc::gen::container<std::string>(4, rc::gen::arbitrary<char>()))};
        });
        key.values =
            namedOnce(*rc::gen::container<std::vector<std::pair<std::u16string, ValueData>>>(
                          static_cast<std::size_t>(*rc::gen::inRange(0, 5)),
                          rc::gen::pair(drawnName(false), data)),
                      [](const auto& value) { return value.first; });
        if (depth > 0) {
            key.children = namedOnce(
                *rc::gen::container<std::vector<DrawnKey>>(
                    static_cast<std::size_t>(*rc::gen::inRange(0, 4)), drawnKey(depth - 1)),
                [](const DrawnKey& child) { return child.name; });
        }
        return key;
    });
}

void build(Key& key, const DrawnKey& drawn) {
    for (const auto& [name, data] : drawn.values) {
        key.setValue(name, data, kSomeTime);
    }
    for (const DrawnKey& child : drawn.children) {
        build(key.addChild(child.name, kSomeTime), child);
    }
}

void expectHolds(Key& key, const DrawnKey& drawn) {
    RC_ASSERT(key.name() == drawn.name);
    RC_ASSERT(key.valueNames().size() == drawn.values.size());
    for (const auto& [name, data] : drawn.values) {
        const auto value = key.value(foldName(name));
        RC_ASSERT(value.has_value());
        RC_ASSERT(value->type == data.type);
        RC_ASSERT(value->bytes == data.bytes);
    }
    RC_ASSERT(key.children().size() == drawn.children.size());
    for (const DrawnKey& child : drawn.children) {
        Key* found = key.child(foldName(child.name));
        RC_ASSERT(found != nullptr);
        expectHolds(*found, child);
    }
}

// Built through the key API, written, and read again, in any order of its sections: the same
// tree, written again in Wine's order as the same text.
RC_GTEST_PROP(HiveDocument, ATreeReadsBackFromItsTextInAnyOrderOfSections, ()) {
    const DrawnKey top = *drawnKey(3);
    Document document = Document::parse(Document::headerFor("REGISTRY\\\\Machine"));
    build(document.root().addChild(top.name, kSomeTime), top);
    const std::string text = document.serialize();

    std::vector<std::string> sections;
    const std::size_t first = text.find("\n[");
    for (std::size_t at = first; at != std::string::npos;) {
        const std::size_t next = text.find("\n\n[", at + 1);
        sections.push_back(
            text.substr(at, next == std::string::npos ? std::string::npos : next + 1 - at));
        at = next == std::string::npos ? next : next + 1;
    }
    for (std::size_t i = sections.size(); i > 1; --i) {
        std::swap(sections[i - 1], sections[*rc::gen::inRange<std::size_t>(0, i)]);
    }
    std::string shuffled = text.substr(0, first);
    for (const std::string& section : sections) {
        shuffled += section;
    }
    Document read = Document::parse(shuffled);
    expectHolds(keyAt(read, {top.name}), top);
    RC_ASSERT(read.serialize() == text);

    // Read in part, only the way to one drawn key and what lies below it: that key as drawn.
    const DrawnKey* drawn = &top;
    std::vector<std::u16string> path{foldName(top.name)};
    while (!drawn->children.empty() && *rc::gen::inRange(0, 8) != 0) {
        drawn = &drawn->children[*rc::gen::inRange<std::size_t>(0, drawn->children.size())];
        path.push_back(foldName(drawn->name));
    }
    Document part = readInPart(shuffled, path);
    expectHolds(keyAt(part, path), *drawn);
}

}  // namespace
}  // namespace quorvane::platform::hive
