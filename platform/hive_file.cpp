#include "platform/hive_file.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <stdexcept>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/little_endian.h"
#include "formats/utf16.h"
#include "platform/hive_text.h"
#include "platform/registry_api.h"

namespace quorvane::platform::hive {

namespace {

constexpr std::string_view kHeaderLine = "WINE REGISTRY Version 2";
constexpr FileTime kTicksPerSecond = 10'000'000;
constexpr FileTime kUnixEpochTicks = 116'444'736'000'000'000;  // 1970-01-01 as a FileTime
constexpr std::size_t kWrapColumn = 76;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool startsWith(std::string_view text, std::size_t pos, std::string_view prefix) {
    return text.substr(pos, prefix.size()) == prefix;
}

// The line at `pos` (line end included) and the start of the next one.
std::string_view lineAt(std::string_view text, std::size_t pos) {
    const std::size_t newline = text.find('\n', pos);
    return text.substr(pos, newline == std::string_view::npos ? newline : newline + 1 - pos);
}

// Reads hex digits at `pos` into `value`; false when there are none or too many for 64 bits.
bool readHexNumber(std::string_view text, std::size_t& pos, std::uint64_t& value,
                   std::size_t maxDigits) {
    std::size_t digits = 0;
    value = 0;
    while (pos < text.size() && isHexDigit(text[pos])) {
        if (++digits > maxDigits) {
            return false;
        }
        value = value * 16 + hexValue(text[pos++]);
    }
    return digits > 0;
}

std::string timeLine(FileTime time, std::string_view lineEnd) {
    // Wine prints the high and low halves separately, the low one padded to eight digits.
    std::string line = "#time=";
    appendHex(line, time >> 32, 1);
    appendHex(line, time & 0xFFFFFFFF, 8);
    line += lineEnd;
    return line;
}

ValueData decodeString(std::string_view text, std::size_t pos, std::uint32_t type) {
    std::u16string units;
    if (!readEscaped(text, pos, '"', units)) {
        return {};
    }
    units.push_back(u'\0');
    return {type, formats::utf16LeBytes(units)};
}

ValueData decodeHex(std::string_view text, std::size_t pos, std::uint32_t type) {
    ValueData data{type, {}};
    while (true) {
        while (pos < text.size() && (isBlank(text[pos]) || text[pos] == '\\' || text[pos] == '\r' ||
                                     text[pos] == '\n')) {
            ++pos;
        }
        if (pos == text.size()) {
            return data;
        }
        if (pos + 1 >= text.size() || !isHexDigit(text[pos]) || !isHexDigit(text[pos + 1])) {
            return {};
        }
        data.bytes.push_back(static_cast<char>(hexValue(text[pos]) * 16 + hexValue(text[pos + 1])));
        pos += 2;
        pos = skipBlanks(text, pos);
        if (pos < text.size() && text[pos] == ',') {
            ++pos;
        } else if (pos < text.size() && text[pos] != '\\' && text[pos] != '\r' &&
                   text[pos] != '\n') {
            return {};
        }
    }
}

// The type in "hex(T):" or "str(T):" at `pos` (just past the '('); moves past "):".
bool readTypeTag(std::string_view text, std::size_t& pos, std::uint32_t& type) {
    std::uint64_t value = 0;
    if (!readHexNumber(text, pos, value, 8) || !startsWith(text, pos, "):")) {
        return false;
    }
    pos += 2;
    type = static_cast<std::uint32_t>(value);
    return true;
}

// A section's [path] line: its path as written, split into the escaped text of each component
// (kept in one list for the whole file: `first` and `count` are its place there), and the seconds
// after it.
struct KeyLine {
    std::size_t first = 0;
    std::size_t count = 0;
    std::uint64_t seconds = 0;
    bool escaped = false;  // a name holds an escape other than the doubled backslash
};

bool parseKeyLine(std::string_view line, std::vector<std::string_view>& components, KeyLine& key) {
    key.first = components.size();
    key.escaped = false;
    const std::string_view text = withoutLineEnd(line);
    std::size_t pos = skipBlanks(text, 0);
    if (pos == text.size() || text[pos] != '[') {
        return false;
    }
    std::size_t start = ++pos;
    // Key names cannot hold a backslash, so every escaped backslash separates two names. The
    // line is searched for its backslashes and its ']' rather than read byte by byte: every
    // section of a file passes here.
    std::size_t close = text.find(']', pos);
    while (close != std::string_view::npos) {
        const void* found = std::memchr(text.data() + pos, '\\', close - pos);
        if (found == nullptr) {
            break;
        }
        const std::size_t slash =
            static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        if (slash + 1 < text.size() && text[slash + 1] == '\\') {
            if (slash > start) {
                components.push_back(text.substr(start, slash - start));
            }
            start = slash + 2;
        } else {
            key.escaped = true;
        }
        pos = slash + 2;
        if (pos > close) {
            close = text.find(']', pos);  // that ']' was escaped
        }
    }
    if (close == std::string_view::npos) {
        return false;
    }
    pos = close;
    if (pos > start) {
        components.push_back(text.substr(start, pos - start));
    }
    key.count = components.size() - key.first;
    key.seconds = 0;
    pos = skipBlanks(text, pos + 1);
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        key.seconds = key.seconds * 10 + (text[pos++] - '0');
    }
    return true;
}

// What the search for [path] lines needs of a line, without splitting all of it: whether
// parseKeyLine reads it as a key line and the text of its first `leadingNames` names (as
// written); its time is read when its section is loaded. Lines too long to be judged so (whose
// depth must be counted) are left to parseKeyLine: nullopt.
struct KeyLineStart {
    bool valid = false;
    std::string_view leading;  // empty when the path has fewer names
};
// The ']' that closes the [path] line `text` whose '[' is at `open`; npos when none does.
// Backslashes pair up from the first of a run on, so a ']' after an odd run is escaped.
std::size_t closingBracket(std::string_view text, std::size_t open) {
    std::size_t close = text.find(']', open + 1);
    while (close != std::string_view::npos) {
        std::size_t slashes = 0;
        while (text[close - 1 - slashes] == '\\') {
            ++slashes;
        }
        if (slashes % 2 == 0) {
            break;
        }
        close = text.find(']', close + 1);
    }
    return close;
}

std::optional<KeyLineStart> scanKeyLine(std::string_view line, std::size_t leadingNames,
                                        std::size_t maxDepth) {
    KeyLineStart key;
    const std::string_view text = withoutLineEnd(line);
    std::size_t pos = skipBlanks(text, 0);
    if (pos == text.size() || text[pos] != '[') {
        return key;
    }
    const std::size_t open = pos;
    const std::size_t close = closingBracket(text, open);
    if (close == std::string_view::npos) {
        return key;
    }
    if (close - open > maxDepth) {
        return std::nullopt;  // could hold more names than allowed
    }
    key.valid = true;
    std::size_t names = 0;
    std::size_t start = open + 1;
    std::size_t leadingStart = 0;
    for (pos = start; names < leadingNames;) {
        const void* found = std::memchr(text.data() + pos, '\\', close - pos);
        const std::size_t slash =
            found == nullptr
                ? close
                : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        const bool separator = slash < close && text[slash + 1] == '\\';
        if (slash == close || separator) {
            if (slash > start) {
                leadingStart = names == 0 ? start : leadingStart;
                if (++names == leadingNames) {
                    key.leading = text.substr(leadingStart, slash - leadingStart);
                }
            }
            if (slash == close) {
                break;
            }
            start = slash + 2;
        }
        pos = slash + 2;
    }
    return key;
}

std::u16string decodeName(std::string_view escaped) {
    std::u16string name;
    std::size_t pos = 0;
    readEscaped(escaped, pos, '\0', name);
    return name;
}

// Splits off one blank line, of either line-end style, that ends `chunk`: it separates
// sections and is written anew.
std::string_view withoutSeparator(std::string_view chunk) {
    if (chunk.ends_with("\n\r\n")) {
        chunk.remove_suffix(2);
    } else if (chunk.ends_with("\n\n")) {
        chunk.remove_suffix(1);
    }
    return chunk;
}

// Appends `text` with its line ends in the file's style: lines Quorvane renders end in LF.
void appendLines(std::string& out, std::string_view text, std::string_view lineEnd) {
    if (lineEnd == "\n") {
        out += text;
        return;
    }
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos) {
            out += text.substr(start);
            break;
        }
        const bool crlf = newline > start && text[newline - 1] == '\r';
        out += text.substr(start, newline - start - (crlf ? 1 : 0));
        out += lineEnd;
        start = newline + 1;
    }
}

