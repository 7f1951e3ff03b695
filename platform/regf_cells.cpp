#include "platform/regf_cells.h"

#include <algorithm>

#include "formats/utf16.h"
#include "platform/regf_header.h"

namespace quorvane::platform::regf {

namespace {

constexpr std::uint64_t kFirstBin = 0x1000;
constexpr std::uint32_t kNone = 0xFFFFFFFF;

// Offsets within a key's record (nk), counted from its cell's start.
constexpr std::uint32_t kKeyFlags = 0x06;
constexpr std::uint32_t kKeySubKeyCount = 0x18;
constexpr std::uint32_t kKeySubKeyList = 0x20;
constexpr std::uint32_t kKeyValueCount = 0x28;
constexpr std::uint32_t kKeyValueList = 0x2C;
constexpr std::uint32_t kKeySecurity = 0x30;
constexpr std::uint32_t kKeyClass = 0x34;
constexpr std::uint32_t kKeyNameLength = 0x4C;
constexpr std::uint32_t kKeyName = 0x50;
// ... within a value's record (vk).
constexpr std::uint32_t kValueNameLength = 0x06;
constexpr std::uint32_t kValueDataLength = 0x08;
constexpr std::uint32_t kValueData = 0x0C;
constexpr std::uint32_t kValueFlags = 0x14;
constexpr std::uint32_t kValueName = 0x18;
constexpr std::uint32_t kInlineData = 0x80000000;
// ... within a list: its count, then its entries.
constexpr std::uint32_t kListCount = 0x06;
constexpr std::uint32_t kListEntries = 0x08;

std::string latin1ToUtf8(std::string_view bytes) {
    std::u16string units(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        units[i] = static_cast<unsigned char>(bytes[i]);
    }
    return formats::utf16ToUtf8(units);
}

// Whether a name stored as UTF-16LE decodes: whole units, every surrogate in a pair.
bool decodable(std::string_view utf16) {
    if (utf16.size() % 2 != 0) {
        return false;
    }
    bool high = false;  // the unit before was a high surrogate
    for (std::size_t i = 0; i < utf16.size(); i += 2) {
        const unsigned unit =
            static_cast<unsigned char>(utf16[i]) | static_cast<unsigned char>(utf16[i + 1]) << 8;
        const bool isHigh = unit >= 0xD800 && unit <= 0xDBFF;
        const bool isLow = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high != isLow) {
            return false;
        }
        high = isHigh;
    }
    return !high;
}

}  // namespace

Cells::Cells(std::string_view bytes) : bytes_(bytes), starts_(bytes.size() / 256 + 1, 0) {
    if (bytes.size() < kBaseBlockSize + 0x20) {
        return;
    }
    root_ = static_cast<std::uint32_t>(readUint32(bytes, 0x24) + kFirstBin);
    minorVersion_ = readUint32(bytes, 0x18);
    const std::uint64_t endOfBins = std::uint64_t{readUint32(bytes, 0x28)} + kFirstBin;
    std::uint64_t bin = kFirstBin;
    while (bin + 0x20 <= bytes.size() && bin < endOfBins) {
        const std::uint32_t binSize = u32(bin + 8);
        if (bytes.substr(bin, 4) != "hbin" || binSize <= 0x20 || (binSize & 0xFFF) != 0 ||
            bin + binSize > bytes.size() || u32(bin + 4) + kFirstBin != bin) {
            break;  // hivex refuses such a hive when it opens it
        }
        bins_.push_back(bin);
        bin += binSize;
    }
    bins_.push_back(bin);
    scanned_.assign(bins_.size() - 1, false);
}

void Cells::scanBinOf(std::uint64_t offset) const {
    const auto after = std::upper_bound(bins_.begin(), bins_.end(), offset);
    if (after == bins_.begin() || after == bins_.end()) {
        return;  // outside every bin
    }
    const auto index = static_cast<std::size_t>(after - bins_.begin()) - 1;
    if (scanned_[index]) {
        return;
    }
    scanned_[index] = true;
    const std::uint64_t end = *after;
    for (std::uint64_t cell = bins_[index] + 0x20; cell + 4 <= end;) {
        const auto raw = static_cast<std::int32_t>(u32(cell));
        const std::uint64_t size = raw < 0 ? -static_cast<std::int64_t>(raw) : raw;
        if (size <= 4 || (size & 3) != 0) {
            break;
        }
        if (raw < 0) {
            starts_[cell / 256] |= std::uint64_t{1} << ((cell / 4) % 64);
        }
        cell += size;
    }
}

