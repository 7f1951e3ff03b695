#include "platform/hive_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/access_rights.h"
#include "platform/batch_depth.h"
#include "platform/hive_file.h"
#include "platform/hive_io.h"
#include "platform/hive_text.h"
#include "platform/value_data.h"
#include "platform/wineserver_probe.h"

namespace quorvane::platform {

namespace {

using hive::Document;
using hive::FileTime;
using hive::Key;
// Key names below a hive's root, joined by single backslashes: one string, so that the paths
// each call handles cost one allocation, not one per name.
using Path = std::u16string;

constexpr Status kBadPathname = 161;
constexpr int kMaxLinkDepth = 16;
// How often a hive that other programs keep changing is read again before an operation fails.
constexpr int kReadAttempts = 5;
using rights::kCreate;
using rights::kEnumerate;
using rights::kQuery;
using rights::kSet;
using rights::kWrite;

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
    std::uint64_t changes = 0;     // changes whenever anything may have changed
    // Until something is written: the file's text, of which `document` holds the keys on the way
    // to each of `wanted` (folded paths) and all below them, loaded as they are first asked for.
    std::shared_ptr<const hive::ScannedHive> text;
    std::vector<std::u16string> wanted;
    bool partial = false;

    bool readOnly() const { return signature && !signature->writable(); }
};

struct OpenKey {
    HiveFile* hive;
    Path path;  // from the hive's root, links resolved
    std::uint32_t access;
    Key* cached = nullptr;
    std::uint64_t generation = 0;
    bool deleted = false;  // its key was deleted through this store: it stays gone for the handle
    // The values as enumValue gives them, listed once for every index while nothing changes.
    std::vector<std::pair<std::string, hive::ValueData>> listed;
    const Key* listedKey = nullptr;
    std::uint64_t listedAt = 0;
};

// Where a handle points: a hive, a path in it and the rights it carries.
struct Base {
    HiveFile* hive;
    Path path;
    std::uint32_t access;
    bool predefined;
    OpenKey* open = nullptr;
};

// Looks a child up by a name as given; folds into a reused buffer, as this runs on every step
// of every path.
Key* child(Key& key, std::u16string_view name) {
    thread_local std::u16string folded;
    folded.assign(name);
    for (char16_t& unit : folded) {
        unit = hive::foldUnit(unit);
    }
    return key.child(folded);
}

// Calls `visit` with each name of `path`.
template <typename Visit>
void forEachName(std::u16string_view path, Visit visit) {
    std::size_t start = 0;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        visit(path.substr(start, end - start));
        start = end + 1;
    }
}

void appendName(Path& path, std::u16string_view name) {
    if (!path.empty()) {
        path.push_back(u'\\');
    }
    path.append(name);
}

// Appends a narrow sub-key path to `path` as Windows reads it: doubled and trailing backslashes
// count for nothing, a leading one is refused.
Status appendSubKey(std::string_view subKey, Path& path) {
    if (!subKey.empty() && subKey.front() == '\\') {
        return kBadPathname;
    }
    forEachName(formats::utf8ToUtf16(subKey), [&](std::u16string_view name) {
        if (!name.empty()) {
            appendName(path, name);
        }
    });
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
    forEachName(rest, [&](std::u16string_view name) {
        if (!name.empty()) {
            appendName(path, name);
        }
    });
    return path;
}

struct Walk {
    Key* key;       // the last key of the path that exists
    bool complete;  // the whole path exists
    Path real;      // the path as stored, links resolved, then the missing rest as given
};

// Follows `path` from the root of `file`, through links within the hive.
Walk walk(HiveFile& file, std::u16string_view path) {
    Walk result{&file.document->root(), true, {}};
    Path redirected;  // filled only when a link is followed
    int links = 0;
    std::size_t start = 0;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        Key* next = child(*result.key, path.substr(start, end - start));
        if (next == nullptr) {
            appendName(result.real, path.substr(start));
            result.complete = false;
            return result;
        }
        std::optional<std::u16string> target;
        std::optional<Path> targetPath;
        if (next->isLink() && (target = next->linkTarget()) &&
            (targetPath = targetInHive(*target, file.linkPrefix)) && ++links <= kMaxLinkDepth) {
            if (end < path.size()) {
                appendName(*targetPath, path.substr(end + 1));
            }
            redirected = std::move(*targetPath);
            path = redirected;
            result = {&file.document->root(), true, {}};
            start = 0;
            continue;
        }
        result.key = next;
        appendName(result.real, next->name());
        start = end + 1;
    }
    return result;
}

