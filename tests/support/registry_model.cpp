#include "tests/support/registry_model.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "tests/support/registry_target.h"

namespace quorvane::testing::model {

using namespace platform;

namespace {

constexpr Status kBadPathname = 161;

// Pairs that differ in letter case only, so that names meet again in another spelling; natively
// beyond ASCII too (the narrow Win32 functions take the ANSI code page, not UTF-8).
const char* const kKeyNames[] = {"A",     "a",    "K b", "k B",
#ifndef _WIN32
                                 "Ärger", "äRGER"
#endif
};
const char* const kValueNames[] = {"",      "V",    "v", "x Y",
#ifndef _WIN32
                                   "Größe", "GRÖßE"
#endif
};
const char* const kModelKeySpellings[] = {kModelKey, "SOFTWARE\\quorvane\\MODEL"};
const std::uint32_t kAccesses[] = {kKeyRead, kKeyWrite,     kKeyQueryValue,      kKeySetValue,
                                   0x3F,     kKeyAllAccess, kKeyEnumerateSubKeys};
// And a type no registry names: a value may hold any.
const std::uint32_t kTypes[] = {kRegNone,  kRegSz,      kRegExpandSz, kRegBinary,
                                kRegDword, kRegMultiSz, kRegQword,    0x2004};
using Kind = Operation::Kind;
// Weighted: keys are made and opened, and values changed and read, more often than the rest.
const Kind kKinds[] = {
    Kind::Open,        Kind::Open,        Kind::Open,      Kind::Create,    Kind::Create,
    Kind::Create,      Kind::Create,      Kind::Close,     Kind::Set,       Kind::Set,
    Kind::Set,         Kind::Set,         Kind::Query,     Kind::Query,     Kind::Query,
    Kind::DeleteValue, Kind::DeleteValue, Kind::DeleteKey, Kind::DeleteKey, Kind::EnumKeys,
    Kind::EnumValues,  Kind::BeginBatch,  Kind::EndBatch,  Kind::EndBatch,  Kind::CheckStored};

template <class T, std::size_t N>
const T& drawn(const Pick& pick, const T (&items)[N]) {
    return items[pick(static_cast<int>(N))];
}

// Letters as Windows compares them: ASCII, and the capitals of Latin-1 (UTF-8 C3 80 to C3 9E,
// but for the sign of multiplication) as their small letters.
std::string folded(std::string text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0xC3 && next >= 0x80 && next <= 0x9E && next != 0x97) {
            text[++i] = static_cast<char>(next + 0x20);
        } else {
            text[i] = static_cast<char>(std::tolower(byte));
        }
    }
    return text;
}

std::string said(Status status) {
    return "status " + std::to_string(status);
}

// Windows' reading of a sub-key: empty names (doubled or final separators) count for nothing;
// a leading separator makes the path bad.
std::optional<std::vector<std::string>> namesOf(const std::string& subKey) {
    if (subKey.starts_with('\\')) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (std::size_t start = 0, end = 0; start <= subKey.size(); start = end + 1) {
        end = std::min(subKey.find('\\', start), subKey.size());
        if (end > start) {
            names.push_back(subKey.substr(start, end - start));
        }
    }
    return names;
}

