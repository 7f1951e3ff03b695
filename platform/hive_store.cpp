#include "platform/hive_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/hive_file.h"
#include "platform/hive_io.h"
#include "platform/hive_text.h"
#include "platform/wineserver_probe.h"

namespace quorvane::platform {

namespace {

using hive::Document;
using hive::FileTime;
using hive::Key;
using Path = std::vector<std::u16string>;

constexpr Status kBadPathname = 161;
constexpr std::chrono::milliseconds kLockTimeout{10'000};
constexpr int kMaxLinkDepth = 16;
constexpr mode_t kNewHiveMode = 0644;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kMaximumAllowed = 0x02000000;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
constexpr std::uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey | kKeyCreateLink | kDelete |
                                       kWriteDac | kWriteOwner | kGenericWrite | kGenericAll;
constexpr std::uint32_t kQueryRights =
    kKeyQueryValue | kGenericRead | kGenericAll | kMaximumAllowed;
constexpr std::uint32_t kSetRights = kKeySetValue | kGenericWrite | kGenericAll | kMaximumAllowed;
constexpr std::uint32_t kCreateRights =
    kKeyCreateSubKey | kGenericWrite | kGenericAll | kMaximumAllowed;

// A change to one hive, kept until it is in the file: when another process replaces the file
// meanwhile, the pending changes are made again on its new text instead of overwriting it.
struct WriteOp {
    enum class Kind { CreateKey, SetValue, DeleteValue, DeleteKey };
    Kind kind;
    Path path;
    std::u16string name;
    hive::ValueData data;
    FileTime time;

    static WriteOp onKey(Kind kind, Path path) {
        return {kind, std::move(path), std::u16string(), hive::ValueData(),
                hive::currentFileTime()};
    }
    static WriteOp onValue(Kind kind, Path path, std::u16string name,
                           hive::ValueData data = hive::ValueData()) {
        return {kind, std::move(path), std::move(name), std::move(data), hive::currentFileTime()};
    }
};

struct HiveFile {
    HiveFile(std::string name, std::string branchText, std::u16string targetPrefix)
        : fileName(std::move(name)),
          branch(std::move(branchText)),
          linkPrefix(std::move(targetPrefix)) {}

    std::string fileName;
    std::string branch;         // written in a new file's header
    std::u16string linkPrefix;  // how link targets into this hive begin
    std::filesystem::path path;
    std::optional<Document> document;
    std::optional<hive::FileSignature> signature;  // of the file read; none when it was missing
    std::vector<WriteOp> pending;
    std::uint64_t generation = 0;  // changes whenever keys may have gone away

    bool readOnly() const { return signature && !signature->writable(); }
};

struct OpenKey {
    HiveFile* hive;
    Path path;  // from the hive's root, links resolved
    std::uint32_t access;
    Key* cached = nullptr;
    std::uint64_t generation = 0;
    bool deleted = false;  // its key was deleted through this store: it stays gone for the handle
};

// Where a handle points: a hive, a path in it and the rights it carries.
struct Base {
    HiveFile* hive;
    Path path;
    std::uint32_t access;
    bool predefined;
    OpenKey* open = nullptr;
};

Key* child(Key& key, std::u16string_view name) {
    return key.child(hive::foldName(name));
}

// Splits a narrow sub-key path as Windows does: doubled and trailing backslashes count for
// nothing, a leading one is refused.
Status splitSubKey(const std::string& subKey, Path& components) {
    const std::u16string path = hive::utf8ToUtf16(subKey);
    if (!path.empty() && path.front() == u'\\') {
        return kBadPathname;
    }
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = path.size();
        }
        if (end > start) {
            components.emplace_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return kSuccess;
}

// The path of a link target below the hive's root, when the target lies in this hive.
std::optional<Path> targetInHive(std::u16string_view target, std::u16string_view hivePrefix) {
    if (target.size() < hivePrefix.size() ||
        hive::foldName(target.substr(0, hivePrefix.size())) != hive::foldName(hivePrefix)) {
        return std::nullopt;
    }
    const std::u16string_view rest = target.substr(hivePrefix.size());
    if (!rest.empty() && rest.front() != u'\\') {
        return std::nullopt;
    }
    Path path;
    if (splitSubKey(hive::utf16ToUtf8(rest.substr(rest.empty() ? 0 : 1)), path) != kSuccess) {
        return std::nullopt;
    }
    return path;
}

// Follows `path` from the root of `file`, through links within the hive. `real` receives the
// path as stored, links resolved, then the part that does not exist as it was given; `existing`
// how many of its components exist. Returns the last key that exists.
Key* walk(HiveFile& file, const Path& path, Path& real, std::size_t& existing) {
    Key* key = &file.document->root();
    Path pending = path;
    real.clear();
    existing = 0;
    int links = 0;
    std::size_t i = 0;
    while (i < pending.size()) {
        Key* next = child(*key, pending[i]);
        if (next == nullptr) {
            break;
        }
        std::optional<std::u16string> target;
        std::optional<Path> redirected;
        if (next->isLink() && (target = next->linkTarget()) &&
            (redirected = targetInHive(*target, file.linkPrefix)) && ++links <= kMaxLinkDepth) {
            redirected->insert(redirected->end(),
                               pending.begin() + static_cast<std::ptrdiff_t>(i) + 1, pending.end());
            pending = std::move(*redirected);
            key = &file.document->root();
            real.clear();
            existing = 0;
            i = 0;
            continue;
        }
        key = next;
        real.push_back(next->name());
        ++existing;
        ++i;
    }
    real.insert(real.end(), pending.begin() + static_cast<std::ptrdiff_t>(i), pending.end());
    return key;
}

Key* find(HiveFile& file, const Path& path) {
    std::size_t existing = 0;
    Path real;
    Key* key = walk(file, path, real, existing);
    return existing == real.size() ? key : nullptr;
}

// Makes one change on the in-memory hive. Returns whether anything changed.
bool apply(HiveFile& file, const WriteOp& op) {
    switch (op.kind) {
        case WriteOp::Kind::CreateKey: {
            Key* key = &file.document->root();
            bool created = false;
            for (const auto& name : op.path) {
                Key* next = child(*key, name);
                created = created || next == nullptr;
                key = next != nullptr ? next : &key->addChild(name, op.time);
            }
            return created;
        }
        case WriteOp::Kind::SetValue: {
            Key* key = find(file, op.path);
            return key != nullptr && key->setValue(op.name, op.data, op.time);
        }
        case WriteOp::Kind::DeleteValue: {
            Key* key = find(file, op.path);
            return key != nullptr && key->deleteValue(hive::foldName(op.name), op.time);
        }
        case WriteOp::Kind::DeleteKey: {
            Key* key = find(file, op.path);
            if (key == nullptr || key->parent() == nullptr || !key->children().empty()) {
                return false;
            }
            Key* parent = key->parent();
            parent->removeChild(*key);
            parent->touch(op.time);
            ++file.generation;
            return true;
        }
    }
    return false;
}

std::string headerFailure(const std::filesystem::path& file, const std::exception& error) {
    return "The hive file " + file.string() + " cannot be read (" + error.what() +
           "). Quorvane leaves it exactly as it is; restore it from a backup or move it away.";
}

}  // namespace

struct HiveStore::Impl {
    std::filesystem::path directory;
    int directoryFd = -1;
    HiveFile user{"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
                  u"\\Registry\\User\\S-1-5-21-0-0-0-1000"};
    HiveFile machine{"system.reg", "REGISTRY\\\\Machine", u"\\Registry\\Machine"};
    std::unordered_map<KeyHandle, OpenKey> handles;
    KeyHandle nextHandle = 0x1000;
    int batchDepth = 0;
    std::string lastFailure;