Key* find(HiveFile& file, const Path& path) {
    Walk found = walk(file, path);
    return found.complete ? found.key : nullptr;
}

// Makes one change on the in-memory hive. Returns whether anything changed.
bool apply(HiveFile& file, const WriteOp& op) {
    switch (op.kind) {
        case WriteOp::Kind::CreateKey: {
            Key* key = &file.document->root();
            bool created = false;
            forEachName(op.path, [&](std::u16string_view name) {
                Key* next = child(*key, name);
                created = created || next == nullptr;
                key = next != nullptr ? next : &key->addChild(std::u16string(name), op.time);
            });
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

// The status a failed file operation gives: refused access as on Windows, else an I/O failure.
Status statusOf(const hive::FileError& error) {
    switch (error.error()) {
        case EACCES:
        case EPERM:
        case EROFS:
            return kAccessDenied;
        default:
            return kRegistryIoFailed;
    }
}

std::string serverStartedMeanwhile(const std::filesystem::path& file,
                                   const WineserverInfo& server) {
    return "a wineserver started for this prefix (pid " + std::to_string(server.pid) + ") while " +
           file.string() +
           " was written; it may have read the hive as it was before and would write that back "
           "when it exits, so the change is not counted as stored";
}

std::string readOnlyReason(const HiveFile& file) {
    return "no write access to " + file.path.string() + ": it is read-only";
}

std::string headerFailure(const std::filesystem::path& file, const std::exception& error) {
    return "The hive file " + file.string() + " cannot be read (" + error.what() +
           "). Quorvane leaves it exactly as it is; restore it from a backup or move it away.";
}

}  // namespace

struct HiveStore::Impl {
    std::filesystem::path path;          // the directory, as named
    std::optional<formats::Folder> dir;  // the directory opened; none until the own store is made
    Creation creation = Creation::UseExisting;
    Use use = Use::Change;
    std::string readingNote;
    HiveFile user{"user.reg", "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
                  u"\\Registry\\User\\S-1-5-21-0-0-0-1000"};
    HiveFile machine{"system.reg", "REGISTRY\\\\Machine", u"\\Registry\\Machine"};
    std::unordered_map<KeyHandle, OpenKey> handles;
    KeyHandle nextHandle = 0x1000;
    BatchDepth batch;
    std::string lastFailure;
    std::uint64_t failuresReported = 0;

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Makes sure `file` holds what is on disk now, keeping its pending changes. A store that
    // only reads serves one command: the version it read stands until a read of more of its
    // sections finds the file changed since (each such read checks), and is read again then.
    void refresh(HiveFile& file) {
        if (use == Use::ReadOnly && file.document) {
            return;
        }
        // Quorvane's own store before its first write: nothing there yet.
        const auto signature = dir ? hive::examineHive(*dir, file.fileName) : std::nullopt;
        const bool same = file.document && signature.has_value() == file.signature.has_value() &&
                          (!signature || signature->sameVersion(*file.signature));
        if (same) {
            return;
        }
        // A file another program changes while it is read is read again.
        for (int attempt = 1;; ++attempt) {
            try {
                load(file, signature.has_value());
                return;
            } catch (const hive::FileChanged&) {
                if (attempt == kReadAttempts) {
                    throw;
                }
            }
        }
    }

    // Reads the version of `file` on disk now: only its [path] lines until a key is asked for.
    void load(HiveFile& file, bool exists) {
        // Memory follows the file only once this has succeeded.
        file.document.reset();
        auto reader = exists ? hive::HiveReader::open(*dir, file.fileName) : std::nullopt;
        std::optional<hive::FileSignature> signature;
        try {
            file.wanted.clear();
            file.text.reset();
            file.partial = reader.has_value();
            if (reader) {
                signature = reader->signature();
                file.text = scan(std::move(*reader));
                file.document = Document::parseSelected(file.text, file.wanted);
            } else {
                file.document = Document::empty(file.branch);
            }
        } catch (const hive::HeaderError& error) {
            file.document.reset();
            throw StoreError(headerFailure(file.path, error));
        }
        file.signature = signature;
        ++file.generation;
        ++file.changes;
        if (!file.pending.empty()) {
            try {
                file.document->select(u"");
            } catch (...) {
                file.document.reset();
                throw;
            }
            file.partial = false;
        }
        for (const WriteOp& op : file.pending) {
            apply(file, op);
        }
    }

    // Finds the [path] lines of the hive `reader` opened, holding its descriptor only while it
    // does; each later read of sections opens the file again and checks it is the same version.
    static std::shared_ptr<const hive::ScannedHive> scan(hive::HiveReader reader) {
        struct Source {
            hive::HiveReader reader;
            bool holding = true;
        };
        auto source = std::make_shared<Source>(Source{std::move(reader)});
        auto scanned = std::make_shared<const hive::ScannedHive>(
            source->reader.size(), [source](std::size_t offset, char* out, std::size_t length) {
                struct Release {
                    Source& source;
                    ~Release() {
                        if (!source.holding) {
                            source.reader.close();
                        }
                    }
                } release{*source};
                source->reader.read(offset, out, length);
            });
        // Written in place while it was scanned: the lines found may not fit together.
        source->reader.checkUnchanged();
        source->holding = false;
        source->reader.close();
        return scanned;
    }

    // Loads more of a hive read in part. When the file turns out to have changed since its
    // [path] lines were found, its new version is read and `more` runs on that.
    template <typename More>
    void extend(HiveFile& file, More more) {
        for (int attempt = 1; file.partial; ++attempt) {
            try {
                more();
                return;
            } catch (const hive::FileChanged&) {
                if (attempt == kReadAttempts) {
                    file.document.reset();
                    throw;
                }
                file.document.reset();
                refresh(file);
            }
        }
    }

    // A change is made on the whole tree: it is written back whole.
    void loadWhole(HiveFile& file) {
        extend(file, [&] {
            file.document->select(u"");
            file.partial = false;
            ++file.changes;
        });
    }

    // Loads the key at `path` and everything below it, when the hive is read in part.
    void cover(HiveFile& file, const Path& path) {
        if (!file.partial) {
            return;
        }
        // Compared unit by unit: this runs before every operation on the hive.
        const auto within = [](std::u16string_view inner, std::u16string_view loaded) {
            if (inner.size() < loaded.size() || (inner.size() > loaded.size() && !loaded.empty() &&
                                                 inner[loaded.size()] != u'\\')) {
                return false;
            }
            for (std::size_t i = 0; i < loaded.size(); ++i) {
                if (hive::foldUnit(inner[i]) != loaded[i]) {
                    return false;
                }
            }
            return true;
        };
        if (std::any_of(file.wanted.begin(), file.wanted.end(),
                        [&](const std::u16string& loaded) { return within(path, loaded); })) {
            return;
        }
        std::u16string folded = hive::foldName(path);
        extend(file, [&] { file.document->select(folded); });
        if (!file.partial) {
            return;
        }
        file.wanted.push_back(std::move(folded));
        // A link on the way may lead anywhere in the hive: then the whole hive is loaded.
        Key* key = &file.document->root();
        bool linked = false;
        forEachName(path, [&](std::u16string_view name) {
            key = key != nullptr ? child(*key, name) : nullptr;
            linked = linked || (key != nullptr && key->isLink());
        });
        if (linked) {
            loadWhole(file);
        }
    }

    std::optional<Base> baseOf(KeyHandle handle) {
        switch (handle) {
            case kCurrentUser:
                return Base{&user, {}, kKeyAllAccess, true};
            case kLocalMachine:
                return Base{&machine, {}, kKeyAllAccess, true};
            case kClassesRoot:
                return Base{&machine, u"Software\\Classes", kKeyAllAccess, true};
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
        handles.emplace(handle,
                        OpenKey{&file, std::move(path), access, nullptr, 0, false, {}, nullptr, 0});
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
            if (open.hive == &file && hive::foldName(open.path) == hive::foldName(path)) {
                open.deleted = true;
            }
        }
    }

    // Makes a change and stores it, at once outside a batch, else when the batch ends.
    Status perform(HiveFile& file, WriteOp op) {
        if (use == Use::ReadOnly) {
            return failure(kAccessDenied,
                           "the registry " + path.string() + " was opened for reading only");
        }
        loadWhole(file);
        if (!apply(file, op)) {
            return kSuccess;
        }
        ++file.changes;
        file.pending.push_back(std::move(op));
        return batch.open() ? kSuccess : commit(file);
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

    // Records why an operation failed; the text stays until another operation fails.
    Status failure(Status status, std::string reason) {
        lastFailure = std::move(reason);
        ++failuresReported;
        return status;
    }

    Status store(HiveFile& file) {
        try {
            makeDirectory();
            hive::DirectoryLock lock(*dir, formats::kLockTimeout);
            if (!lock.held()) {
                return failure(kBusy, "another program kept the registry directory " +
                                          path.string() + " locked; " + file.path.string() +
                                          " was not written");
            }
            WineserverStartLock server(*dir);
            if (server.running()) {
                return failure(kBusy, wineserverRefusal(path, *server.running()));
            }
            dir->removeLeftovers();
            makeMissingHives(file);
            // A program that takes no lock (Wine, an editor) may change the hive up to the
            // instant it is replaced: the change is then made again on what it wrote.
            for (int attempt = 1;; ++attempt) {
                refresh(file);
                if (file.readOnly()) {
                    return failure(kAccessDenied, readOnlyReason(file));
                }
                try {
                    file.signature = hive::replaceHive(*dir, file.fileName,
                                                       file.document->serialize(), file.signature);
                    break;
                } catch (const hive::FileChanged&) {
                    if (attempt == kReadAttempts) {
                        throw;
                    }
                }
            }
            if (const auto late = server.startedBefore(bootTicksNow())) {
                return failure(kBusy, serverStartedMeanwhile(file.path, *late));
            }
        } catch (const hive::LockFileError& error) {
            // Not the hive's access: the lock file's own problem, which its text names.
            return failure(kRegistryIoFailed, error.what());
        } catch (const hive::FileError& error) {
            return failure(statusOf(error), error.what());
        } catch (const std::exception& error) {
            return failure(kRegistryIoFailed, error.what());
        }
        return kSuccess;
    }

    // Runs `operation` with the hive of `handle` up to date; failures of the files become
    // statuses, as the registry reports its own I/O failures.
    template <typename Operation>
    Status withBase(KeyHandle handle, Operation operation) {
        const std::uint64_t reportedBefore = failuresReported;
        auto base = baseOf(handle);
        const Status status = base ? withHive(*base, operation) : kInvalidHandle;
        if (status != kSuccess && failuresReported == reportedBefore) {
            // A refusal with nothing more to say than its status replaces an older reason.
            lastFailure = status == kAccessDenied && base->hive->readOnly()
                              ? readOnlyReason(*base->hive)
                              : std::string();
        }
        return status;
    }

    template <typename Operation>
    Status withHive(Base& base, Operation operation) {
        try {
            refresh(*base.hive);
        } catch (const hive::FileError& error) {
            return failure(statusOf(error), error.what());
        } catch (const std::exception& error) {
            return failure(kRegistryIoFailed, error.what());
        }
        // Reading more of the hive can fail as the first reading could.
        try {
            if (base.open != nullptr) {
                cover(*base.hive, base.path);
            }
            if (base.open != nullptr && keyOf(*base.open) == nullptr) {
                return kKeyDeleted;
            }
            return operation(base);
        } catch (const hive::FileError& error) {
            return failure(statusOf(error), error.what());
        } catch (const StoreError& error) {
            return failure(kRegistryIoFailed, error.what());
        }
    }

    template <typename Operation>
    Status withOpenKey(KeyHandle handle, std::uint32_t rights, Operation operation) {
        return withBase(handle, [&](Base& base) {
            if ((base.access & rights) == 0) {
                return kAccessDenied;
            }
            cover(*base.hive, base.path);
            Key* key = base.open != nullptr ? keyOf(*base.open) : find(*base.hive, base.path);
            if (key == nullptr) {
                return kFileNotFound;
            }
            return operation(*base.hive, base.path, *key);
        });
    }

    // Quorvane's own store is made at its first write, not when it is only read.
    void makeDirectory() {
        if (dir) {
            return;
        }
        auto made = formats::Folder::make(path);
        if (!made) {
            throw hive::FileError("cannot create the registry directory", path,
                                  made.failure().error);
        }
        dir = std::move(made).value();
    }

    // Quorvane's own store holds both hives, with valid headers, from its first write on.
    void makeMissingHives(const HiveFile& written) {
        if (creation != Creation::CreateIfMissing) {
            return;
        }
        for (HiveFile* file : {&user, &machine}) {
            if (file != &written && !hive::examineHive(*dir, file->fileName)) {
                hive::replaceHive(*dir, file->fileName, Document::headerFor(file->branch),
                                  std::nullopt);
            }
        }
    }
};

HiveStore::HiveStore(std::filesystem::path directory, Creation creation, Use use)
    : impl_(std::make_unique<Impl>()) {
    std::optional<formats::Folder>& dir = impl_->dir;
    impl_->creation = creation;
    impl_->use = use;
    impl_->path = directory;
    try {
        dir = hive::openDirectory(directory);
    } catch (const hive::FileError& error) {
        if (error.error() != ENOENT || creation != Creation::CreateIfMissing) {
            throw StoreError(std::string("The registry directory cannot be used: ") + error.what());
        }
        // Made at the first write.
    }
    // A read only notes a server, so Wine's own places suffice; a change is refused beside one
    // wherever it runs.
    if (dir && use == Use::ReadOnly) {
        if (const auto server = findWineserverInItsPlaces(*dir)) {
            impl_->readingNote = wineserverReadingNote(directory, *server);
        }
    } else if (const auto server = dir ? findRunningWineserver(*dir) : std::nullopt) {
        throw StoreError(wineserverRefusal(directory, *server));
    }
    try {
        for (HiveFile* file : {&impl_->user, &impl_->machine}) {
            file->path = directory / file->fileName;
            impl_->refresh(*file);
        }
    } catch (const StoreError&) {
        throw;
    } catch (const std::exception& failure) {
        throw StoreError(failure.what());
    }
}

HiveStore::~HiveStore() {
    if (impl_->batch.closeAll()) {
        static_cast<void>(storePending());  // a destructor has no one to report to
    }
}

Status HiveStore::openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                          KeyHandle& result) {
    return impl_->withBase(parent, [&](Base& base) {
        Path path = base.path;
        if (const Status status = appendSubKey(subKey, path); status != kSuccess) {
            return status;
        }
        impl_->cover(*base.hive, path);
        Walk found = walk(*base.hive, path);
        if (!found.complete) {
            return kFileNotFound;
        }
        if ((access & kWrite) != 0 && base.hive->readOnly()) {
            return kAccessDenied;
        }
        result = impl_->newHandle(*base.hive, std::move(found.real), access);
        return kSuccess;
    });
}

Status HiveStore::createKey(KeyHandle parent, const std::string& subKey, KeyHandle& result) {
    return impl_->withBase(parent, [&](Base& base) {
        Path path = base.path;
        if (const Status status = appendSubKey(subKey, path); status != kSuccess) {
            return status;
        }
        impl_->cover(*base.hive, path);
        Walk found = walk(*base.hive, path);
        HiveFile& file = *base.hive;
        if (found.complete) {
            result = impl_->newHandle(file, std::move(found.real),
                                      file.readOnly() ? kKeyRead : kKeyAllAccess);
            return kSuccess;
        }
        if (file.readOnly() || (base.access & kCreate) == 0) {
            return kAccessDenied;
        }
        const Status status =
            impl_->perform(file, WriteOp::onKey(WriteOp::Kind::CreateKey, found.real));
        if (status == kSuccess) {
            result = impl_->newHandle(file, walk(file, found.real).real, kKeyAllAccess);
        }
        return status;
    });
}

Status HiveStore::setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) {
    return impl_->withOpenKey(key, kSet, [&](HiveFile& file, const Path& path, Key&) {
        if (file.readOnly()) {
            return kAccessDenied;
        }
        if (data == nullptr && size != 0) {
            return kInvalidParameter;
        }
        hive::ValueData value{type, storedValueData(type, data, size)};
        return impl_->perform(file, WriteOp::onValue(WriteOp::Kind::SetValue, path,
                                                     formats::utf8ToUtf16(name), std::move(value)));
    });
}

Status HiveStore::queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) {
    return impl_->withOpenKey(key, kQuery, [&](HiveFile&, const Path&, Key& stored) {
        auto value = stored.value(hive::foldName(formats::utf8ToUtf16(name)));
        if (!value) {
            return kFileNotFound;
        }
        return copyOutValue(value->type, value->bytes, type, data, size);
    });
}