// How many key names a [path] line's components make once unescaped: an escaped backslash
// separates names too.
std::size_t nameCount(std::span<const std::string_view> components) {
    std::size_t count = 0;
    for (std::string_view component : components) {
        if (component.find('\\') == std::string_view::npos) {
            ++count;
            continue;
        }
        const std::u16string decoded = decodeName(component);
        std::size_t start = 0;
        while (start < decoded.size()) {
            const std::size_t end = std::min(decoded.find(u'\\', start), decoded.size());
            count += end > start;
            start = end + 1;
        }
    }
    return count;
}

// Most names are plain ASCII, with no escape to read and no terminator: widened into `out` unit
// for unit, or false when `escaped` is not such a name (`out` is then undefined).
bool widenPlain(std::string_view escaped, std::u16string& out) {
    out.resize(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        if (c == 0 || c >= 0x80 || c == '\\') {
            return false;
        }
        out[i] = c;
    }
    return !escaped.empty();
}

void foldInPlace(std::u16string& name) {
    for (char16_t& unit : name) {
        unit = foldUnit(unit);
    }
}

void appendSeparator(std::string& out, std::string_view lineEnd) {
    if (!out.empty() && out.back() != '\n') {
        out += lineEnd;
    }
    out += lineEnd;
}

// Parses the name of a value line; on success `pos` is at the data.
bool parseValueName(std::string_view line, std::size_t& pos, std::u16string& name) {
    if (line[pos] == '@') {
        ++pos;
    } else {
        ++pos;
        if (!readEscaped(withoutLineEnd(line), pos, '"', name)) {
            return false;
        }
    }
    pos = skipBlanks(line, pos);
    if (pos == line.size() || line[pos] != '=') {
        return false;
    }
    pos = skipBlanks(line, pos + 1);
    return true;
}

}  // namespace

FileTime currentFileTime() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochTicks +
           static_cast<FileTime>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100);
}

ValueData decodeValueData(std::string_view text) {
    std::size_t pos = skipBlanks(text, 0);
    std::uint32_t type = kRegSz;
    if (startsWith(text, pos, "\"")) {
        return decodeString(text, pos + 1, kRegSz);
    }
    if (startsWith(text, pos, "str:\"")) {
        return decodeString(text, pos + 5, kRegSz);
    }
    if (startsWith(text, pos, "str(")) {
        pos += 4;
        if (!readTypeTag(text, pos, type) || !startsWith(text, pos, "\"")) {
            return {};
        }
        return decodeString(text, pos + 1, type);
    }
    if (startsWith(text, pos, "dword:")) {
        pos += 6;
        std::uint64_t value = 0;
        if (!readHexNumber(text, pos, value, 8)) {
            return {};
        }
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
        }
        return {kRegDword, bytes};
    }
    if (startsWith(text, pos, "hex:")) {
        return decodeHex(text, pos + 4, kRegBinary);
    }
    if (startsWith(text, pos, "hex(")) {
        pos += 4;
        if (!readTypeTag(text, pos, type)) {
            return {};
        }
        return decodeHex(text, pos, type);
    }
    return {};
}