std::uint32_t Cells::u32(std::uint64_t offset) const {
    return offset + 4 <= bytes_.size() ? readUint32(bytes_, offset) : 0;
}

std::uint16_t Cells::u16(std::uint64_t offset) const {
    if (offset + 2 > bytes_.size()) {
        return 0;
    }
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes_[offset]) |
                                      static_cast<unsigned char>(bytes_[offset + 1]) << 8);
}

bool Cells::isCell(std::uint64_t offset) const {
    if ((offset & 3) != 0 || offset < kFirstBin || offset >= bytes_.size()) {
        return false;
    }
    scanBinOf(offset);
    return (starts_[offset / 256] >> ((offset / 4) % 64) & 1) != 0;
}

// The bytes a used cell holds, its size field included, and no more than the file holds.
std::uint32_t Cells::cellSize(std::uint32_t offset) const {
    const auto size = static_cast<std::uint64_t>(
        -static_cast<std::int64_t>(static_cast<std::int32_t>(u32(offset))));
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, bytes_.size() - offset));
}

bool Cells::hasId(std::uint32_t offset, std::string_view id) const {
    return cellSize(offset) >= 6 && bytes_.substr(offset + 4, 2) == id;
}

std::string Cells::nodeDamage(std::uint32_t node) const {
    if (!isCell(node) || !hasId(node, "nk")) {
        return "its record is not a key's";
    }
    const std::uint32_t length = u16(node + kKeyNameLength);
    if (kKeyName + length > cellSize(node)) {
        return "its name runs past its record";
    }
    if ((u16(node + kKeyFlags) & 0x20) == 0 && !decodable(bytes_.substr(node + kKeyName, length))) {
        return "its name is not UTF-16";
    }
    return {};
}

std::string Cells::listDamage(std::uint32_t node, std::vector<std::uint32_t>* children) const {
    const std::uint32_t count = u32(node + kKeySubKeyCount);
    if (count == 0) {
        return {};
    }
    const std::uint64_t top = std::uint64_t{u32(node + kKeySubKeyList)} + kFirstBin;
    if (!isCell(top)) {
        return "its list of sub-keys lies outside the hive";
    }
    std::vector<std::uint32_t> leaves;
    if (hasId(static_cast<std::uint32_t>(top), "ri")) {
        const std::uint32_t parts = u16(top + kListCount);
        if (kListEntries + 4 * std::uint64_t{parts} > cellSize(static_cast<std::uint32_t>(top))) {
            return "its list of sub-keys runs past its cell";
        }
        for (std::uint32_t i = 0; i < parts; ++i) {
            const std::uint64_t leaf = std::uint64_t{u32(top + kListEntries + 4 * i)} + kFirstBin;
            if (!isCell(leaf)) {
                return "a part of its list of sub-keys lies outside the hive";
            }
            leaves.push_back(static_cast<std::uint32_t>(leaf));
        }
    } else {
        leaves.push_back(static_cast<std::uint32_t>(top));
    }
    std::uint64_t found = 0;
    for (const std::uint32_t leaf : leaves) {
        if (!hasId(leaf, "lf") && !hasId(leaf, "lh")) {
            return "its list of sub-keys is not of a kind hivex reads";
        }
        const std::uint32_t entries = u16(leaf + kListCount);
        if (kListEntries + 8 * std::uint64_t{entries} > cellSize(leaf)) {
            return "its list of sub-keys runs past its cell";
        }
        for (std::uint32_t i = 0; i < entries; ++i) {
            const std::uint64_t child = std::uint64_t{u32(leaf + kListEntries + 8 * i)} + kFirstBin;
            if (child == node) {
                return "it lists itself among its sub-keys";
            }
            if (child > 0xFFFFFFFF || !nodeDamage(static_cast<std::uint32_t>(child)).empty()) {
                return "its list of sub-keys names a record that is not a key";
            }
            if (children != nullptr) {
                children->push_back(static_cast<std::uint32_t>(child));
            }
        }
        found += entries;
    }
    if (found != count) {
        return "it counts " + std::to_string(count) + " sub-keys but its lists hold " +
               std::to_string(found);
    }
    return {};
}

