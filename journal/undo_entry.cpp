#include "journal/undo_entry.h"

#include <tuple>

#include "formats/reg_file.h"
#include "formats/utf16.h"
#include "platform/value_data.h"
#include "restrictions/outcome.h"

namespace quorvane::journal {

namespace {

constexpr std::u16string_view kFirstLine = u"Quorvane undo entry 2";
constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr const char* kTimeField = "Time: ";
constexpr const char* kActionField = "Action: ";
constexpr const char* kRegistryField = "Registry: ";
// What the entries of the earlier format say of themselves in their comments.
constexpr const char* kEarlierMark = "Quorvane: the registry before a change, for undo";

std::u16string escaped(std::string_view narrow) {
    std::u16string text;
    for (const char16_t unit : formats::narrowToUtf16(narrow)) {
        if (unit < 0x20 || unit == u'%' || unit == 0x7F) {
            static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
            text += u'%';
            text += kDigits[unit >> 4];
            text += kDigits[unit & 0xF];
        } else {
            text += unit;
        }
    }
    return text;
}

std::optional<std::string> unescaped(std::u16string_view text) {
    std::u16string units;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') {
            units += text[i];
            continue;
        }
        if (i + 2 >= text.size() || formats::hexDigitValue(text[i + 1]) < 0 ||
            formats::hexDigitValue(text[i + 2]) < 0) {
            return std::nullopt;
        }
        units += static_cast<char16_t>(formats::hexDigitValue(text[i + 1]) * 16 +
                                       formats::hexDigitValue(text[i + 2]));
        i += 2;
    }
    return formats::utf16ToNarrow(units);
}

std::u16string stateText(Record::Kind kind, const PlaceState& state) {
    if (kind == Record::Kind::Key) {
        return state.present ? u"+" : u"-";
    }
    formats::RegValue value{
        {}, !state.present, state.type, platform::fileData(state.type, state.data)};
    return formats::regValueData(value);
}

std::optional<PlaceState> readState(Record::Kind kind, std::u16string_view text) {
    if (kind == Record::Kind::Key) {
        if (text == u"+" || text == u"-") {
            return PlaceState{text == u"+", 0, {}};
        }
        return std::nullopt;
    }
    formats::RegValue value;
    if (!formats::readRegValueData(text, value)) {
        return std::nullopt;
    }
    if (value.deleted) {
        return PlaceState{};
    }
    return PlaceState{true, value.type, platform::narrowData(value.type, value.data)};
}

// The lines of a text, without their ends.
std::vector<std::u16string_view> linesOf(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        end = end == text.npos ? text.size() : end;
        std::u16string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::optional<std::pair<registry::Hive, std::string>> splitPlace(const std::string& path) {
    for (const registry::Hive hive : {registry::kHiveCurrentUser, registry::kHiveLocalMachine}) {
        const std::string prefix = std::string(restrictions::hiveName(hive)) + "\\";
        if (path.size() > prefix.size() && path.starts_with(prefix)) {
            return std::pair{hive, path.substr(prefix.size())};
        }
    }
    return std::nullopt;
}

std::u16string contentText(const std::optional<std::string>& bytes) {
    if (!bytes) {
        return u"-";
    }
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string text;
    text.reserve(bytes->size() * 2);
    for (const char byte : *bytes) {
        const auto unit = static_cast<unsigned char>(byte);
        text += kDigits[unit >> 4];
        text += kDigits[unit & 0xF];
    }
    return text;
}

// Nothing when the text is no content; an empty optional inside for "-".
std::optional<std::optional<std::string>> readContent(std::u16string_view text) {
    if (text == u"-") {
        return std::optional<std::string>();
    }
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = formats::hexDigitValue(text[i]);
        const int low = formats::hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return std::optional(std::move(bytes));
}

UnreadableEntry earlierEntry(std::string_view bytes) {
    UnreadableEntry entry{
        "it was written by an earlier version of Quorvane, which kept only the "
        "state before the change, so undoing it could overwrite what was "
        "changed since; to put that state back all the same, import the file "
        "with the registry editor (regedit /s)",
        true,
        {},
        {},
        {}};
    bool ours = false;
    for (const std::u16string& comment : formats::readRegFileComments(bytes)) {
        const std::string line = formats::utf16ToNarrow(comment);
        const std::string text = line.starts_with(' ') ? line.substr(1) : line;
        ours = ours || text == kEarlierMark;
        for (const auto& [field, target] :
             {std::pair{kTimeField, &entry.time}, std::pair{kActionField, &entry.action},
              std::pair{kRegistryField, &entry.registry}}) {
            if (text.starts_with(field)) {
                *target = text.substr(std::char_traits<char>::length(field));
            }
        }
    }
    if (!ours) {
        return {
            "it is no undo entry: a registry file that Quorvane did not write", false, {}, {}, {}};
    }
    return entry;
}

}  // namespace