std::string renderValueLine(std::u16string_view name, const ValueData& data,
                            std::string_view lineEnd) {
    // Appended to, not assigned: GCC 12 wrongly warns of overlapping copies for the assignment.
    std::string line;
    if (name.empty()) {
        line += "@=";
    } else {
        line += '"';
        appendEscaped(line, name, "\"\"");
        line += "\"=";
    }
    const std::u16string units = formats::utf16Units(data.bytes);
    if (isStringType(data.type) && data.bytes.size() >= 2 && data.bytes.size() % 2 == 0 &&
        units.back() == u'\0') {
        if (data.type != kRegSz) {
            line += "str(";
            appendHex(line, data.type, 1);
            line += "):";
        }
        line += '"';
        appendEscaped(line, std::u16string_view(units).substr(0, units.size() - 1), "\"\"");
        line += '"';
        return line;
    }
    if (data.type == kRegDword && data.bytes.size() == 4) {
        line += "dword:";
        appendHex(line, *formats::readDword(data.bytes), 8);
        return line;
    }
    if (data.type == kRegBinary) {
        line += "hex:";
    } else {
        line += "hex(";
        appendHex(line, data.type, 1);
        line += "):";
    }
    // Wine wraps after a comma once the line has passed 76 characters.
    std::size_t count = line.size();
    for (std::size_t i = 0; i < data.bytes.size(); ++i) {
        appendHex(line, static_cast<unsigned char>(data.bytes[i]), 2);
        count += 2;
        if (i + 1 < data.bytes.size()) {
            line += ',';
            if (++count > kWrapColumn) {
                line += '\\';
                line += lineEnd;
                line += "  ";
                count = 2;
            }
        }
    }
    return line;
}

Key::Key(std::u16string name, Key* parent)
    : name_(std::move(name)), folded_(foldName(name_)), parent_(parent) {}

Key* Key::child(std::u16string_view folded) const {
    const auto it = std::lower_bound(children_.begin(), children_.end(), folded,
                                     [](const std::unique_ptr<Key>& key, std::u16string_view name) {
                                         return compareFolded(key->folded_, name) < 0;
                                     });
    return it != children_.end() && (*it)->folded_ == folded ? it->get() : nullptr;
}

Key::~Key() {
    std::vector<std::unique_ptr<Key>> doomed = std::move(children_);
    while (!doomed.empty()) {
        std::unique_ptr<Key> key = std::move(doomed.back());
        doomed.pop_back();
        for (auto& child : key->children_) {
            doomed.push_back(std::move(child));
        }
        key->children_.clear();
    }
}

Key::Key(std::u16string name, std::u16string folded, Key* parent)
    : name_(std::move(name)), folded_(std::move(folded)), parent_(parent) {}

// The children of the keys whose children came out of order, found by parent and folded name:
// an open-addressing table of the keys themselves, with their hashes beside them so that a probe
// seldom has to visit a key.
struct LoadingIndex {
    struct Slot {
        std::size_t hash = 0;
        Key* key = nullptr;
    };

    static std::size_t hashOf(const Key* parent, std::u16string_view folded) {
        return std::hash<std::u16string_view>()(folded) ^
               (reinterpret_cast<std::uintptr_t>(parent) * 0x9E3779B97F4A7C15u);
    }

    Key* find(const Key* parent, std::u16string_view folded, std::size_t hash) const {
        if (slots.empty()) {
            return nullptr;
        }
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = hash & mask; slots[i].key != nullptr; i = (i + 1) & mask) {
            const Slot& slot = slots[i];
            if (slot.hash == hash && slot.key->parent_ == parent && slot.key->folded_ == folded) {
                return slot.key;
            }
        }
        return nullptr;
    }

    void insert(Key* key, std::size_t hash) {
        if (2 * (used + 1) > slots.size()) {
            std::vector<Slot> old(std::max<std::size_t>(1024, 2 * slots.size()));
            old.swap(slots);
            for (const Slot& slot : old) {
                if (slot.key != nullptr) {
                    place(slot);
                }
            }
        }
        place({hash, key});
        ++used;
    }

    void place(const Slot& slot) {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = slot.hash & mask;
        while (slots[i].key != nullptr) {
            i = (i + 1) & mask;
        }
        slots[i] = slot;
    }

    std::vector<Slot> slots;  // a power of two long, at most half full
    std::size_t used = 0;
    // The keys whose children came out of order, to be sorted once loading ends.
    std::vector<Key*> shuffled;
    // Room for the name being looked up, and for the names of the path being walked.
    std::u16string folded;
    std::u16string decoded;
};

Key& Key::childForLoading(std::u16string_view name, LoadingIndex& index) {
    // Folded into a buffer that stays: most names are looked up, not created.
    std::u16string& folded = index.folded;
    folded.assign(name);
    foldInPlace(folded);
    // Files list keys in Wine's order, so a new child usually goes last, or is the last.
    if (!shuffled_ && !children_.empty()) {
        const int order = compareFolded(children_.back()->folded_, folded);
        if (order == 0) {
            return *children_.back();
        }
        if (order > 0) {
            // Out of order: from now on the children are looked up, as a key listed again later
            // becomes one key with the sections of both, as in Wine.
            shuffled_ = true;
            index.shuffled.push_back(this);
            for (const auto& child : children_) {
                index.insert(child.get(), LoadingIndex::hashOf(this, child->folded_));
            }
        }
    }
    const std::size_t hash = shuffled_ ? LoadingIndex::hashOf(this, folded) : 0;
    if (shuffled_) {
        if (Key* found = index.find(this, folded, hash)) {
            return *found;
        }
    }
    children_.push_back(std::unique_ptr<Key>(new Key(std::u16string(name), folded, this)));
    Key& created = *children_.back();
    if (shuffled_) {
        index.insert(&created, hash);
    }
    return created;
}

namespace {

ValueData dataOf(const Entry& entry) {
    return decodeValueData(withoutLineEnd(std::string_view(entry.text).substr(entry.dataOffset)));
}

// Whether a line end inside `text`, before its last, differs from `lineEnd`. Inside quotes such a
// line end is part of the value, so converting it to the file's style would change the data.
bool hasForeignInnerLineEnd(std::string_view text, std::string_view lineEnd) {
    if (lineEnd == "\n") {
        return false;  // appendLines leaves the text as it stands
    }
    const std::size_t last = text.size() - 1;
    for (std::size_t newline = text.find('\n'); newline < last;
         newline = text.find('\n', newline + 1)) {
        if (newline == 0 || text[newline - 1] != '\r') {
            return true;
        }
    }
    return false;
}

}  // namespace