// The model: a registry in memory that does what Windows does, keys and values found by their
// names without regard to case and keeping the spelling they were made with.
class Model final : public RegistryApi {
public:
    Status openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                   KeyHandle& result) override {
        return reach(parent, subKey, false, access, result);
    }
    Status createKey(KeyHandle parent, const std::string& subKey, KeyHandle& result) override {
        return reach(parent, subKey, true, kKeyAllAccess, result);
    }
    Status setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                    const std::uint8_t* data, std::uint32_t size) override {
        Node* node = nullptr;
        const Status status = find(key, kKeySetValue, node);
        if (status == kSuccess) {
            std::string bytes(reinterpret_cast<const char*>(data), size);
            // The NUL a text's count leaves out is stored all the same.
            if (isStringType(type) && size > 0 && bytes.back() != '\0') {
                bytes += '\0';
            }
            Value& value = node->values[folded(name)];
            value = {value.name.empty() ? name : value.name, type, bytes};
        }
        return status;
    }
    Status queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                      std::uint8_t* data, std::uint32_t* size) override {
        Node* node = nullptr;
        Status status = find(key, kKeyQueryValue, node);
        const auto value =
            status == kSuccess ? node->values.find(folded(name)) : Values::iterator();
        if (status != kSuccess || value == node->values.end()) {
            return status != kSuccess ? status : kFileNotFound;
        }
        const std::string& bytes = value->second.data;
        *type = value->second.type;
        status = data != nullptr && *size < bytes.size() ? kMoreData : kSuccess;
        if (data != nullptr && status == kSuccess) {
            std::copy(bytes.begin(), bytes.end(), data);
        }
        *size = static_cast<std::uint32_t>(bytes.size());
        return status;
    }
    Status deleteKey(KeyHandle key, const std::string& subKey) override {
        Node* node = nullptr;
        const Status status = find(key, 0, node);
        const std::vector<std::string> names = namesOf(subKey).value_or(std::vector<std::string>{});
        if (status != kSuccess || names.empty()) {
            return status != kSuccess ? status : kBadPathname;
        }
        for (std::size_t i = 0; i + 1 < names.size() && node != nullptr; ++i) {
            node = child(*node, names[i]);
        }
        Node* leaf = node != nullptr ? child(*node, names.back()) : nullptr;
        if (leaf == nullptr || !leaf->children.empty()) {
            return leaf == nullptr ? kFileNotFound : kAccessDenied;
        }
        leaf->deleted = true;
        node->children.erase(folded(names.back()));
        return kSuccess;
    }
    Status deleteValue(KeyHandle key, const std::string& name) override {
        Node* node = nullptr;
        const Status status = find(key, kKeySetValue, node);
        return status != kSuccess                      ? status
               : node->values.erase(folded(name)) == 1 ? kSuccess
                                                       : kFileNotFound;
    }
    Status closeKey(KeyHandle key) override {
        return isPredefinedRoot(key) || handles_.erase(key) == 1 ? kSuccess : kInvalidHandle;
    }
    Status enumKey(KeyHandle key, std::uint32_t index, std::string& name) override {
        Node* node = nullptr;
        const Status status = find(key, kKeyEnumerateSubKeys, node);
        if (status != kSuccess || index >= node->children.size()) {
            return status != kSuccess ? status : kNoMoreItems;
        }
        name = std::next(node->children.begin(), index)->second.name;
        return kSuccess;
    }
    Status enumValue(KeyHandle key, std::uint32_t index, std::string& name, std::uint32_t& type,
                     std::string& data) override {
        Node* node = nullptr;
        const Status status = find(key, kKeyQueryValue, node);
        if (status != kSuccess || index >= node->values.size()) {
            return status != kSuccess ? status : kNoMoreItems;
        }
        const Value& value = std::next(node->values.begin(), index)->second;
        name = value.name;
        type = value.type;
        data = value.data;
        return kSuccess;
    }

    // Whether creating `subKey` below `parent` makes a key through a handle without the right
    // to: Windows refuses it, as the hive store does, while Wine's registry makes the key.
    bool createsWithoutTheRight(KeyHandle parent, const std::string& subKey) {
        Node* node = nullptr;
        if (find(parent, 0, node) != kSuccess || isPredefinedRoot(parent) ||
            (handles_.at(parent).access & kKeyCreateSubKey) != 0) {
            return false;
        }
        for (const std::string& name : namesOf(subKey).value_or(std::vector<std::string>{})) {
            if ((node = child(*node, name)) == nullptr) {
                return true;
            }
        }
        return false;
    }

