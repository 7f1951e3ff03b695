#include "tests/support/registry_model.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>

namespace quorvane::testing::model {

using namespace platform;

namespace {

constexpr Status kBadPathname = 161;

// Pairs that differ in letter case only, so that names meet again in another spelling.
const char* const kKeyNames[] = {"A", "a", "K b", "k B"};
const char* const kValueNames[] = {"", "V", "v", "x Y"};
const char* const kModelKeySpellings[] = {kModelKey, "SOFTWARE\\quorvane\\MODEL"};
const std::uint32_t kAccesses[] = {kKeyRead, kKeyWrite,     kKeyQueryValue,      kKeySetValue,
                                   0x3F,     kKeyAllAccess, kKeyEnumerateSubKeys};
const std::uint32_t kTypes[] = {kRegNone,  kRegSz,      kRegExpandSz, kRegBinary,
                                kRegDword, kRegMultiSz, kRegQword};
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

std::string folded(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string hex(const std::string& bytes) {
    std::string out;
    for (unsigned char byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, " %02x", byte);
        out += digits;
    }
    return out;
}

// `parts` key names below `start`, joined as callers may write them: separators doubled, a
// separator at the end.
std::string drawPath(const Pick& pick, std::string start, int parts) {
    for (int i = 0; i < parts; ++i) {
        if (!start.empty()) {
            start += pick(4) == 0 ? "\\\\" : "\\";
        }
        start += drawn(pick, kKeyNames);
    }
    return parts > 0 && pick(4) == 0 ? start + "\\" : start;
}

std::string drawData(const Pick& pick, std::uint32_t type) {
    const int length = pick(5) == 0 ? pick(300) : pick(9);
    std::string data;
    for (int i = 0; i < length; ++i) {
        // Strings stay ASCII, which the narrow functions of every registry pass unchanged.
        data +=
            static_cast<char>(isStringType(type) ? (pick(12) == 0 ? 0 : 32 + pick(95)) : pick(256));
    }
    if (isStringType(type) && pick(2) == 0) {
        data += '\0';
    }
    return data;
}

// The in-memory registry: keys by folded name, each keeping the spelling it was made with.
struct Node {
    struct Child {
        std::string name;
        std::shared_ptr<Node> node;
    };
    struct Value {
        std::string name;
        std::uint32_t type;
        std::string data;
    };
    std::map<std::string, Child> children;
    std::map<std::string, Value> values;
    bool deleted = false;