void Key::sortByName(std::vector<std::unique_ptr<Key>>& keys) {
    const auto byName = [](const std::unique_ptr<Key>& a, const std::unique_ptr<Key>& b) {
        return compareFolded(a->folded_, b->folded_) < 0;
    };
    // A few keys are sorted where they are: a list beside them would cost more than it saves.
    constexpr std::size_t kFew = 16;
    if (keys.size() <= kFew) {
        std::sort(keys.begin(), keys.end(), byName);
        return;
    }
    // Sorted by the first units of each name, kept beside the key: comparing the keys themselves
    // would visit each key in memory at every step. A name that ends sorts first, as its padding
    // is 0; names that agree there are compared in full.
    struct Sortable {
        std::array<char16_t, 8> head{};
        std::unique_ptr<Key> key;
    };
    std::vector<Sortable> sortable(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::u16string& name = keys[i]->folded_;
        std::copy_n(name.begin(), std::min(name.size(), sortable[i].head.size()),
                    sortable[i].head.begin());
        sortable[i].key = std::move(keys[i]);
    }
    // No two siblings share a name, so the order is total.
    std::sort(sortable.begin(), sortable.end(), [](const Sortable& a, const Sortable& b) {
        if (a.head != b.head) {
            return a.head < b.head;
        }
        return compareFolded(a.key->folded_, b.key->folded_) < 0;
    });
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = std::move(sortable[i].key);
    }
}

void Key::sortLoaded(LoadingIndex& index) {
    // Every name is there once: the index found the keys listed again.
    for (Key* key : index.shuffled) {
        key->shuffled_ = false;
        sortByName(key->children_);
    }
    index = {};
}

Key& Key::addChild(std::u16string name, FileTime now) {
    const std::u16string folded = foldName(name);
    if (Key* existing = child(folded)) {
        return *existing;
    }
    const auto at = std::lower_bound(children_.begin(), children_.end(), folded,
                                     [](const std::unique_ptr<Key>& key, const std::u16string& n) {
                                         return compareFolded(key->folded_, n) < 0;
                                     });
    Key& created = **children_.insert(at, std::make_unique<Key>(std::move(name), this));
    created.parsed_ = true;
    created.touch(now);
    touch(now);
    return created;
}

void Key::removeChild(const Key& child) {
    std::erase_if(children_, [&](const std::unique_ptr<Key>& key) { return key.get() == &child; });
}

void Key::addRawSection(std::string_view text, FileTime modified) {
    rawSections_.push_back(text);
    modified_ = modified;
}

void Key::parseSections() {
    if (parsed_) {
        return;
    }
    parsed_ = true;
    for (std::size_t i = 0; i < rawSections_.size(); ++i) {
        const std::string_view section = rawSections_[i];
        bool afterBadKey = false;
        std::size_t pos = lineAt(section, 0).size();  // past the [path] line
        while (pos < section.size()) {
            std::string_view line = lineAt(section, pos);
            Entry entry;
            const std::size_t start = skipBlanks(line, 0);
            const std::string_view text = withoutLineEnd(line);
            if (afterBadKey || start == text.size()) {
                entry.kind = Entry::Kind::Other;
            } else if (startsWith(text, start, "#time=")) {
                std::size_t digits = start + 6;
                std::uint64_t time = 0;
                if (readHexNumber(text, digits, time, 16)) {
                    modified_ = time;
                }
                entry.kind = Entry::Kind::Time;
            } else if (startsWith(text, start, "#link")) {
                entry.kind = Entry::Kind::Link;
            } else if (startsWith(text, start, "#class=")) {
                entry.kind = Entry::Kind::Class;
            } else if (text[start] == '@' || text[start] == '"') {
                std::size_t dataPos = start;
                if (parseValueName(line, dataPos, entry.name)) {
                    entry.kind = Entry::Kind::Value;
                    entry.dataOffset = dataPos;
                    entry.folded = foldName(entry.name);
                    // Hex data runs on over lines that end in a backslash.
                    while (!withoutLineEnd(line).empty() && withoutLineEnd(line).back() == '\\' &&
                           pos + line.size() < section.size()) {
                        line = section.substr(
                            pos, line.size() + lineAt(section, pos + line.size()).size());
                    }
                }
            } else if (text[start] == '[') {
                afterBadKey = true;
            }
            entry.afterBadKey = afterBadKey;
            entry.text = std::string(line);
            pos += line.size();
            if (entry.kind == Entry::Kind::Value && withoutLineEnd(entry.text).ends_with('\\')) {
                // The section ended inside the data: written as it stands, whatever line came
                // next would become part of this value.
                renderEntry(entry, dataOf(entry));
            }
            entries_.push_back(std::move(entry));
        }
    }
    // Wine keeps the last of two lines of one name: one pass over all of them.
    std::unordered_map<std::u16string_view, std::size_t> last;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].kind == Entry::Kind::Value) {
            last[entries_[i].folded] = i;
        }
    }
    std::vector<bool> keep(entries_.size());
    bool dropping = false;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        keep[i] = entries_[i].kind != Entry::Kind::Value || last.at(entries_[i].folded) == i;
        dropping = dropping || !keep[i];
    }
    if (!dropping) {
        return;
    }
    std::vector<Entry> kept;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (keep[i]) {
            kept.push_back(std::move(entries_[i]));
        }
    }
    entries_ = std::move(kept);
}

void Key::renderEntry(Entry& entry, const ValueData& data) {
    entry.text = renderValueLine(entry.name, data, "\n");
    std::u16string spelled;
    entry.dataOffset = 0;
    parseValueName(entry.text, entry.dataOffset, spelled);
    entry.text += '\n';
}

Entry* Key::findEntry(std::u16string_view folded) {
    parseSections();
    if (!indexed_) {
        index_.clear();
        foreignLines_ = false;
        greatest_.clear();
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& entry = entries_[i];
            foreignLines_ = foreignLines_ || entry.afterBadKey;
            if (entry.kind == Entry::Kind::Value) {
                index_[entry.folded] = i;  // the last of one name counts
                if (compareFolded(greatest_, entry.folded) < 0) {
                    greatest_ = entry.folded;
                }
            }
        }
        indexed_ = true;
    }
    const auto it = index_.find(std::u16string(folded));
    return it != index_.end() ? &entries_[it->second] : nullptr;
}