std::string Cells::valueListDamage(std::uint32_t node, std::vector<std::uint32_t>* values) const {
    const std::uint32_t count = u32(node + kKeyValueCount);
    if (count == 0) {
        return {};
    }
    const std::uint64_t list = std::uint64_t{u32(node + kKeyValueList)} + kFirstBin;
    if (!isCell(list)) {
        return "its value list lies outside the hive";
    }
    if (4 + 4 * std::uint64_t{count} > cellSize(static_cast<std::uint32_t>(list))) {
        return "its value list runs past its cell";
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t value = std::uint64_t{u32(list + 4 + 4 * i)} + kFirstBin;
        const auto at = static_cast<std::uint32_t>(value);
        if (value > 0xFFFFFFFF || !isCell(value) || !hasId(at, "vk") ||
            kValueName + std::uint32_t{u16(at + kValueNameLength)} > cellSize(at)) {
            return "its value list names a record that is not a value";
        }
        if ((u16(at + kValueFlags) & 0x01) == 0 &&
            !decodable(bytes_.substr(at + kValueName, u16(at + kValueNameLength)))) {
            return "the name of one of its values is not UTF-16";
        }
        if (values != nullptr) {
            values->push_back(at);
        }
    }
    return {};
}

std::string Cells::keyDamage(std::uint32_t node) const {
    if (std::string damage = nodeDamage(node); !damage.empty()) {
        return damage;
    }
    if (std::string damage = listDamage(node, nullptr); !damage.empty()) {
        return damage;
    }
    if (std::string damage = valueListDamage(node, nullptr); !damage.empty()) {
        return damage;
    }
    const std::uint64_t security = std::uint64_t{u32(node + kKeySecurity)} + kFirstBin;
    if (!isCell(security) || !hasId(static_cast<std::uint32_t>(security), "sk") ||
        cellSize(static_cast<std::uint32_t>(security)) < 0x14 || u32(security + 0x10) == 0) {
        return "its security record is missing or damaged";
    }
    const std::uint32_t className = u32(node + kKeyClass);
    if (className != kNone && !isCell(std::uint64_t{className} + kFirstBin)) {
        return "its class name lies outside the hive";
    }
    return {};
}

std::string Cells::valueDamage(std::uint32_t value) const {
    if (!isCell(value) || !hasId(value, "vk") ||
        kValueName + std::uint32_t{u16(value + kValueNameLength)} > cellSize(value)) {
        return "its record is not a value's";
    }
    const std::uint32_t declared = u32(value + kValueDataLength);
    const std::uint32_t length = declared & ~kInlineData;
    if ((declared & kInlineData) != 0) {
        return length <= 4 ? std::string()
                           : "it says its data of " + std::to_string(length) +
                                 " bytes lies in its record, which holds 4";
    }
    const std::uint64_t data = std::uint64_t{u32(value + kValueData)} + kFirstBin;
    if (!isCell(data)) {
        return "its data lies outside the hive";
    }
    const auto at = static_cast<std::uint32_t>(data);
    if (std::uint64_t{length} + 4 <= cellSize(at)) {
        return {};
    }
    // Larger than its cell: a big-data record, a list of segments.
    if (!hasId(at, "db") || cellSize(at) < 0x0C) {
        return "its data of " + std::to_string(length) + " bytes does not fit its cell";
    }
    const std::uint32_t segments = u16(data + kListCount);
    const std::uint64_t list = std::uint64_t{u32(data + 8)} + kFirstBin;
    if (!isCell(list) ||
        4 + 4 * std::uint64_t{segments} > cellSize(static_cast<std::uint32_t>(list))) {
        return "the list of its data's segments is damaged";
    }
    std::uint64_t held = 0;
    for (std::uint32_t i = 0; i < segments; ++i) {
        const std::uint64_t segment = std::uint64_t{u32(list + 4 + 4 * i)} + kFirstBin;
        if (!isCell(segment) || cellSize(static_cast<std::uint32_t>(segment)) < 8) {
            return "a segment of its data lies outside the hive";
        }
        held += cellSize(static_cast<std::uint32_t>(segment)) - 8;
    }
    if (held < length) {
        return "its data's segments hold " + std::to_string(held) + " of its " +
               std::to_string(length) + " bytes";
    }
    return {};
}