private:
    struct Value {
        std::string name;
        std::uint32_t type = 0;
        std::string data;
    };
    using Values = std::map<std::string, Value>;
    struct Node {
        struct Child {
            std::string name;
            std::shared_ptr<Node> node;
        };
        std::map<std::string, Child> children;
        Values values;
        bool deleted = false;
    };
    struct Handle {
        std::shared_ptr<Node> node;
        std::uint32_t access = 0;
    };

    static Node* child(Node& node, const std::string& name) {
        const auto found = node.children.find(folded(name));
        return found == node.children.end() ? nullptr : found->second.node.get();
    }

    // The key behind a handle that has `right`.
    Status find(KeyHandle key, std::uint32_t right, Node*& node) {
        if (key == kCurrentUser || key == kLocalMachine) {
            node = roots_[key == kCurrentUser ? 0 : 1].get();
            return kSuccess;
        }
        const auto handle = handles_.find(key);
        if (handle == handles_.end()) {
            return kInvalidHandle;
        }
        node = handle->second.node.get();
        return node->deleted                                        ? kKeyDeleted
               : right != 0 && (handle->second.access & right) == 0 ? kAccessDenied
                                                                    : kSuccess;
    }

    Status reach(KeyHandle parent, const std::string& subKey, bool create, std::uint32_t access,
                 KeyHandle& result) {
        Node* node = nullptr;
        const Status status = find(parent, 0, node);
        const auto names = namesOf(subKey);
        if (status != kSuccess || !names) {
            return status != kSuccess ? status : kBadPathname;
        }
        std::shared_ptr<Node> reached = isPredefinedRoot(parent)
                                            ? roots_[parent == kCurrentUser ? 0 : 1]
                                            : handles_.at(parent).node;
        for (const std::string& name : *names) {
            auto found = reached->children.find(folded(name));
            if (found == reached->children.end()) {
                if (!create) {
                    return kFileNotFound;
                }
                found = reached->children
                            .emplace(folded(name), Node::Child{name, std::make_shared<Node>()})
                            .first;
            }
            reached = found->second.node;
        }
        result = ++lastHandle_;
        handles_[result] = {reached, access};
        return kSuccess;
    }

    std::shared_ptr<Node> roots_[2] = {std::make_shared<Node>(), std::make_shared<Node>()};
    std::map<KeyHandle, Handle> handles_;
    KeyHandle lastHandle_ = 0x1000;
};

KeyHandle rootOf(int base) {
    return base == kUserRoot ? kCurrentUser : kLocalMachine;
}

// One registry as the operations see it: its handles in the slots.
struct Side {
    RegistryApi& registry;
    KeyHandle handles[kSlots] = {};
    bool open[kSlots] = {};

    KeyHandle handle(int base) const { return base >= 0 ? handles[base] : rootOf(base); }

    // What the operation gives, in words that compare across registries.
    std::string run(const Operation& op) {
        const KeyHandle key = handle(op.slot);
        switch (op.kind) {
            case Kind::Open:
            case Kind::Create: {
                KeyHandle opened = 0;
                const Status status =
                    op.kind == Kind::Open
                        ? registry.openKey(handle(op.base), op.subKey, op.access, opened)
                        : registry.createKey(handle(op.base), op.subKey, opened);
                if (status == kSuccess) {
                    if (open[op.slot]) {
                        registry.closeKey(handles[op.slot]);
                    }
                    handles[op.slot] = opened;
                    open[op.slot] = true;
                }
                return said(status);
            }
            case Kind::Close:
                // The base: a slot, or a root, which never really closes.
                if (op.base >= 0) {
                    open[op.base] = false;
                }
                return said(registry.closeKey(handle(op.base)));
            case Kind::Set: {
#ifdef _WIN32
                // Windows reads the byte after a text whose count leaves out its NUL.
                const std::string& data = op.data;
#else
                // A buffer of the size given, so that the sanitizer build catches a read past it.
                const std::vector<char> data(op.data.begin(), op.data.end());
#endif
                return said(registry.setValue(key, op.name, op.type,
                                              reinterpret_cast<const std::uint8_t*>(data.data()),
                                              static_cast<std::uint32_t>(data.size())));
            }
            case Kind::Query:
                return query(key, op);
            case Kind::DeleteValue:
                return said(registry.deleteValue(key, op.name));
            case Kind::DeleteKey:
                return said(registry.deleteKey(handle(op.base), op.subKey));
            case Kind::EnumKeys:
            case Kind::EnumValues:
                return list(key, op.kind == Kind::EnumKeys);
            case Kind::BeginBatch:
                registry.beginBatch();
                return "";
            case Kind::EndBatch: {
                const StoreFailures lost = registry.endBatch();
                return lost.empty() ? "nothing lost" : lost.front().reason;
            }
            case Kind::CheckStored:
                return "";
        }
        return "";
    }