std::optional<ValueData> Key::value(std::u16string_view folded) {
    const Entry* entry = findEntry(folded);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return dataOf(*entry);
}

bool Key::setValue(std::u16string_view name, const ValueData& data, FileTime now) {
    const std::u16string folded = foldName(name);
    Entry* existing = findEntry(folded);
    if (existing != nullptr) {
        const ValueData old = dataOf(*existing);
        if (old.type == data.type && old.bytes == data.bytes) {
            return false;
        }
    }
    Entry entry;
    entry.kind = Entry::Kind::Value;
    entry.name = existing != nullptr ? existing->name : std::u16string(name);
    entry.folded = folded;
    renderEntry(entry, data);
    if (existing != nullptr) {
        *existing = std::move(entry);
    } else {
        // In name order: a name after every other goes last without a scan.
        const bool last = !foreignLines_ && compareFolded(greatest_, folded) < 0;
        const auto at = last ? entries_.end()
                             : std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
                                   return e.afterBadKey || (e.kind == Entry::Kind::Value &&
                                                            compareFolded(e.folded, folded) > 0);
                               });
        if (at == entries_.end()) {
            index_[folded] = entries_.size();
            if (compareFolded(greatest_, folded) < 0) {
                greatest_ = folded;
            }
        } else {
            indexed_ = false;
        }
        entries_.insert(at, std::move(entry));
    }
    touch(now);
    return true;
}

bool Key::deleteValue(std::u16string_view folded, FileTime now) {
    if (findEntry(folded) == nullptr) {
        return false;
    }
    std::erase_if(entries_, [&](const Entry& entry) {
        return entry.kind == Entry::Kind::Value && entry.folded == folded;
    });
    indexed_ = false;
    touch(now);
    return true;
}

std::vector<std::u16string> Key::valueNames() {
    parseSections();
    std::vector<std::u16string> names;
    for (const Entry& entry : entries_) {
        if (entry.kind == Entry::Kind::Value) {
            names.push_back(entry.name);
        }
    }
    return names;
}

std::vector<std::pair<std::u16string, ValueData>> Key::values() {
    parseSections();
    std::vector<std::pair<std::u16string, ValueData>> values;
    for (const Entry& entry : entries_) {
        if (entry.kind == Entry::Kind::Value) {
            values.emplace_back(entry.name, dataOf(entry));
        }
    }
    return values;
}

void Key::touch(FileTime now) {
    parseSections();
    touched_ = true;
    modified_ = now;
}

bool Key::isLink() {
    // Nothing Quorvane does makes or unmakes a link, so the first answer holds.
    if (!link_) {
        parseSections();
        link_ = std::any_of(entries_.begin(), entries_.end(),
                            [](const Entry& entry) { return entry.kind == Entry::Kind::Link; });
    }
    return *link_;
}

std::optional<std::u16string> Key::linkTarget() {
    if (!isLink()) {
        return std::nullopt;
    }
    const auto data = value(foldName(u"SymbolicLinkValue"));
    if (!data) {
        return std::nullopt;
    }
    std::u16string target = formats::utf16Units(data->bytes);
    while (!target.empty() && target.back() == u'\0') {
        target.pop_back();
    }
    return target;
}

void Key::markAllTouched() {
    std::vector<Key*> pending{this};
    while (!pending.empty()) {
        Key* key = pending.back();
        pending.pop_back();
        const FileTime kept = (key->parseSections(), key->modified_);
        key->touch(kept);
        for (auto& child : key->children_) {
            pending.push_back(child.get());
        }
    }
}

bool Key::needsSection() const {
    return children_.empty() ||
           std::any_of(entries_.begin(), entries_.end(), [](const Entry& entry) {
               return entry.kind == Entry::Kind::Value || entry.kind == Entry::Kind::Class ||
                      entry.kind == Entry::Kind::Link;
           });
}

std::string Key::pathText() const {
    std::vector<const Key*> keys;
    for (const Key* key = this; key->parent_ != nullptr; key = key->parent_) {
        keys.push_back(key);
    }
    std::string path;
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        if (!path.empty()) {
            path += "\\\\";
        }
        appendEscaped(path, (*it)->name_, "[]");
    }
    return path;
}

void Key::render(std::string& out, std::string_view lineEnd) const {
    out += '[';
    out += pathText();
    out += "] ";
    out +=
        std::to_string(static_cast<std::uint32_t>((modified_ - kUnixEpochTicks) / kTicksPerSecond));
    out += lineEnd;
    out += timeLine(modified_, lineEnd);
    // What follows a key line Wine cannot read is not this key's: it stays after all of this
    // key's lines, also when two sections of the key become one.
    for (const bool afterBadKey : {false, true}) {
        for (const Entry& entry : entries_) {
            if (entry.kind == Entry::Kind::Time || entry.afterBadKey != afterBadKey) {
                continue;
            }
            if (entry.kind == Entry::Kind::Value && hasForeignInnerLineEnd(entry.text, lineEnd)) {
                // Written anew rather than converted: its data would change with its line ends.
                out += renderValueLine(entry.name, dataOf(entry), lineEnd);
                out += lineEnd;
            } else {
                appendLines(out, entry.text, lineEnd);
                if (out.back() != '\n') {
                    out += lineEnd;
                }
            }
        }
    }
}

void Key::serializeOwn(std::string& out, std::string_view lineEnd) const {
    if (touched_) {
        if (needsSection()) {
            appendSeparator(out, lineEnd);
            render(out, lineEnd);
        }
        return;
    }
    for (std::size_t i = 0; i < rawSections_.size(); ++i) {
        // An untouched section keeps its bytes, and the blank line before it takes the line end
        // of the section's own [path] line: a file that mixes both styles stays as it was.
        const std::string_view raw = rawSections_[i];
        const std::size_t newline = raw.find('\n');
        appendSeparator(out, newline == std::string_view::npos         ? lineEnd
                             : newline > 0 && raw[newline - 1] == '\r' ? std::string_view("\r\n")
                                                                       : std::string_view("\n"));
        out += raw;
    }
}

