#include "diagnosis/policy_file.h"

#include <algorithm>

#include "formats/little_endian.h"
#include "formats/result.h"
#include "formats/utf16.h"

namespace quorvane::diagnosis {

namespace {

constexpr std::string_view kSignature = "PReg";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint32_t kRegNone = 0;

class Cursor {
public:
    explicit Cursor(std::string_view bytes) : bytes_(bytes) {}

    bool atEnd() const { return pos_ == bytes_.size(); }
    std::size_t offset() const { return pos_; }
    std::size_t remaining() const { return bytes_.size() - pos_; }

    std::optional<char16_t> unit() {
        const auto value = formats::readLe(bytes_, pos_, 2);
        if (value) {
            pos_ += 2;
        }
        return value ? std::optional(static_cast<char16_t>(*value)) : std::nullopt;
    }
    bool expect(char16_t wanted) {
        const auto got = unit();
        return got && *got == wanted;
    }
    std::optional<std::uint32_t> number() {
        const auto value = formats::readDword(bytes_, pos_);
        if (value) {
            pos_ += 4;
        }
        return value;
    }
    // Units up to a NUL, which is consumed.
    std::optional<std::u16string> string() {
        std::u16string text;
        while (auto next = unit()) {
            if (*next == u'\0') {
                return text;
            }
            text.push_back(*next);
        }
        return std::nullopt;
    }
    std::optional<std::string> take(std::uint32_t size) {
        if (size > remaining()) {
            return std::nullopt;
        }
        std::string data(bytes_.substr(pos_, size));
        pos_ += size;
        return data;
    }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

// Reads one record at the cursor, or why it is not a whole record.
Result<void> readRecord(Cursor& in, PolicyRecord& record) {
    if (!in.expect(u'[')) {
        return failure("no '[' where a record begins");
    }
    auto key = in.string();
    if (!key || !in.expect(u';')) {
        return failure("the key name does not end in NUL and ';'");
    }
    auto value = in.string();
    if (!value || !in.expect(u';')) {
        return failure("the value name does not end in NUL and ';'");
    }
    const auto type = in.number();
    if (!type || !in.expect(u';')) {
        return failure("the type is cut off");
    }
    const auto size = in.number();
    if (!size || !in.expect(u';')) {
        return failure("the size is cut off");
    }
    auto data = in.take(*size);
    if (!data) {
        return failure("the size (" + std::to_string(*size) +
                       " bytes) runs past the end of the file");
    }
    if (!in.expect(u']')) {
        return failure("no ']' after the data");
    }
    record = {std::move(*key), std::move(*value), *type, std::move(*data)};
    return {};
}

void appendUnits(std::string& out, std::u16string_view text) {
    out += formats::utf16LeBytes(text);
}

void appendNumber(std::string& out, std::uint32_t value) {
    formats::appendLe(out, value, 4);
}

char16_t foldAscii(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
}

bool startsWithFolded(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char16_t a, char16_t b) { return foldAscii(a) == foldAscii(b); });
}

std::vector<std::u16string> splitList(std::u16string_view list) {
    std::vector<std::u16string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(u';', start), list.size());
        if (end > start) {
            names.emplace_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

}  // namespace

PolicyFile readPolicyFile(std::string_view bytes) {
    PolicyFile file;
    Cursor in(bytes);
    const auto signature = in.take(4);
    const auto version = in.number();
    if (!signature || *signature != kSignature) {
        file.damage = "not a Registry.pol file: it does not begin with \"PReg\"";
        return file;
    }
    if (!version || *version != kVersion) {
        file.damage = "unknown Registry.pol version " +
                      (version ? std::to_string(*version) : std::string("(cut off)"));
        return file;
    }
    while (!in.atEnd()) {
        const std::size_t start = in.offset();
        PolicyRecord record;
        if (const auto read = readRecord(in, record); !read) {
            file.damage =
                "damaged record at byte " + std::to_string(start) + ": " + read.failure().reason;
            return file;
        }
        file.records.push_back(std::move(record));
    }
    return file;
}

std::string writePolicyFile(const std::vector<PolicyRecord>& records) {
    std::string out(kSignature);
    out.reserve(kHeaderSize + records.size() * 128);
    appendNumber(out, kVersion);
    for (const PolicyRecord& record : records) {
        appendUnits(out, u"[");
        appendUnits(out, record.key);
        appendUnits(out, std::u16string_view(u"\0;", 2));
        appendUnits(out, record.value);
        appendUnits(out, std::u16string_view(u"\0;", 2));
        appendNumber(out, record.type);
        appendUnits(out, u";");
        appendNumber(out, static_cast<std::uint32_t>(record.data.size()));
        appendUnits(out, u";");
        out += record.data;
        appendUnits(out, u"]");
    }
    return out;
}

std::u16string recordText(const PolicyRecord& record) {
    std::u16string text = formats::utf16Units(record.data);
    while (!text.empty() && text.back() == u'\0') {
        text.pop_back();
    }
    return text;
}

PolicyEffect effectOf(const PolicyRecord& record) {
    using Action = PolicyEffect::Action;
    const std::u16string_view value = record.value;
    if (startsWithFolded(value, u"**delvals.")) {
        return {Action::DeleteAllValues, {}};
    }
    if (startsWithFolded(value, u"**del.")) {
        return {Action::DeleteValue, {std::u16string(value.substr(6))}};
    }
    if (startsWithFolded(value, u"**soft.")) {
        return {Action::SetIfAbsent, {std::u16string(value.substr(7))}};
    }
    if (startsWithFolded(value, u"**DeleteValues")) {
        return {Action::DeleteValues, splitList(recordText(record))};
    }
    if (startsWithFolded(value, u"**DeleteKeys")) {
        return {Action::DeleteKeys, splitList(recordText(record))};
    }
    if (startsWithFolded(value, u"**")) {
        return {Action::Other, {}};
    }
    if (value.empty() && record.type == kRegNone && record.data.empty()) {
        return {Action::CreateKey, {}};
    }
    return {Action::SetValue, {std::u16string(value)}};
}

std::string normalisedKey(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            out += out.empty() ? "" : "\\";
            out += path.substr(start, end - start);
        }
        start = end + 1;
    }
    return out;
}

}  // namespace quorvane::diagnosis