    // The size first, then the data into a buffer of that size or a byte short of it.
    std::string query(KeyHandle key, const Operation& op) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        Status status = registry.queryValue(key, op.name, &type, nullptr, &size);
        if (status != kSuccess || op.buffer == Operation::Buffer::SizeOnly) {
            return status != kSuccess ? said(status)
                                      : said(status) + " type " + std::to_string(type) + " size " +
                                            std::to_string(size);
        }
        const std::uint32_t needed = size;
        std::string data(needed, '\xCC');
        size = op.buffer == Operation::Buffer::Short && needed > 0 ? needed - 1 : needed;
        status = registry.queryValue(key, op.name, &type,
                                     reinterpret_cast<std::uint8_t*>(data.data()), &size);
        const bool untouched = data == std::string(needed, '\xCC');
        return said(status) + " type " + std::to_string(type) + " size " + std::to_string(size) +
               (status == kSuccess ? " data" + hexBytes(data.substr(0, size))
                : untouched        ? " buffer untouched"
                                   : " buffer written");
    }

    // Every sub-key or every value, by index, in the order of their folded names.
    std::string list(KeyHandle key, bool keys) {
        std::map<std::string, std::string> listed;
        std::string name;
        std::string data;
        std::uint32_t type = 0;
        std::uint32_t index = 0;
        Status status = kSuccess;
        while ((status = keys ? registry.enumKey(key, index, name)
                              : registry.enumValue(key, index, name, type, data)) == kSuccess) {
            listed[folded(name)] =
                " \"" + name + "\"" +
                (keys ? "" : " type " + std::to_string(type) + ":" + hexBytes(data));
            ++index;
        }
        std::string out = said(index == 0 ? status : kSuccess);
        for (const auto& [key, line] : listed) {
            out += line;
        }
        return out + " then " + std::to_string(status);
    }
};

}  // namespace

// Listed in the order of their folded names, names that fold alike side by side: a registry
// that holds one name twice shows it twice.
std::string listTree(RegistryApi& registry, KeyHandle root, const std::string& path) {
    KeyHandle key = 0;
    const Status opened = registry.openKey(root, path, kKeyRead, key);
    if (opened != kSuccess) {
        return "[" + path + "] cannot be opened: " + said(opened) + "\n";
    }
    std::multimap<std::string, std::string> values;
    std::multimap<std::string, std::string> children;
    std::string name;
    std::string data;
    std::uint32_t type = 0;
    for (std::uint32_t i = 0; registry.enumValue(key, i, name, type, data) == kSuccess; ++i) {
        values.emplace(folded(name),
                       "  \"" + name + "\" type " + std::to_string(type) + ":" + hexBytes(data));
    }
    for (std::uint32_t i = 0; registry.enumKey(key, i, name) == kSuccess; ++i) {
        children.emplace(folded(name), name);
    }
    registry.closeKey(key);
    std::string out = "[" + path + "]\n";
    for (const auto& [key, line] : values) {
        out += line + "\n";
    }
    for (const auto& [key, child] : children) {
        out += listTree(registry, root, path + "\\" + child);
    }
    return out;
}

// Every field, whichever the operation uses: "set slot 1 from HKCU "A\\b" 0x20019 "V" 1: 61 00".
std::string Operation::describe() const {
    static const char* const kNames[] = {
        "open",       "create",    "close",       "set",         "query",     "delete value",
        "delete key", "list keys", "list values", "begin batch", "end batch", "check stored"};
    static const char* const kBuffers[] = {"size only", "exact buffer", "short buffer"};
    char rights[16];
    std::snprintf(rights, sizeof rights, "0x%x", static_cast<unsigned>(access));
    return std::string(kNames[static_cast<int>(kind)]) + " slot " + std::to_string(slot) +
           " from " +
           (base >= 0           ? "slot " + std::to_string(base)
            : base == kUserRoot ? "HKCU"
                                : "HKLM") +
           " \"" + subKey + "\" " + rights + " \"" + name + "\" " + std::to_string(type) + ":" +
           hexBytes(data) + ", " + kBuffers[static_cast<int>(buffer)];
}