void Key::serialize(std::string& out, std::string_view lineEnd) const {
    std::vector<const Key*> pending{this};
    while (!pending.empty()) {
        const Key* key = pending.back();
        pending.pop_back();
        key->serializeOwn(out, lineEnd);
        for (auto it = key->children_.rbegin(); it != key->children_.rend(); ++it) {
            pending.push_back(it->get());
        }
    }
}

Document::Document() : root_(std::make_unique<Key>(std::u16string(), nullptr)) {}

std::string Document::headerFor(std::string_view branch) {
    std::string header(kHeaderLine);
    header += "\n;; All keys relative to ";
    header += branch;
    header += "\n\n#arch=win64\n";
    return header;
}

Document Document::empty(std::string_view branch) {
    return parse(headerFor(branch));
}

namespace {

// Whether the key of a [path] line given as `components` lies on the way to `wanted` (folded
// names joined by single backslashes) or below it, compared name by name without building the
// path: most sections differ from every wanted path in their first letters.
// When not, `away` is the component that decided it.
bool onWayOrBelow(std::span<const std::string_view> components, std::u16string_view wanted,
                  std::u16string& decoded, std::size_t* away = nullptr) {
    std::size_t at = 0;
    // Compares one name of the section with the next name of `wanted`; 1 match, 0 mismatch,
    // -1 when `wanted` has no more names (the section lies below it).
    const auto matchName = [&](auto&& unitAt, std::size_t length) {
        if (at >= wanted.size()) {
            return -1;
        }
        const std::size_t end = std::min(wanted.find(u'\\', at), wanted.size());
        if (end - at != length) {
            return 0;
        }
        for (std::size_t i = 0; i < length; ++i) {
            if (foldUnit(unitAt(i)) != wanted[at + i]) {
                return 0;
            }
        }
        at = end + 1;
        return 1;
    };
    for (std::size_t c = 0; c < components.size(); ++c) {
        const std::string_view component = components[c];
        if (away != nullptr) {
            *away = c;
        }
        if (at >= wanted.size()) {
            return true;  // the section lies below
        }
        // Plain letters compare as they stand; a mismatch among them decides, as an escape
        // after them cannot change them.
        bool plain = true;
        {
            const std::size_t end = std::min(wanted.find(u'\\', at), wanted.size());
            const std::u16string_view name = wanted.substr(at, end - at);
            for (std::size_t i = 0; i < component.size() && plain; ++i) {
                const auto unit = static_cast<unsigned char>(component[i]);
                plain = unit != 0 && unit < 0x80 && unit != '\\';
                if (plain && (i >= name.size() || foldUnit(unit) != name[i])) {
                    return false;
                }
            }
            if (plain) {
                if (component.size() != name.size()) {
                    return false;
                }
                at = end + 1;
                continue;
            }
        }
        // As when loading: an escaped backslash separates names, an empty name is no key.
        decoded.clear();
        std::size_t escapedPos = 0;
        readEscaped(component, escapedPos, '\0', decoded);
        const std::u16string_view names = decoded;
        for (std::size_t start = 0; start < names.size();) {
            const std::size_t end = std::min(names.find(u'\\', start), names.size());
            if (end > start) {
                const std::u16string_view name = names.substr(start, end - start);
                const int matched = matchName([&](std::size_t i) { return name[i]; }, name.size());
                if (matched != 1) {
                    return matched < 0;
                }
            }
            start = end + 1;
        }
    }
    return true;
}

}  // namespace

// Where a section starts: at its [path] line.
struct ScannedHive::Section {
    std::size_t start;
};

namespace {

// The first line must be Wine's header; it tells the file's line ends.
std::string lineEndAfterHeader(std::string_view file) {
    const std::string_view firstLine = lineAt(file, 0);
    if (withoutLineEnd(firstLine) != kHeaderLine) {
        throw HeaderError("the first line is not \"WINE REGISTRY Version 2\"");
    }
    return firstLine.size() >= 2 && firstLine[firstLine.size() - 2] == '\r' ? "\r\n" : "\n";
}

// `end`, the file's last bytes, must end a whole line that no other continues.
void checkWhole(std::string_view end) {
    if (!end.ends_with('\n') || withoutLineEnd(end).ends_with('\\')) {
        throw TruncatedError("it ends in the middle of a line: it was cut short");
    }
}

}  // namespace

ScannedHive::ScannedHive(std::string text) : size_(text.size()) {
    Piece& whole = pieces_.emplace_back(Piece{0, std::move(text), nullptr, {}});
    whole.text = whole.given;
    const std::string_view file = whole.text;
    lineEnd_ = lineEndAfterHeader(file);
    checkWhole(file);
    scan(file, 0);
}

ScannedHive::ScannedHive(std::size_t size, Reader read) : size_(size), read_(std::move(read)) {
    // The buffer is never zero-filled: every byte looked at was read.
    std::size_t capacity = std::max<std::size_t>(1, std::min(size_, kPieceSize));
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    // Wine's own files hold a section for every 200 bytes or so: room for them at once (for up
    // to a million; a larger file grows the list as it goes).
    sections_.reserve(std::min<std::size_t>(size_ / 128 + 16, std::size_t{1} << 20));
    std::size_t offset = 0;  // where in the file the buffer starts: always at a line's start
    std::size_t kept = 0;    // the unfinished line carried over from the last piece
    for (bool first = true;; first = false) {
        if (kept == capacity) {
            auto larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
            std::memcpy(larger.get(), buffer.get(), kept);
            buffer = std::move(larger);
            capacity *= 2;
        }
        const std::size_t length = std::min(capacity - kept, size_ - offset - kept);
        read_(offset + kept, buffer.get() + kept, length);
        const std::size_t filled = kept + length;
        const bool last = offset + filled == size_;
        const std::string_view piece(buffer.get(), filled);
        if (first) {
            lineEnd_ = lineEndAfterHeader(piece);
        }
        if (last) {
            checkWhole(piece);
        }
        // Only whole lines: a [path] line is judged as a whole.
        std::size_t complete = filled;
        if (!last) {
            const std::size_t newline = piece.rfind('\n');
            complete = newline == std::string_view::npos ? 0 : newline + 1;
        }
        scan(piece.substr(0, complete), offset);
        if (last) {
            break;
        }
        std::memmove(buffer.get(), buffer.get() + complete, filled - complete);
        kept = filled - complete;
        offset += complete;
    }
}