    // Makes sure `file` holds what is on disk now, keeping its pending changes.
    void refresh(HiveFile& file) {
        const auto signature = hive::statFile(file.path);
        const bool same = file.document && signature.has_value() == file.signature.has_value() &&
                          (!signature || signature->sameVersion(*file.signature));
        if (same) {
            return;
        }
        auto content = hive::readWholeFile(file.path);
        try {
            file.document =
                content ? Document::parse(std::move(content->text)) : Document::empty(file.branch);
        } catch (const hive::HeaderError& error) {
            file.document.reset();
            throw StoreError(headerFailure(file.path, error));
        }
        file.signature = content ? std::optional(content->signature) : std::nullopt;
        ++file.generation;
        for (const WriteOp& op : file.pending) {
            apply(file, op);
        }
    }

    std::optional<Base> baseOf(KeyHandle handle) {
        switch (handle) {
            case kCurrentUser:
                return Base{&user, {}, kKeyAllAccess, true};
            case kLocalMachine:
                return Base{&machine, {}, kKeyAllAccess, true};
            case kClassesRoot:
                return Base{&machine, {u"Software", u"Classes"}, kKeyAllAccess, true};
            default:
                break;
        }
        const auto it = handles.find(handle);
        if (it == handles.end()) {
            return std::nullopt;
        }
        return Base{it->second.hive, it->second.path, it->second.access, false, &it->second};
    }