Status HiveStore::deleteKey(KeyHandle key, const std::string& subKey) {
    return impl_->withBase(key, [&](Base& base) {
        Path path = base.path;
        if (const Status status = appendSubKey(subKey, path); status != kSuccess) {
            return status;
        }
        impl_->cover(*base.hive, path);
        const Walk found = walk(*base.hive, path);
        if (!found.complete) {
            return kFileNotFound;
        }
        if (base.hive->readOnly() || found.key->parent() == nullptr ||
            !found.key->children().empty()) {
            return kAccessDenied;
        }
        const Status status =
            impl_->perform(*base.hive, WriteOp::onKey(WriteOp::Kind::DeleteKey, found.real));
        if (status == kSuccess) {
            impl_->forgetHandlesTo(*base.hive, found.real);
        }
        return status;
    });
}

Status HiveStore::deleteValue(KeyHandle key, const std::string& name) {
    return impl_->withOpenKey(key, kSet, [&](HiveFile& file, const Path& path, Key& stored) {
        if (file.readOnly()) {
            return kAccessDenied;
        }
        std::u16string wide = formats::utf8ToUtf16(name);
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
    impl_->batch.enter();
}

StoreFailures HiveStore::endBatch() {
    return impl_->batch.leave() ? storePending() : StoreFailures{};
}

StoreFailures HiveStore::storePending() {
    StoreFailures failures;
    for (auto [file, root] :
         {std::pair{&impl_->user, kCurrentUser}, std::pair{&impl_->machine, kLocalMachine}}) {
        const Status status = impl_->commit(*file);
        if (status != kSuccess) {
            failures.push_back({root, status, impl_->lastFailure});
        }
    }
    return failures;
}

const std::filesystem::path& HiveStore::directory() const {
    return impl_->path;
}

const std::string& HiveStore::readingNote() const {
    return impl_->readingNote;
}

std::string HiveStore::lastFailure() const {
    return impl_->lastFailure;
}

Status HiveStore::enumKey(KeyHandle key, std::uint32_t index, std::string& name) {
    return impl_->withOpenKey(key, kEnumerate, [&](HiveFile&, const Path&, Key& stored) {
        if (index >= stored.children().size()) {
            return kNoMoreItems;
        }
        name = formats::utf16ToUtf8(stored.children()[index]->name());
        return kSuccess;
    });
}

Status HiveStore::enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                            std::uint32_t& type, std::string& data) {
    // An enumeration lists the key as it was at index 0, with this store's own changes since:
    // the later indexes need no look at the files.
    if (const auto open = impl_->handles.find(key); index > 0 && open != impl_->handles.end()) {
        const OpenKey& handle = open->second;
        if (handle.listedKey != nullptr && handle.listedAt == handle.hive->changes &&
            !handle.deleted) {
            if (index >= handle.listed.size()) {
                return kNoMoreItems;
            }
            const auto& [spelled, value] = handle.listed[index];
            name = spelled;
            type = value.type;
            data = value.bytes;
            return kSuccess;
        }
    }
    return impl_->withOpenKey(key, kQuery, [&](HiveFile& file, const Path&, Key& stored) {
        const auto list = [&] {
            std::vector<std::pair<std::string, hive::ValueData>> listed;
            for (auto& [spelled, value] : stored.values()) {
                // The data as a query gives it, strings in the narrow encoding.
                // UTF-8 takes at most 3 bytes for the 2 of a UTF-16 unit.
                hive::ValueData queried{value.type,
                                        std::string(value.bytes.size() * 3 / 2 + 4, '\0')};
                auto size = static_cast<std::uint32_t>(queried.bytes.size());
                if (copyOutValue(value.type, value.bytes, nullptr,
                                 reinterpret_cast<std::uint8_t*>(queried.bytes.data()),
                                 &size) == kMoreData) {
                    queried.bytes.resize(size);
                    copyOutValue(value.type, value.bytes, nullptr,
                                 reinterpret_cast<std::uint8_t*>(queried.bytes.data()), &size);
                }
                queried.bytes.resize(size);
                listed.emplace_back(formats::utf16ToUtf8(spelled), std::move(queried));
            }
            return listed;
        };
        // A handle lists the key once for all its indexes; a predefined root has no handle.
        const auto open = impl_->handles.find(key);
        std::vector<std::pair<std::string, hive::ValueData>> listedNow;
        const std::vector<std::pair<std::string, hive::ValueData>>* listed = &listedNow;
        if (open != impl_->handles.end()) {
            OpenKey& handle = open->second;
            if (handle.listedKey != &stored || handle.listedAt != file.changes) {
                handle.listed = list();
                handle.listedKey = &stored;
                handle.listedAt = file.changes;
            }
            listed = &handle.listed;
        } else {
            listedNow = list();
        }
        if (index >= listed->size()) {
            return kNoMoreItems;
        }
        const auto& [spelled, value] = (*listed)[index];
        name = spelled;
        type = value.type;
        data = value.bytes;
        return kSuccess;
    });
}

}  // namespace quorvane::platform
