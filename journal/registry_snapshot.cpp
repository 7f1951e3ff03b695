#include "journal/registry_snapshot.h"

#include "formats/utf16.h"
#include "platform/letter_case.h"
#include "platform/value_data.h"
#include "registry/value_query.h"
#include "restrictions/outcome.h"

namespace quorvane::journal {

namespace {

using platform::KeyHandle;
using platform::Status;
using restrictions::PlannedChange;
using Sections = std::vector<formats::RegSection>;

// Key and value names compare without regard to case.
using platform::equalIgnoringCase;
using platform::lowerCase;

Failure unreadable(registry::Hive hive, const std::string& subKey, Status status) {
    return failure(status, restrictions::fullRegistryPath(hive, subKey) +
                               " cannot be read (registry status " + std::to_string(status) + ")");
}

// Opens root\subKey for reading; the key is closed when this goes.
class OpenKey {
public:
    OpenKey(platform::RegistryApi& registry, KeyHandle parent, const std::string& subKey)
        : registry_(registry),
          status_(registry.openKey(parent, subKey, platform::kKeyRead, handle_)) {}
    ~OpenKey() {
        if (status_ == platform::kSuccess) {
            registry_.closeKey(handle_);
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    Status status() const { return status_; }
    KeyHandle handle() const { return handle_; }

private:
    platform::RegistryApi& registry_;
    KeyHandle handle_ = 0;
    Status status_;
};

// The first key on the way to root\subKey that is missing; nothing when every one is there.
Result<std::optional<std::string>> firstMissingKey(platform::RegistryApi& registry,
                                                   registry::Hive hive, const std::string& subKey) {
    for (std::size_t end = subKey.find('\\');; end = subKey.find('\\', end + 1)) {
        const std::string prefix = subKey.substr(0, end);
        const OpenKey key(registry, hive, prefix);
        if (key.status() == platform::kFileNotFound) {
            return std::optional(prefix);
        }
        if (key.status() != platform::kSuccess) {
            return unreadable(hive, prefix, key.status());
        }
        if (end == std::string::npos) {
            return std::optional<std::string>();
        }
    }
}

formats::RegValue fileValue(const std::string& name, std::uint32_t type, const std::string& data) {
    return {formats::narrowToUtf16(name), false, type, platform::fileData(type, data)};
}

// Appends the section of the open `key`, at `path`, and those of every key below it.
Result<void> appendTree(platform::RegistryApi& registry, KeyHandle key, registry::Hive hive,
                        const std::string& path, Sections& sections) {
    formats::RegSection section{keyPath(hive, path), false, {}};
    std::string name;
    std::uint32_t type = 0;
    std::string data;
    Status status = platform::kSuccess;
    for (std::uint32_t index = 0;
         (status = registry.enumValue(key, index, name, type, data)) == platform::kSuccess;
         ++index) {
        section.values.push_back(fileValue(name, type, data));
    }
    if (status != platform::kNoMoreItems) {
        return unreadable(hive, path, status);
    }
    sections.push_back(std::move(section));
    std::vector<std::string> children;
    for (std::uint32_t index = 0;
         (status = registry.enumKey(key, index, name)) == platform::kSuccess; ++index) {
        children.push_back(name);
    }
    if (status != platform::kNoMoreItems) {
        return unreadable(hive, path, status);
    }
    for (const std::string& child : children) {
        const OpenKey opened(registry, key, child);
        const std::string childPath = path + "\\" + child;
        if (opened.status() != platform::kSuccess) {
            return unreadable(hive, childPath, opened.status());
        }
        if (auto appended = appendTree(registry, opened.handle(), hive, childPath, sections);
            !appended) {
            return appended;
        }
    }
    return {};
}

}  // namespace

KeyContents readKey(platform::RegistryApi& registry, registry::Hive hive,
                    const std::string& subKey) {
    KeyContents contents;
    const OpenKey key(registry, hive, subKey);
    contents.status = key.status();
    if (key.status() != platform::kSuccess) {
        return contents;
    }
    std::string name;
    std::uint32_t type = 0;
    std::string data;
    Status status = platform::kSuccess;
    for (std::uint32_t index = 0;
         (status = registry.enumValue(key.handle(), index, name, type, data)) == platform::kSuccess;
         ++index) {
        contents.values[lowerCase(name)] = {type, data};
    }
    if (status == platform::kNoMoreItems) {
        for (std::uint32_t index = 0;
             (status = registry.enumKey(key.handle(), index, name)) == platform::kSuccess;
             ++index) {
            contents.children.insert(lowerCase(name));
        }
    }
    contents.status = status == platform::kNoMoreItems ? platform::kSuccess : status;
    return contents;
}

std::u16string keyPath(registry::Hive hive, const std::string& subKey) {
    return formats::narrowToUtf16(restrictions::fullRegistryPath(hive, subKey));
}

bool holds(platform::RegistryApi& registry, const PlannedChange& change) {
    const OpenKey key(registry, change.hive, change.subKey);
    switch (change.kind) {
        case PlannedChange::Kind::CreateKey:
            return key.status() == platform::kSuccess;
        case PlannedChange::Kind::DeleteKey:
            return key.status() == platform::kFileNotFound;
        case PlannedChange::Kind::DeleteValue:
        case PlannedChange::Kind::SetValue:
            break;
    }
    const bool deleting = change.kind == PlannedChange::Kind::DeleteValue;
    if (key.status() != platform::kSuccess) {
        return deleting && key.status() == platform::kFileNotFound;
    }
    std::uint32_t type = 0;
    std::string data;
    const Status status =
        registry::queryWholeValue(registry, key.handle(), change.valueName, type, data);
    return deleting ? status == platform::kFileNotFound
                    : status == platform::kSuccess && type == change.type && data == change.data;
}

Result<std::optional<Place>> placeToKeep(platform::RegistryApi& registry,
                                         const PlannedChange& change) {
    if (holds(registry, change)) {
        return std::optional<Place>();
    }
    auto missing = firstMissingKey(registry, change.hive, change.subKey);
    if (!missing) {
        return missing.failure();
    }
    if (const auto& key = *missing) {
        return std::optional(Place{change.hive, *key, std::nullopt});
    }
    const bool ofAValue = change.kind == PlannedChange::Kind::SetValue ||
                          change.kind == PlannedChange::Kind::DeleteValue;
    return std::optional(Place{change.hive, change.subKey,
                               ofAValue ? std::optional(change.valueName) : std::nullopt});
}

Result<Sections> snapshot(platform::RegistryApi& registry, const Place& place) {
    const OpenKey key(registry, place.hive, place.subKey);
    if (key.status() == platform::kFileNotFound) {
        return Sections{{keyPath(place.hive, place.subKey), true, {}}};
    }
    if (key.status() != platform::kSuccess) {
        return unreadable(place.hive, place.subKey, key.status());
    }
    if (place.valueName) {
        std::uint32_t type = 0;
        std::string data;
        const Status status =
            registry::queryWholeValue(registry, key.handle(), *place.valueName, type, data);
        formats::RegValue value = fileValue(*place.valueName, type, data);
        if (status == platform::kFileNotFound) {
            value = {formats::narrowToUtf16(*place.valueName), true, 0, {}};
        } else if (status != platform::kSuccess) {
            return unreadable(place.hive, place.subKey, status);
        }
        return Sections{{keyPath(place.hive, place.subKey), false, {std::move(value)}}};
    }
    Sections sections{{keyPath(place.hive, place.subKey), true, {}}};
    if (auto appended = appendTree(registry, key.handle(), place.hive, place.subKey, sections);
        !appended) {
        return appended.failure();
    }
    return sections;
}

}  // namespace quorvane::journal