    KeyHandle newHandle(HiveFile& file, Path path, std::uint32_t access) {
        const KeyHandle handle = nextHandle;
        nextHandle += 4;
        handles.emplace(handle, OpenKey{&file, std::move(path), access});
        return handle;
    }

    // The key behind an open handle, or null when it was deleted.
    Key* keyOf(OpenKey& open) {
        if (open.deleted) {
            return nullptr;
        }
        if (open.cached == nullptr || open.generation != open.hive->generation) {
            open.cached = find(*open.hive, open.path);
            open.generation = open.hive->generation;
        }
        return open.cached;
    }

    void forgetHandlesTo(const HiveFile& file, const Path& path) {
        for (auto& [handle, open] : handles) {
            if (open.hive == &file && open.path.size() == path.size() &&
                std::equal(path.begin(), path.end(), open.path.begin(),
                           [](const std::u16string& a, const std::u16string& b) {
                               return hive::foldName(a) == hive::foldName(b);
                           })) {
                open.deleted = true;
            }
        }
    }

    // Makes a change and stores it, at once outside a batch, else when the batch ends.
    Status perform(HiveFile& file, WriteOp op) {
        if (!apply(file, op)) {
            return kSuccess;
        }
        file.pending.push_back(std::move(op));
        return batchDepth == 0 ? commit(file) : kSuccess;
    }

    Status commit(HiveFile& file) {
        if (file.pending.empty()) {
            return kSuccess;
        }
        const Status status = store(file);
        // Whatever happened, memory now follows the file again.
        file.pending.clear();
        if (status != kSuccess) {
            file.document.reset();
        }
        return status;
    }

    Status store(HiveFile& file) {
        hive::DirectoryLock lock(directoryFd, kLockTimeout);
        if (!lock.held()) {
            lastFailure = "Another program kept the registry directory " + directory.string() +
                          " locked; the change was not stored.";
            return kBusy;
        }
        WineserverStartLock server(directory);
        if (server.running()) {
            lastFailure = wineserverRefusal(directory, *server.running());
            return kBusy;
        }
        try {
            hive::removeStaleTemporaries(file.path);
            refresh(file);
            if (file.readOnly()) {
                lastFailure = file.path.string() + " is read-only.";
                return kAccessDenied;
            }
            const mode_t mode = file.signature ? (file.signature->mode & 07777) : kNewHiveMode;
            file.signature =
                hive::replaceFile(file.path, file.document->serialize(), mode, file.signature);
        } catch (const std::exception& error) {
            lastFailure = error.what();
            return kRegistryIoFailed;
        }
        lastFailure.clear();
        return kSuccess;
    }

    // Runs `operation` with the hive of `handle` up to date; failures of the files become
    // statuses, as the registry reports its own I/O failures.
    template <typename Operation>
    Status withBase(KeyHandle handle, Operation operation) {
        auto base = baseOf(handle);
        if (!base) {
            return kInvalidHandle;
        }
        try {
            refresh(*base->hive);
        } catch (const std::exception& error) {
            lastFailure = error.what();
            return kRegistryIoFailed;
        }
        if (base->open != nullptr && keyOf(*base->open) == nullptr) {
            return kKeyDeleted;
        }
        return operation(*base);
    }