void ScannedHive::scan(std::string_view piece, std::size_t base) {
    // A [path] line starts a line, after blanks at most: a search for '[' finds every one of
    // them without reading the file line by line. The piece starts at a line's start.
    std::vector<std::string_view> components;
    for (std::size_t bracket = piece.find('['); bracket != std::string_view::npos;) {
        if (const std::size_t next = continuingRun(piece, bracket)) {
            sections_.push_back({base + bracket});
            bracket = piece.find('[', next);
            continue;
        }
        std::size_t start = bracket;
        while (start > 0 && isBlank(piece[start - 1])) {
            --start;
        }
        if (start > 0 && piece[start - 1] != '\n') {
            bracket = piece.find('[', bracket + 1);
            continue;
        }
        const std::string_view line = lineAt(piece, start);
        std::optional<KeyLineStart> key = scanKeyLine(line, kRunDepth, Document::kMaxDepth);
        if (!key) {
            // A long line: its names are counted.
            KeyLine parsed;
            components.clear();
            key = KeyLineStart();
            if (parseKeyLine(line, components, parsed) &&
                nameCount(components) <= Document::kMaxDepth) {
                key->valid = true;
                if (parsed.count >= kRunDepth) {
                    key->leading =
                        std::string_view(components[0].data(),
                                         static_cast<std::size_t>(components[kRunDepth - 1].data() +
                                                                  components[kRunDepth - 1].size() -
                                                                  components[0].data()));
                }
            }
        }
        if (key->valid) {
            // Wine's order keeps the keys below one name of the first two levels together.
            if (runs_.empty() || key->leading.empty() || key->leading != runLeading_) {
                runs_.push_back(sections_.size());
                runLines_.push_back(runLineText_.size());
                runLineText_.append(line);
                runLeading_.assign(key->leading);
            }
            sections_.push_back({base + start});
        }
        bracket = piece.find('[', start + line.size());
    }
}

namespace {

// Byte comparisons run for every section a document loads; GCC does not inline string_view's
// own, so these compare the bytes directly.
bool sameBytes(std::string_view a, std::string_view b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool beginsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           (prefix.empty() || std::memcmp(text.data(), prefix.data(), prefix.size()) == 0);
}

// The first ']' or line end in [from, end), or `end`. Header lines are short: sixteen bytes at a
// time where the processor compares them so, instead of one search for each of the two.
const char* closeOrLineEnd(const char* from, const char* end) {
#if defined(__SSE2__)
    const __m128i close = _mm_set1_epi8(']');
    const __m128i newline = _mm_set1_epi8('\n');
    for (; end - from >= 16; from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const int found = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, close), _mm_cmpeq_epi8(bytes, newline)));
        if (found != 0) {
            return from + __builtin_ctz(static_cast<unsigned>(found));
        }
    }
#endif
    while (from < end && *from != ']' && *from != '\n') {
        ++from;
    }
    return from;
}

}  // namespace

std::size_t ScannedHive::continuingRun(std::string_view piece, std::size_t bracket) const {
    const char* const data = piece.data();
    const std::size_t leading = runLeading_.size();
    if (leading == 0 || (bracket > 0 && data[bracket - 1] != '\n')) {
        return 0;
    }
    // The run's names hold no line end: when they match, the line goes on past them.
    const std::size_t after = bracket + 1 + leading;
    if (after + 1 >= piece.size() ||
        std::memcmp(data + bracket + 1, runLeading_.data(), leading) != 0) {
        return 0;
    }
    // The names go on past the run's at a separator, or end there at the line's ']'.
    const bool separator = data[after] == '\\' && data[after + 1] == '\\';
    if (!separator && data[after] != ']') {
        return 0;
    }
    const std::size_t from = separator ? after + 2 : after;
    const char* const end = data + std::min(piece.size(), bracket + Document::kMaxDepth + 1);
    const char* const close = closeOrLineEnd(data + from, end);
    // A ']' after a backslash may be escaped, and a long line's names must be counted: both are
    // left to the whole judgement, as is a line without its ']'.
    if (close == end || *close != ']' || close[-1] == '\\') {
        return 0;
    }
    return static_cast<std::size_t>(close - data) + 1;
}

std::string_view ScannedHive::text(std::size_t begin, std::size_t end) const {
    for (const Piece& piece : pieces_) {
        if (piece.begin <= begin && end <= piece.begin + piece.text.size()) {
            return piece.text.substr(begin - piece.begin, end - begin);
        }
    }
    Piece piece{begin, {}, std::make_unique_for_overwrite<char[]>(end - begin), {}};
    read_(begin, piece.read.get(), end - begin);
    piece.text = std::string_view(piece.read.get(), end - begin);
    pieces_.push_back(std::move(piece));
    return pieces_.back().text;
}

ScannedHive::~ScannedHive() = default;

Document Document::parse(std::string text) {
    Document document;
    document.buffer_ = std::make_shared<const ScannedHive>(std::move(text));
    document.load(nullptr);
    return document;
}

Document Document::parseSelected(std::shared_ptr<const ScannedHive> scanned,
                                 std::span<const std::u16string> wanted) {
    Document document;
    document.buffer_ = std::move(scanned);
    document.selected_ = true;
    document.loaded_.assign(document.buffer_->sections_.size(), false);
    for (const std::u16string& path : wanted) {
        document.select(path);
    }
    return document;
}

void Document::select(std::u16string_view wanted) {
    if (selected_) {
        load(&wanted);
        // The root's path selects what is left: the document is whole from then on.
        selected_ = !wanted.empty();
    }
}