bool Cells::heldInBigData(std::uint32_t value) const {
    const std::uint32_t declared = u32(value + kValueDataLength);
    return minorVersion_ >= 4 && (declared & kInlineData) == 0 && declared > kLargestValueInOneCell;
}

std::vector<std::uint32_t> Cells::children(std::uint32_t node) const {
    std::vector<std::uint32_t> found;
    listDamage(node, &found);
    return found;
}

std::vector<std::uint32_t> Cells::values(std::uint32_t node) const {
    std::vector<std::uint32_t> found;
    valueListDamage(node, &found);
    return found;
}

std::string Cells::keyName(std::uint32_t node) const {
    if (std::uint64_t{node} + kKeyName > bytes_.size()) {
        return {};
    }
    const std::string_view name = bytes_.substr(node + kKeyName, u16(node + kKeyNameLength));
    return (u16(node + kKeyFlags) & 0x20) != 0 ? latin1ToUtf8(name) : formats::utf16LeToUtf8(name);
}

std::string Cells::valueName(std::uint32_t value) const {
    if (std::uint64_t{value} + kValueName > bytes_.size()) {
        return {};
    }
    const std::string_view name = bytes_.substr(value + kValueName, u16(value + kValueNameLength));
    return (u16(value + kValueFlags) & 0x01) != 0 ? latin1ToUtf8(name)
                                                  : formats::utf16LeToUtf8(name);
}

Cells::Survey Cells::survey() const {
    Survey survey;
    struct Visit {
        std::uint32_t node;
        std::size_t parent;  // index in `seen`, or npos for the root
        std::size_t depth;
    };
    std::vector<Visit> seen;
    std::vector<std::size_t> pending;
    std::vector<std::uint64_t> visited(starts_.size(), 0);
    const auto where = [&](std::size_t index) {
        std::vector<std::string> names;
        for (std::size_t i = index; seen[i].parent != std::string::npos; i = seen[i].parent) {
            names.push_back(keyName(seen[i].node));
        }
        std::string path;
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            path += (path.empty() ? "" : "\\") + *it;
        }
        return path;
    };
    const auto visit = [&](std::uint32_t node, std::size_t parent, std::size_t depth) {
        visited[node / 256] |= std::uint64_t{1} << ((node / 4) % 64);
        seen.push_back({node, parent, depth});
        pending.push_back(seen.size() - 1);
    };
    if (std::string damage = nodeDamage(root_); !damage.empty()) {
        survey.damage = "its root key: " + damage;
        return survey;
    }
    visit(root_, std::string::npos, 0);
    while (!pending.empty()) {
        const std::size_t index = pending.back();
        pending.pop_back();
        const Visit key = seen[index];
        ++survey.keys;
        const auto fail = [&](std::string damage) {
            survey.damage = std::move(damage);
            survey.where = where(index);
            return survey;
        };
        if (std::string damage = keyDamage(key.node); !damage.empty()) {
            return fail(std::move(damage));
        }
        for (const std::uint32_t value : values(key.node)) {
            if (std::string damage = valueDamage(value); !damage.empty()) {
                return fail("its value \"" + valueName(value) + "\": " + damage);
            }
            if (heldInBigData(value)) {
                survey.bigDataKeys.insert(key.node);
            }
        }
        for (const std::uint32_t child : children(key.node)) {
            if ((visited[child / 256] >> ((child / 4) % 64) & 1) != 0) {
                return fail("it lists the key \"" + keyName(child) +
                            "\", which is listed elsewhere too (a loop or a shared key)");
            }
            if (key.depth + 1 > kDeepestKey) {
                return fail("its keys nest deeper than Windows allows");
            }
            visit(child, index, key.depth + 1);
        }
    }
    return survey;
}

}  // namespace quorvane::platform::regf