    template <typename Operation>
    Status withOpenKey(KeyHandle handle, std::uint32_t rights, Operation operation) {
        return withBase(handle, [&](Base& base) {
            if ((base.access & rights) == 0) {
                return kAccessDenied;
            }
            Key* key = base.open != nullptr ? keyOf(*base.open) : find(*base.hive, base.path);
            if (key == nullptr) {
                return kFileNotFound;
            }
            return operation(*base.hive, base.path, *key);
        });
    }

    void createMissingHives() {
        hive::DirectoryLock lock(directoryFd, kLockTimeout);
        for (HiveFile* file : {&user, &machine}) {
            if (!hive::statFile(file->path)) {
                hive::replaceFile(file->path, Document::headerFor(file->branch), kNewHiveMode);
            }
        }
    }
};

HiveStore::HiveStore(std::filesystem::path directory, Creation creation)
    : impl_(std::make_unique<Impl>()) {
    impl_->directory = std::move(directory);
    std::error_code error;
    if (creation == Creation::CreateIfMissing) {
        std::filesystem::create_directories(impl_->directory, error);
        if (error) {
            throw StoreError("Cannot create the registry directory " + impl_->directory.string() +
                             ": " + error.message());
        }
    }
    impl_->directoryFd = ::open(impl_->directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (impl_->directoryFd < 0) {
        throw StoreError("The registry directory " + impl_->directory.string() +
                         " cannot be used: " + std::system_category().message(errno));
    }
    if (const auto server = findRunningWineserver(impl_->directory)) {
        throw StoreError(wineserverRefusal(impl_->directory, *server));
    }
    try {
        for (HiveFile* file : {&impl_->user, &impl_->machine}) {
            file->path = impl_->directory / file->fileName;
        }
        if (creation == Creation::CreateIfMissing) {
            impl_->createMissingHives();
        }
        for (HiveFile* file : {&impl_->user, &impl_->machine}) {
            impl_->refresh(*file);
        }
    } catch (const StoreError&) {
        throw;
    } catch (const std::exception& failure) {
        throw StoreError(failure.what());
    }
}

HiveStore::~HiveStore() {
    if (impl_->batchDepth > 0) {
        impl_->batchDepth = 1;
        endBatch();
    }
    ::close(impl_->directoryFd);
}

Status HiveStore::openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                          KeyHandle& result) {
    return impl_->withBase(parent, [&](Base& base) {
        Path path = base.path;
        if (const Status status = splitSubKey(subKey, path); status != kSuccess) {
            return status;
        }
        std::size_t existing = 0;
        Path real;
        walk(*base.hive, path, real, existing);
        if (existing != real.size()) {
            return kFileNotFound;
        }
        if ((access & kWriteRights) != 0 && base.hive->readOnly()) {
            return kAccessDenied;
        }
        result = impl_->newHandle(*base.hive, std::move(real), access);
        return kSuccess;
    });
}

Status HiveStore::createKey(KeyHandle parent, const std::string& subKey, KeyHandle& result) {
    return impl_->withBase(parent, [&](Base& base) {
        Path path = base.path;
        if (const Status status = splitSubKey(subKey, path); status != kSuccess) {
            return status;
        }
        std::size_t existing = 0;
        Path real;
        walk(*base.hive, path, real, existing);
        HiveFile& file = *base.hive;
        if (existing == real.size()) {
            result =
                impl_->newHandle(file, std::move(real), file.readOnly() ? kKeyRead : kKeyAllAccess);
            return kSuccess;
        }
        if (file.readOnly() || (base.access & kCreateRights) == 0) {
            return kAccessDenied;
        }
        const Status status = impl_->perform(file, WriteOp::onKey(WriteOp::Kind::CreateKey, real));
        if (status == kSuccess) {
            std::size_t found = 0;
            Path stored;
            walk(file, real, stored, found);
            result = impl_->newHandle(file, std::move(stored), kKeyAllAccess);
        }
        return status;
    });
}

Status HiveStore::setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) {
    return impl_->withOpenKey(key, kSetRights, [&](HiveFile& file, const Path& path, Key&) {
        if (file.readOnly()) {
            return kAccessDenied;
        }
        if (data == nullptr && size != 0) {
            return kInvalidParameter;
        }
        hive::ValueData value{type, std::string(reinterpret_cast<const char*>(data), size)};
        if (isStringType(type)) {
            // As Windows does, count a terminating NUL that the caller left out of `size`.
            if (size > 0 && data[size - 1] != 0 && data[size] == 0) {
                value.bytes.push_back('\0');
            }
            const std::u16string units = hive::utf8ToUtf16(value.bytes);
            value.bytes.assign(reinterpret_cast<const char*>(units.data()), units.size() * 2);
        }
        return impl_->perform(file, WriteOp::onValue(WriteOp::Kind::SetValue, path,
                                                     hive::utf8ToUtf16(name), std::move(value)));
    });
}

Status HiveStore::queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) {
    return impl_->withOpenKey(key, kQueryRights, [&](HiveFile&, const Path&, Key& stored) {
        auto value = stored.value(hive::foldName(hive::utf8ToUtf16(name)));
        if (!value) {
            return kFileNotFound;
        }
        if (isStringType(value->type)) {
            std::u16string units(value->bytes.size() / 2, u'\0');
            std::memcpy(units.data(), value->bytes.data(), units.size() * 2);
            value->bytes = hive::utf16ToUtf8(units);
        }
        if (type != nullptr) {
            *type = value->type;
        }
        const auto needed = static_cast<std::uint32_t>(value->bytes.size());
        if (data == nullptr) {
            if (size != nullptr) {
                *size = needed;
            }
            return kSuccess;
        }
        if (size == nullptr) {
            return kInvalidParameter;
        }
        if (*size < needed) {
            *size = needed;
            return kMoreData;
        }
        std::memcpy(data, value->bytes.data(), needed);
        *size = needed;
        return kSuccess;
    });
}