void Document::load(const std::u16string_view* wanted) {
    const ScannedHive& hive = *buffer_;
    lineEnd_ = hive.lineEnd_;
    const auto& sections = hive.sections_;
    const auto& runs = hive.runs_;
    std::u16string decoded;
    std::vector<std::string_view> components;
    KeyLine key;
    const auto sectionEnd = [&](std::size_t i) {
        return i < sections.size() ? sections[i].start : hive.size_;
    };

    // Everything is read before anything is loaded: a failed read leaves the document as it was.
    const bool whole = wanted == nullptr || wanted->empty();
    const std::string_view file = whole ? hive.text(0, hive.size_) : std::string_view();
    // The start of the last [path] line found to lead away from `wanted`, up to the name that
    // decided it: the lines after it that begin with the same names lead away too, which a
    // comparison of their first bytes shows without splitting them.
    std::string_view awayPrefix;
    const auto leadAwayFrom = [&](std::string_view line, std::string_view name) {
        awayPrefix =
            line.substr(0, static_cast<std::size_t>(name.data() + name.size() - line.data()));
    };
    const auto leadsAway = [&](std::string_view line) {
        if (awayPrefix.empty() || !beginsWith(line, awayPrefix)) {
            return false;
        }
        const std::string_view rest = line.substr(awayPrefix.size());
        return beginsWith(rest, "]") || beginsWith(rest, "\\\\");
    };
    std::vector<std::pair<std::size_t, std::string_view>> runsRead;  // a run and its text
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const std::size_t begin = sections[runs[r]].start;
        const std::size_t end = sectionEnd(r + 1 < runs.size() ? runs[r + 1] : sections.size());
        if (whole) {
            runsRead.emplace_back(r, file.substr(begin, end - begin));
            continue;
        }
        const std::size_t lineEnd =
            r + 1 < runs.size() ? hive.runLines_[r + 1] : hive.runLineText_.size();
        const std::string_view runLine =
            std::string_view(hive.runLineText_)
                .substr(hive.runLines_[r], lineEnd - hive.runLines_[r]);
        if (leadsAway(runLine)) {
            continue;
        }
        components.clear();
        parseKeyLine(runLine, components, key);
        const std::size_t leading = std::min(components.size(), ScannedHive::kRunDepth);
        // The sections of a run begin with the same names: when these lead away, all do.
        std::size_t away = 0;
        if (onWayOrBelow(std::span(components).first(leading), *wanted, decoded, &away)) {
            runsRead.emplace_back(r, hive.text(begin, end));
        } else {
            leadAwayFrom(runLine, components[away]);
        }
    }
    if (whole) {
        const std::size_t headerEnd = sectionEnd(0);
        header_ = withoutSeparator(file.substr(0, headerEnd));
        // What follows the file's last section (or its header) is kept as it is.
        const std::string_view last = sections.empty() ? file : file.substr(sections.back().start);
        trailer_ = last.substr(withoutSeparator(last).size());
    }

    std::vector<std::pair<std::string_view, Key*>> lastPath;
    LoadingIndex index;
    for (const auto& [r, text] : runsRead) {
        const std::size_t base = sections[runs[r]].start;
        const std::size_t runEnd = r + 1 < runs.size() ? runs[r + 1] : sections.size();
        for (std::size_t i = runs[r]; i < runEnd; ++i) {
            if (wanted != nullptr && loaded_[i]) {
                continue;  // each section once, whichever wanted key it was found for first
            }
            const std::string_view chunk =
                text.substr(sections[i].start - base, sectionEnd(i + 1) - sections[i].start);
            const std::string_view line = lineAt(chunk, 0);
            if (leadsAway(line)) {
                continue;
            }
            components.clear();
            parseKeyLine(line, components, key);
            if (wanted != nullptr) {
                std::size_t away = 0;
                if (!onWayOrBelow(components, *wanted, decoded, &away)) {
                    leadAwayFrom(line, components[away]);
                    continue;
                }
                loaded_[i] = true;
            }
            // Neighbouring sections share most of their path: reuse the keys of the last one.
            std::size_t shared = 0;
            while (shared < components.size() && shared < lastPath.size() &&
                   sameBytes(components[shared], lastPath[shared].first)) {
                ++shared;
            }
            lastPath.resize(shared);
            Key* target = shared == 0 ? root_.get() : lastPath.back().second;
            for (std::size_t c = shared; c < components.size(); ++c) {
                // As in Wine, names are split after unescaping: an escaped backslash separates
                // names too, and an empty name is no key.
                std::u16string& decodedName = index.decoded;
                if (widenPlain(components[c], decodedName)) {
                    target = &target->childForLoading(decodedName, index);
                } else {
                    decodedName.clear();
                    std::size_t escapedPos = 0;
                    readEscaped(components[c], escapedPos, '\0', decodedName);
                    const std::u16string_view names = decodedName;
                    std::size_t start = 0;
                    while (start < names.size()) {
                        const std::size_t end = std::min(names.find(u'\\', start), names.size());
                        if (end > start) {
                            target =
                                &target->childForLoading(names.substr(start, end - start), index);
                        }
                        start = end + 1;
                    }
                }
                lastPath.emplace_back(components[c], target);
            }
            const std::string_view raw = withoutSeparator(chunk);
            target->addRawSection(raw, kUnixEpochTicks + key.seconds * kTicksPerSecond);
        }
    }
    Key::sortLoaded(index);
}

std::string Document::serialize() const {
    if (selected_) {
        // The sections left out would be lost.
        throw std::logic_error("a hive loaded in part cannot be written");
    }
    std::string out;
    out.reserve(buffer_->size_ + 4096);
    out += header_;
    root_->serialize(out, lineEnd_);
    out += trailer_;
    // A line that ends in a backslash says another follows, and a section may end on one (data
    // cut short by the next [path] line, or a line Wine cannot read). Between sections, the blank
    // line before each closes it; last in the file, where sections may move when written, it
    // would make the file read as cut short: a blank line closes it there too.
    if (withoutLineEnd(out).ends_with('\\')) {
        out += lineEnd_;
    }
    return out;
}

}  // namespace quorvane::platform::hive