    void listInto(std::string& out, const std::string& path) const {
        out += "[" + path + "]\n";
        for (const auto& [key, value] : values) {
            out += "  \"" + value.name + "\" type " + std::to_string(value.type) + ":" +
                   hex(value.data) + "\n";
        }
        for (const auto& [key, child] : children) {
            child.node->listInto(out, path + "\\" + child.name);
        }
    }
};

// Where a base leads: a status when it leads nowhere.
struct Base {
    Status status = kSuccess;
    std::shared_ptr<Node> node;
    std::uint32_t access = kKeyAllAccess;
};

// Windows' reading of a sub-key: empty names (doubled or final separators) count for nothing;
// a leading separator makes the path bad.
std::optional<std::vector<std::string>> namesOf(const std::string& subKey) {
    if (subKey.starts_with('\\')) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= subKey.size()) {
        const std::size_t end = std::min(subKey.find('\\', start), subKey.size());
        if (end > start) {
            names.push_back(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

std::vector<std::string> modelKeyNames() {
    return namesOf(kModelKey).value();
}

class Runner {
public:
    Runner(RegistryApi& registry, const std::function<std::unique_ptr<RegistryApi>()>& reopen)
        : registry_(registry), reopen_(reopen) {
        for (int root = 0; root < 2; ++root) {
            roots_[root] = std::make_shared<Node>();
            std::shared_ptr<Node> node = roots_[root];
            for (const std::string& name : modelKeyNames()) {
                auto& child = node->children[folded(name)];
                child = {name, std::make_shared<Node>()};
                node = child.node;
            }
        }
        // Each slot starts with a handle to the model's key, in one hive or the other.
        for (int slot = 0; slot < kSlots; ++slot) {
            if (registry_.createKey(rootHandle(slot % 2), kModelKey, handles_[slot]) == kSuccess) {
                slots_[slot] = {modelKey(roots_[slot % 2]), kKeyAllAccess, true};
            }
        }
    }

    ~Runner() {
        for (int slot = 0; slot < kSlots; ++slot) {
            if (slots_[slot].open) {
                registry_.closeKey(handles_[slot]);
            }
        }
        while (depth_-- > 0) {
            static_cast<void>(registry_.endBatch());
        }
    }

    // What the operation gave and what the model says it should have; nothing when it is left
    // out (a handle number that a live handle now has, a batch end without a batch).
    std::optional<std::pair<std::string, std::string>> step(const Operation& op) {
        if (reused(op.slot) || (op.base >= 0 && reused(op.base)) ||
            (op.kind == Kind::EndBatch && depth_ == 0) ||
            (op.kind == Kind::CheckStored && (depth_ > 0 || !reopen_)) ||
            (op.kind == Kind::Create && createsWithoutTheRight(op))) {
            return std::nullopt;
        }
        // An open or create into a slot that holds a handle replaces it once it succeeded.
        const bool held = slots_[op.slot].open;
        const KeyHandle old = handles_[op.slot];
        const std::string expected = predict(op);
        std::string actual = run(op);
        if (held && handles_[op.slot] != old) {
            registry_.closeKey(old);
        }
        return std::pair(std::move(actual), expected);
    }

private:
    struct Slot {
        std::shared_ptr<Node> node;
        std::uint32_t access = 0;
        bool open = false;
    };

    static KeyHandle rootHandle(int root) { return root == 0 ? kCurrentUser : kLocalMachine; }
    KeyHandle handleOf(int base) const {
        return base >= 0 ? handles_[base] : rootHandle(base == kUserRoot ? 0 : 1);
    }

    bool reused(int slot) const {
        if (slots_[slot].open || handles_[slot] == 0) {
            return false;
        }
        for (int other = 0; other < kSlots; ++other) {
            if (slots_[other].open && handles_[other] == handles_[slot]) {
                return true;
            }
        }
        return false;
    }

    // A create that makes a key through a handle without the right to: Windows refuses it, as
    // the hive store does, while Wine's registry makes the key.
    bool createsWithoutTheRight(const Operation& op) const {
        const Base from = base(op.base);
        if (from.status != kSuccess || (from.access & kKeyCreateSubKey) != 0) {
            return false;
        }
        const Node* node = from.node.get();
        const std::vector<std::string> names = namesOf(op.subKey).value();
        for (const std::string& name : names) {
            const auto child = node->children.find(folded(name));
            if (child == node->children.end()) {
                return true;
            }
            node = child->second.node.get();
        }
        return false;
    }

    Base base(int which) const {
        if (which < 0) {
            return {kSuccess, roots_[which == kUserRoot ? 0 : 1]};
        }
        const Slot& slot = slots_[which];
        if (!slot.open) {
            return {kInvalidHandle, nullptr};
        }
        return {slot.node->deleted ? kKeyDeleted : kSuccess, slot.node, slot.access};
    }

    // The key a handle slot holds, when it holds one with `right`.
    Base key(int slot, std::uint32_t right) const {
        Base found = base(slot);
        if (found.status == kSuccess && (found.access & right) == 0) {
            found.status = kAccessDenied;
        }
        return found;
    }

    // The model's answer, in the words run() gives the registry's.
    std::string predict(const Operation& op) {
        switch (op.kind) {
            case Kind::Open:
            case Kind::Create: {
                const Base from = base(op.base);
                if (from.status != kSuccess) {
                    return status(from.status);
                }
                const auto names = namesOf(op.subKey);
                if (!names) {
                    return status(kBadPathname);
                }
                std::shared_ptr<Node> node = from.node;
                for (const std::string& name : *names) {
                    auto child = node->children.find(folded(name));
                    if (child == node->children.end()) {
                        if (op.kind == Kind::Open) {
                            return status(kFileNotFound);
                        }
                        if ((from.access & kKeyCreateSubKey) == 0) {
                            return status(kAccessDenied);
                        }
                        child =
                            node->children
                                .emplace(folded(name), Node::Child{name, std::make_shared<Node>()})
                                .first;
                    }
                    node = child->second.node;
                }
                slots_[op.slot] = {node, op.kind == Kind::Open ? op.access : kKeyAllAccess, true};
                return status(kSuccess);
            }
            case Kind::Close: {
                const bool open = slots_[op.slot].open;
                slots_[op.slot].open = false;
                return status(open ? kSuccess : kInvalidHandle);
            }
            case Kind::Set: {
                const Base found = key(op.slot, kKeySetValue);
                if (found.status == kSuccess) {
                    std::string data = op.data;
                    // Windows stores a text with the NUL its count leaves out.
                    if (isStringType(op.type) && !data.empty() && data.back() != '\0') {
                        data += '\0';
                    }
                    auto& value = found.node->values[folded(op.name)];
                    value = {value.name.empty() ? op.name : value.name, op.type, data};
                }
                return status(found.status);
            }
            case Kind::Query: {
                const Base found = key(op.slot, kKeyQueryValue);
                if (found.status != kSuccess) {
                    return status(found.status);
                }
                const auto value = found.node->values.find(folded(op.name));
                if (value == found.node->values.end()) {
                    return status(kFileNotFound);
                }
                return queried(value->second.type, value->second.data, op.buffer);
            }
            case Kind::DeleteValue: {
                const Base found = key(op.slot, kKeySetValue);
                if (found.status != kSuccess) {
                    return status(found.status);
                }
                return status(found.node->values.erase(folded(op.name)) == 1 ? kSuccess
                                                                             : kFileNotFound);
            }
            case Kind::DeleteKey: {
                const Base from = base(op.base);
                if (from.status != kSuccess) {
                    return status(from.status);
                }
                std::shared_ptr<Node> parent;
                std::shared_ptr<Node> node = from.node;
                std::string last;
                const std::vector<std::string> names = namesOf(op.subKey).value();
                for (const std::string& name : names) {
                    const auto child = node->children.find(folded(name));
                    if (child == node->children.end()) {
                        return status(kFileNotFound);
                    }
                    parent = node;
                    node = child->second.node;
                    last = child->first;
                }
                if (!node->children.empty()) {
                    return status(kAccessDenied);
                }
                node->deleted = true;
                parent->children.erase(last);
                return status(kSuccess);
            }
            case Kind::EnumKeys: {
                const Base found = key(op.slot, kKeyEnumerateSubKeys);
                if (found.status != kSuccess) {
                    return status(found.status);
                }
                std::string out = status(kSuccess);
                for (const auto& [name, child] : found.node->children) {
                    out += " \"" + child.name + "\"";
                }
                return out + " then " + std::to_string(kNoMoreItems);
            }
            case Kind::EnumValues: {
                const Base found = key(op.slot, kKeyQueryValue);
                if (found.status != kSuccess) {
                    return status(found.status);
                }
                std::string out = status(kSuccess);
                for (const auto& [name, value] : found.node->values) {
                    out += listedValue(value.name, value.type, value.data);
                }
                return out + " then " + std::to_string(kNoMoreItems);
            }
            case Kind::BeginBatch:
                ++depth_;
                return "";
            case Kind::EndBatch:
                --depth_;
                return "nothing lost";
            case Kind::CheckStored: {
                std::string out;
                for (int root = 0; root < 2; ++root) {
                    modelKey(roots_[root])->listInto(out, kModelKey);
                }
                return out;
            }
        }
        return "";
    }

    static std::shared_ptr<Node> modelKey(std::shared_ptr<Node> node) {
        for (const std::string& name : modelKeyNames()) {
            node = node->children.at(folded(name)).node;
        }
        return node;
    }

    // The registry's answer.
    std::string run(const Operation& op) {
        const KeyHandle handle = handleOf(op.slot);
        switch (op.kind) {
            case Kind::Open:
            case Kind::Create: {
                KeyHandle opened = 0;
                const Status result =
                    op.kind == Kind::Open
                        ? registry_.openKey(handleOf(op.base), op.subKey, op.access, opened)
                        : registry_.createKey(handleOf(op.base), op.subKey, opened);
                if (result == kSuccess) {
                    handles_[op.slot] = opened;
                }
                return status(result);
            }
            case Kind::Close:
                return status(registry_.closeKey(handle));
            case Kind::Set:
                return status(registry_.setValue(
                    handle, op.name, op.type, reinterpret_cast<const std::uint8_t*>(op.data.data()),
                    static_cast<std::uint32_t>(op.data.size())));
            case Kind::Query:
                return query(handle, op.name, op.buffer);
            case Kind::DeleteValue:
                return status(registry_.deleteValue(handle, op.name));
            case Kind::DeleteKey:
                return status(registry_.deleteKey(handleOf(op.base), op.subKey));
            case Kind::EnumKeys:
                return listKeys(registry_, handle);
            case Kind::EnumValues:
                return listValues(registry_, handle);
            case Kind::BeginBatch:
                registry_.beginBatch();
                return "";
            case Kind::EndBatch: {
                const StoreFailures lost = registry_.endBatch();
                return lost.empty() ? "nothing lost" : lost.front().reason;
            }
            case Kind::CheckStored: {
                const std::unique_ptr<RegistryApi> stored = reopen_();
                std::string out;
                for (int root = 0; root < 2; ++root) {
                    listTree(*stored, rootHandle(root), kModelKey, out);
                }
                return out;
            }
        }
        return "";
    }

    static std::string status(Status status) { return "status " + std::to_string(status); }

    static std::string listedValue(const std::string& name, std::uint32_t type,
                                   const std::string& data) {
        return " \"" + name + "\" type " + std::to_string(type) + ":" + hex(data);
    }

    static std::string queried(std::uint32_t type, const std::string& data,
                               Operation::Buffer buffer) {
        std::string out =
            status(buffer == Operation::Buffer::Short && !data.empty() ? kMoreData : kSuccess);
        out += " type " + std::to_string(type) + " size " + std::to_string(data.size());
        if (buffer == Operation::Buffer::Exact) {
            out += " data" + hex(data);
        }
        return buffer == Operation::Buffer::Short && !data.empty() ? out + " buffer untouched"
                                                                   : out;
    }

    std::string query(KeyHandle handle, const std::string& name, Operation::Buffer buffer) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        Status result = registry_.queryValue(handle, name, &type, nullptr, &size);
        if (result != kSuccess || buffer == Operation::Buffer::SizeOnly) {
            return result != kSuccess ? status(result)
                                      : queried(type, std::string(size, '?'), buffer);
        }
        const std::uint32_t needed = size;
        std::string data(needed, '\xCC');
        size = buffer == Operation::Buffer::Short && needed > 0 ? needed - 1 : needed;
        result = registry_.queryValue(handle, name, &type,
                                      reinterpret_cast<std::uint8_t*>(data.data()), &size);
        std::string out =
            status(result) + " type " + std::to_string(type) + " size " + std::to_string(size);
        if (buffer == Operation::Buffer::Exact) {
            return out + " data" + hex(data.substr(0, size));
        }
        return result == kMoreData && data == std::string(needed, '\xCC')
                   ? out + " buffer untouched"
                   : out;
    }

    static std::vector<std::pair<std::string, std::string>> keysOf(RegistryApi& registry,
                                                                   KeyHandle handle, Status& end) {
        std::vector<std::pair<std::string, std::string>> names;
        std::string name;
        std::uint32_t index = 0;
        while ((end = registry.enumKey(handle, index++, name)) == kSuccess) {
            names.emplace_back(folded(name), name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string listKeys(RegistryApi& registry, KeyHandle handle) {
        Status end = kSuccess;
        const auto names = keysOf(registry, handle, end);
        if (names.empty() && end != kNoMoreItems) {
            return status(end);
        }
        std::string out = status(kSuccess);
        for (const auto& [key, name] : names) {
            out += " \"" + name + "\"";
        }
        return out + " then " + std::to_string(end);
    }

    static std::string listValues(RegistryApi& registry, KeyHandle handle) {
        std::map<std::string, std::string> listed;
        std::string name;
        std::string data;
        std::uint32_t type = 0;
        std::uint32_t index = 0;
        Status end = kSuccess;
        while ((end = registry.enumValue(handle, index++, name, type, data)) == kSuccess) {
            listed[folded(name)] = listedValue(name, type, data);
        }
        if (index == 1 && end != kNoMoreItems) {
            return status(end);
        }
        std::string out = status(kSuccess);
        for (const auto& [key, line] : listed) {
            out += line;
        }
        return out + " then " + std::to_string(end);
    }

    // The key at `path` and everything below it, as Node::listInto writes the model's.
    static void listTree(RegistryApi& registry, KeyHandle root, const std::string& path,
                         std::string& out) {
        KeyHandle key = 0;
        if (registry.openKey(root, path, kKeyRead, key) != kSuccess) {
            out += "[" + path + "] cannot be opened\n";
            return;
        }
        out += "[" + path + "]\n";
        std::map<std::string, std::string> values;
        std::string name;
        std::string data;
        std::uint32_t type = 0;
        for (std::uint32_t i = 0; registry.enumValue(key, i, name, type, data) == kSuccess; ++i) {
            values[folded(name)] = " " + listedValue(name, type, data).substr(1) + "\n";
        }
        for (const auto& [folded, line] : values) {
            out += " " + line;
        }
        Status end = kSuccess;
        const auto children = keysOf(registry, key, end);
        registry.closeKey(key);
        for (const auto& [folded, child] : children) {
            listTree(registry, root, path + "\\" + child, out);
        }
    }

    RegistryApi& registry_;
    const std::function<std::unique_ptr<RegistryApi>()>& reopen_;
    std::shared_ptr<Node> roots_[2];
    Slot slots_[kSlots];
    KeyHandle handles_[kSlots] = {};
    int depth_ = 0;
};

}  // namespace

std::string Operation::describe() const {
    static const char* const kNames[] = {
        "open",       "create",    "close",       "set",         "query",     "delete value",
        "delete key", "list keys", "list values", "begin batch", "end batch", "check stored"};
    static const char* const kBuffers[] = {"size only", "exact buffer", "short buffer"};
    const auto where = [](int base) {
        return base >= 0 ? "slot " + std::to_string(base)
                         : std::string(base == kUserRoot ? "HKCU" : "HKLM");
    };
    std::string out = kNames[static_cast<int>(kind)];
    switch (kind) {
        case Kind::Open:
        case Kind::Create:
            out += " \"" + subKey + "\" from " + where(base) + " into slot " + std::to_string(slot);
            if (kind == Kind::Open) {
                char rights[16];
                std::snprintf(rights, sizeof rights, " 0x%x", static_cast<unsigned>(access));
                out += rights;
            }
            return out;
        case Kind::DeleteKey:
            return out + " \"" + subKey + "\" from " + where(base);
        case Kind::Set:
            return out + " \"" + name + "\" in slot " + std::to_string(slot) + " type " +
                   std::to_string(type) + ":" + hex(data);
        case Kind::Query:
            return out + " \"" + name + "\" in slot " + std::to_string(slot) + ", " +
                   kBuffers[static_cast<int>(buffer)];
        case Kind::DeleteValue:
            return out + " \"" + name + "\" in slot " + std::to_string(slot);
        case Kind::Close:
        case Kind::EnumKeys:
        case Kind::EnumValues:
            return out + " slot " + std::to_string(slot);
        default:
            return out;
    }
}

Operation drawOperation(const Pick& pick) {
    Operation op;
    op.kind = drawn(pick, kKinds);
    op.slot = pick(kSlots);
    const bool fromRoot = pick(2) == 0;
    op.base = fromRoot ? (pick(2) == 0 ? kUserRoot : kMachineRoot) : pick(kSlots);
    // From a root every path lies below the model's key; from a handle it may be empty (the key
    // itself) for an open. Create and delete name one key at least.
    const int least = op.kind == Kind::Open ? 0 : 1;
    op.subKey =
        drawPath(pick, fromRoot ? drawn(pick, kModelKeySpellings) : "", least + pick(3 - least));
    if (op.kind == Kind::Open && pick(10) == 0) {
        op.subKey.insert(0, "\\");
    }
    op.access = drawn(pick, kAccesses);
    op.name = drawn(pick, kValueNames);
    op.type = drawn(pick, kTypes);
    op.data = drawData(pick, op.type);
    op.buffer = static_cast<Operation::Buffer>(pick(3));
    return op;
}

std::ostream& operator<<(std::ostream& out, const Operation& op) {
    return out << op.describe();
}

std::optional<std::string> differencesFromModel(
    RegistryApi& registry, const std::vector<Operation>& operations,
    const std::function<std::unique_ptr<RegistryApi>()>& reopen) {
    Runner runner(registry, reopen);
    std::string steps;
    for (std::size_t i = 0; i < operations.size(); ++i) {
        const auto outcome = runner.step(operations[i]);
        steps += std::to_string(i) + ": " + operations[i].describe() +
                 (outcome ? "" : " (left out)") + "\n";
        if (outcome && outcome->first != outcome->second) {
            return steps + "gave:\n" + outcome->first + "\nthe model says:\n" + outcome->second;
        }
    }
    return std::nullopt;
}

}  // namespace quorvane::testing::model