Status HiveStore::deleteKey(KeyHandle key, const std::string& subKey) {
    return impl_->withBase(key, [&](Base& base) {
        Path path = base.path;
        if (const Status status = splitSubKey(subKey, path); status != kSuccess) {
            return status;
        }
        std::size_t existing = 0;
        Path real;
        Key* target = walk(*base.hive, path, real, existing);
        if (existing != real.size()) {
            return kFileNotFound;
        }
        if (base.hive->readOnly() || target->parent() == nullptr || !target->children().empty()) {
            return kAccessDenied;
        }
        const Status status =
            impl_->perform(*base.hive, WriteOp::onKey(WriteOp::Kind::DeleteKey, real));
        if (status == kSuccess) {
            impl_->forgetHandlesTo(*base.hive, real);
        }
        return status;
    });
}

Status HiveStore::deleteValue(KeyHandle key, const std::string& name) {
    return impl_->withOpenKey(key, kSetRights, [&](HiveFile& file, const Path& path, Key& stored) {
        if (file.readOnly()) {
            return kAccessDenied;
        }
        std::u16string wide = hive::utf8ToUtf16(name);
        if (!stored.value(hive::foldName(wide))) {
            return kFileNotFound;
        }
        return impl_->perform(file,
                              WriteOp::onValue(WriteOp::Kind::DeleteValue, path, std::move(wide)));
    });
}

Status HiveStore::closeKey(KeyHandle key) {
    if (isPredefinedRoot(key)) {
        return kSuccess;
    }
    return impl_->handles.erase(key) == 1 ? kSuccess : kInvalidHandle;
}

void HiveStore::beginBatch() {
    ++impl_->batchDepth;
}

Status HiveStore::endBatch() {
    if (impl_->batchDepth == 0 || --impl_->batchDepth > 0) {
        return kSuccess;
    }
    return storePending();
}

Status HiveStore::storePending() {
    const Status user = impl_->commit(impl_->user);
    const Status machine = impl_->commit(impl_->machine);
    return user != kSuccess ? user : machine;
}

const std::filesystem::path& HiveStore::directory() const {
    return impl_->directory;
}

std::string HiveStore::lastFailure() const {
    return impl_->lastFailure;
}

}  // namespace quorvane::platform