std::string writeUndoEntry(const UndoEntry& entry) {
    std::u16string text(kFirstLine);
    text += kLineEnd;
    for (const auto& [field, value] :
         {std::pair{kTimeField, &entry.time}, std::pair{kActionField, &entry.action},
          std::pair{kRegistryField, &entry.registry}}) {
        text += formats::narrowToUtf16(field) + escaped(*value) + std::u16string(kLineEnd);
    }
    // Records of one key follow each other: its place is escaped once.
    std::string lastPath;
    std::u16string place;
    for (const Record& record : entry.records) {
        const bool isKey = record.kind == Record::Kind::Key;
        std::string path = restrictions::fullRegistryPath(record.hive, record.subKey);
        if (path != lastPath) {
            place = escaped(path);
            lastPath = std::move(path);
        }
        text += kLineEnd;
        text += isKey ? u"key " : u"value ";
        text += place;
        text += kLineEnd;
        if (!isKey) {
            text += u"name ";
            text += escaped(record.valueName);
            text += kLineEnd;
        }
        text += u"before ";
        text += stateText(record.kind, record.before);
        text += kLineEnd;
        text += u"after ";
        text += record.after ? stateText(record.kind, *record.after) : std::u16string(u"?");
        text += kLineEnd;
    }
    for (const FileRecord& file : entry.files) {
        text += kLineEnd;
        const bool moved = file.kind == FileRecord::Kind::Moved;
        text += (moved ? u"moved " : u"file ") + escaped(file.path) + std::u16string(kLineEnd);
        if (moved) {
            text += u"to " + escaped(file.to) + std::u16string(kLineEnd);
            continue;
        }
        text += u"before " + contentText(file.before) + std::u16string(kLineEnd);
        text += u"after " + (file.ended ? contentText(file.after) : std::u16string(u"?")) +
                std::u16string(kLineEnd);
    }
    return formats::regFileBytes(text);
}

std::variant<UndoEntry, UnreadableEntry> readUndoEntry(std::string_view bytes) {
    const std::u16string text = formats::regFileText(bytes);
    const std::vector<std::u16string_view> lines = linesOf(text);
    if (lines.empty() || lines.front() != kFirstLine) {
        if (!lines.empty() &&
            (lines.front() == formats::kRegFileHeader || lines.front() == u"REGEDIT4")) {
            return earlierEntry(bytes);
        }
        return UnreadableEntry{
            "it is no undo entry of this version of Quorvane", false, {}, {}, {}};
    }
    UndoEntry entry;
    std::size_t i = 1;
    const auto fail = [&](const std::string& why) {
        return UnreadableEntry{"line " + std::to_string(i + 1) + ": " + why, false, {}, {}, {}};
    };
    for (; i < lines.size() && !lines[i].empty(); ++i) {
        const auto line = unescaped(lines[i]);
        bool known = false;
        for (const auto& [field, target] :
             {std::pair{kTimeField, &entry.time}, std::pair{kActionField, &entry.action},
              std::pair{kRegistryField, &entry.registry}}) {
            if (line && line->starts_with(field)) {
                *target = line->substr(std::char_traits<char>::length(field));
                known = true;
            }
        }
        if (!known) {
            return fail("no header field");
        }
    }
    while (i < lines.size()) {
        if (lines[i].empty()) {
            ++i;
            continue;
        }
        const std::u16string_view head = lines[i];
        const std::size_t blank = head.find(u' ');
        const std::u16string_view kind = head.substr(0, blank);
        const auto field = [&](std::u16string_view name) -> std::optional<std::u16string_view> {
            ++i;
            if (i >= lines.size() || !lines[i].starts_with(name)) {
                return std::nullopt;
            }
            return lines[i].substr(name.size());
        };
        if (kind == u"file" || kind == u"moved") {
            FileRecord file;
            const auto path = blank == head.npos ? std::nullopt : unescaped(head.substr(blank + 1));
            if (!path || path->empty()) {
                return fail("no file");
            }
            file.path = *path;
            if (kind == u"moved") {
                file.kind = FileRecord::Kind::Moved;
                const auto to = field(u"to ");
                const auto target = to ? unescaped(*to) : std::nullopt;
                if (!target || target->empty()) {
                    return fail("no place the item was moved to");
                }
                file.to = *target;
            } else {
                const auto before = field(u"before ");
                const auto content = before ? readContent(*before) : std::nullopt;
                if (!content) {
                    return fail("no content before the change");
                }
                file.before = *content;
                const auto after = field(u"after ");
                if (after && *after == u"?") {
                    file.ended = false;
                } else {
                    const auto left = after ? readContent(*after) : std::nullopt;
                    if (!left) {
                        return fail("no content after the change");
                    }
                    file.after = *left;
                }
            }
            entry.files.push_back(std::move(file));
            ++i;
            continue;
        }
        if (kind != u"key" && kind != u"value") {
            return fail("a record of a kind this version of Quorvane does not know (" +
                        formats::utf16ToNarrow(kind) + ")");
        }
        Record record;
        record.kind = kind == u"key" ? Record::Kind::Key : Record::Kind::Value;
        const auto path = blank == head.npos ? std::nullopt : unescaped(head.substr(blank + 1));
        const auto place = path ? splitPlace(*path) : std::nullopt;
        if (!place) {
            return fail("no key below HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
        }
        std::tie(record.hive, record.subKey) = *place;
        if (record.kind == Record::Kind::Value) {
            const auto name = field(u"name ");
            const auto text = name ? unescaped(*name) : std::nullopt;
            if (!text) {
                return fail("no value name");
            }
            record.valueName = *text;
        }
        const auto before = field(u"before ");
        const auto beforeState = before ? readState(record.kind, *before) : std::nullopt;
        if (!beforeState) {
            return fail("no state before the change");
        }
        record.before = *beforeState;
        const auto after = field(u"after ");
        if (!after) {
            return fail("no state after the change");
        }
        if (*after != u"?") {
            record.after = readState(record.kind, *after);
            if (!record.after) {
                return fail("no state after the change");
            }
        }
        entry.records.push_back(std::move(record));
        ++i;
    }
    return entry;
}

}  // namespace quorvane::journal