Operation drawOperation(const Pick& pick) {
    Operation op;
    op.kind = drawn(pick, kKinds);
    op.slot = pick(kSlots);
    const bool fromRoot = pick(2) == 0;
    op.base = fromRoot ? (pick(2) == 0 ? kUserRoot : kMachineRoot) : pick(kSlots);
    // From a root every path lies below the model's key; from a handle it may be empty (the key
    // itself) for an open. Create and delete name one key at least. Separators come doubled
    // and at the end now and then, and for an open, now and then before the path.
    const int least = op.kind == Kind::Open ? 0 : 1;
    const int parts = least + pick(3 - least);
    op.subKey = fromRoot ? drawn(pick, kModelKeySpellings) : "";
    for (int i = 0; i < parts; ++i) {
        op.subKey += op.subKey.empty() ? "" : pick(4) == 0 ? "\\\\" : "\\";
        op.subKey += drawn(pick, kKeyNames);
    }
    op.subKey += parts > 0 && pick(4) == 0 ? "\\" : "";
    op.subKey.insert(0, op.kind == Kind::Open && pick(10) == 0 ? "\\" : "");
    op.access = drawn(pick, kAccesses);
    op.name = drawn(pick, kValueNames);
    op.type = drawn(pick, kTypes);
    // Short data mostly, long now and then; texts stay ASCII, which the narrow functions of
    // every registry pass unchanged.
    const int length = pick(5) == 0 ? pick(300) : pick(9);
    for (int i = 0; i < length; ++i) {
        op.data += static_cast<char>(isStringType(op.type) ? (pick(12) == 0 ? 0 : 32 + pick(95))
                                                           : pick(256));
    }
    op.data += isStringType(op.type) && pick(2) == 0 ? std::string(1, '\0') : "";
    op.buffer = static_cast<Operation::Buffer>(pick(3));
    return op;
}

std::optional<std::string> differencesFromModel(
    RegistryApi& registry, const std::vector<Operation>& operations,
    const std::function<std::unique_ptr<RegistryApi>()>& reopen) {
    Model model;
    Side sides[2] = {{registry}, {model}};
    // Each slot starts with a handle to the model's key, in one hive or the other.
    for (Side& side : sides) {
        for (int slot = 0; slot < kSlots; ++slot) {
            side.open[slot] =
                side.registry.createKey(rootOf(slot % 2 == 0 ? kUserRoot : kMachineRoot), kModelKey,
                                        side.handles[slot]) == kSuccess;
        }
    }
    // A closed slot whose number a live handle has now is left alone.
    const auto reused = [&](int slot) {
        const Side& real = sides[0];
        bool reused = false;
        for (int other = 0; slot >= 0 && !real.open[slot] && other < kSlots; ++other) {
            reused = reused || (real.open[other] && real.handles[other] == real.handles[slot]);
        }
        return reused;
    };
    int depth = 0;
    std::string steps;
    std::optional<std::string> difference;
    for (std::size_t i = 0; i < operations.size() && !difference; ++i) {
        const Operation& op = operations[i];
        const bool leftOut = reused(op.slot) || reused(op.base) ||
                             (op.kind == Kind::EndBatch && depth == 0) ||
                             (op.kind == Kind::CheckStored && (depth > 0 || !reopen)) ||
                             (op.kind == Kind::Create &&
                              model.createsWithoutTheRight(sides[1].handle(op.base), op.subKey));
        steps += std::to_string(i) + ": " + op.describe() + (leftOut ? " (left out)\n" : "\n");
        if (leftOut) {
            continue;
        }
        depth += op.kind == Kind::BeginBatch ? 1 : op.kind == Kind::EndBatch ? -1 : 0;
        std::string outcomes[2];
        for (int side = 0; side < 2; ++side) {
            outcomes[side] = sides[side].run(op);
            if (op.kind == Kind::CheckStored) {
                const std::unique_ptr<RegistryApi> stored = side == 0 ? reopen() : nullptr;
                RegistryApi& listed = side == 0 ? *stored : model;
                // A drawn key first, in the spelling drawn, then the whole: a reader that loads
                // what it is asked for loads a key alone, then what holds it.
                if (op.base < 0) {
                    outcomes[side] += listTree(listed, rootOf(op.base), op.subKey);
                }
                outcomes[side] += listTree(listed, kCurrentUser, kModelKey);
                outcomes[side] += listTree(listed, kLocalMachine, kModelKey);
            }
        }
        if (outcomes[0] != outcomes[1]) {
            difference = steps + "gave:\n" + outcomes[0] + "\nthe model says:\n" + outcomes[1];
        }
    }
    for (Side& side : sides) {
        for (int slot = 0; slot < kSlots; ++slot) {
            if (side.open[slot]) {
                side.registry.closeKey(side.handles[slot]);
            }
        }
    }
    while (depth-- > 0) {
        static_cast<void>(registry.endBatch());
    }
    return difference;
}

}  // namespace quorvane::testing::model
