#include "platform/offline_registry.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "platform/access_rights.h"
#include "platform/batch_depth.h"
#include "platform/hive_io.h"
#include "platform/hive_text.h"
#include "platform/letter_case.h"
#include "platform/offline_hive_file.h"
#include "platform/regf_cells.h"
#include "platform/regf_header.h"
#include "platform/value_data.h"

namespace quorvane::platform {

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;  // key names below a hive's root, as given

constexpr Status kBadPathname = 161;
// How long a change waits for another writer of the installation to finish.
constexpr std::chrono::seconds kLockWait{20};

// Memory hivex hands over, freed with free().
template <typename T>
struct Freed {
    T* pointer;
    explicit Freed(T* p) : pointer(p) {}
    ~Freed() { std::free(pointer); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
};

std::string nodeName(hive_h* h, hive_node_h node) {
    const Freed<char> name(hivex_node_name(h, node));
    return name.pointer != nullptr ? std::string(name.pointer, hivex_node_name_len(h, node))
                                   : std::string();
}

std::string valueName(hive_h* h, hive_value_h value) {
    const Freed<char> name(hivex_value_key(h, value));
    return name.pointer != nullptr ? std::string(name.pointer, hivex_value_key_len(h, value))
                                   : std::string();
}

// hivex keeps a value's type in its enum, whose range does not cover every type a hive may hold:
// types go in and out as their 32 bits.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));

char* valueBytes(hive_h* h, hive_value_h value, std::uint32_t& type, std::size_t& length) {
    return hivex_value_value(h, value, reinterpret_cast<hive_type*>(&type), &length);
}

hive_set_value valueToSet(std::string& name, std::uint32_t type, std::string& bytes) {
    hive_set_value value{name.data(), hive_t_REG_NONE, bytes.size(), bytes.data()};
    std::memcpy(&value.t, &type, sizeof type);
    return value;
}

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

bool sameName(std::string_view a, std::string_view b) {
    return equalIgnoringCase(a, b);
}

// Splits a narrow sub-key path as Windows does: doubled and trailing backslashes count for
// nothing, a leading one is refused.
Status appendSubKey(std::string_view subKey, Names& names) {
    if (!subKey.empty() && subKey.front() == '\\') {
        return kBadPathname;
    }
    std::size_t start = 0;
    while (start <= subKey.size()) {
        const std::size_t end = std::min(subKey.find('\\', start), subKey.size());
        if (end > start) {
            names.emplace_back(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return kSuccess;
}

std::string foldedPath(const Names& names) {
    std::string path;
    for (const std::string& name : names) {
        path += foldedCase(name) + '\\';
    }
    return path;
}

struct ValueCopy {
    std::uint32_t type;
    std::string bytes;
    bool operator==(const ValueCopy&) const = default;
};

// A change, kept until its hive is written so that the new file can be checked against it.
struct Change {
    Names path;
    std::optional<std::string> value;  // none for a change to the key itself
};

}  // namespace

struct HiveRead {
    offline::HiveImage image;
    hive_h* h;  // read only, on the image's bytes

    HiveRead(offline::HiveImage read, hive_h* handle) : image(std::move(read)), h(handle) {}
    HiveRead(const HiveRead&) = delete;
    HiveRead& operator=(const HiveRead&) = delete;
    ~HiveRead() { hivex_close(h); }
};

namespace {

struct Hive {
    KeyHandle root = 0;
    OfflineHive where;
    std::optional<formats::Folder> place;  // the hive's folder, opened once
    std::string name;
    // The version read, whole, in memory of this process's own; hivex reads these very bytes,
    // and so do the checks of its cells. Other registries of the installation may share it.
    std::shared_ptr<const HiveRead> read;
    std::optional<regf::Cells> cells;
    hive_h* h = nullptr;             // what reads and changes go through: read's, or writableCopy
    hive_h* writableCopy = nullptr;  // this registry's own, from its first change
    std::unordered_set<std::uint32_t> intact;  // keys found intact for reading
    // The whole hive walked before its first change: the first damage, the keys hivex would
    // rewrite wrongly. Until then changes are refused, after it nothing of the image is checked
    // again: hivex changes only what was found intact, and makes its new cells itself.
    std::optional<regf::Cells::Survey> survey;
    std::vector<Change> pending;
    std::optional<StoreFailure> lost;  // changes held back that were dropped before the write
    bool backedUp = false;
    // Read from the image until the first change, then from a copy hivex holds and changes.
    bool writable = false;
    std::uint64_t generation = 0;  // changes whenever keys may have gone away

    Hive() = default;
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;
    ~Hive() { dropWritableCopy(); }
    void dropWritableCopy() {
        if (writableCopy != nullptr) {
            hivex_close(std::exchange(writableCopy, nullptr));
        }
    }
    const offline::HiveImage& image() const { return read->image; }
    const formats::Folder& folder() const { return *place; }
    const formats::FileSignature& version() const { return image().version(); }
    fs::path file() const { return place->pathOf(name); }
    // What the hive's file is now; nothing when it is gone. Throws hive::FileError.
    std::optional<formats::FileSignature> now() const {
        auto found = place->examine(name);
        if (!found) {
            throw hive::FileError(file(), found.failure().reason, found.failure().error);
        }
        return *found;
    }
};

// Whether the file of `hive` is still the version `image` holds.
bool stillHolds(const Hive& hive, const offline::HiveImage& image) {
    try {
        const auto now = hive.now();
        return now && now->untouchedSince(image.version());
    } catch (const hive::FileError&) {
        return false;  // reading it again says why
    }
}

// A version of the hive's file read into memory and opened with hivex, read only: throws
// StoreError naming the file when it cannot be read or its header says it must not be.
std::shared_ptr<const HiveRead> readVersion(const Hive& hive) {
    const fs::path file = hive.file();
    offline::HiveImage image = [&] {
        try {
            return offline::HiveImage::read(hive.folder(), hive.name);
        } catch (const hive::FileError& error) {
            throw StoreError("The hive " + std::string(error.what()) + ".");
        }
    }();
    const auto header = regf::parseBaseBlock(image.bytes());
    if (header && !header->checksumMatches) {
        throw StoreError("The hive " + file.string() +
                         " cannot be read: its header's checksum is wrong, as when Windows did "
                         "not finish writing it (" +
                         offline::kNotShutDown + "). To read it, " + offline::kShutDownAdvice +
                         ".");
    }
    hive_h* h = hivex_open(image.path().c_str(), 0);
    if (h == nullptr) {
        throw StoreError("The hive " + file.string() +
                         " cannot be read as a Windows registry hive (" + describeError(errno) +
                         "). Quorvane leaves it exactly as it is; restore it from a backup.");
    }
    return std::make_shared<const HiveRead>(std::move(image), h);
}

// Reads the hive (unless `given` holds its version now): throws StoreError naming the file when
// it cannot be read or is damaged where every read begins (its header, its root key).
void readHive(Hive& hive, std::shared_ptr<const HiveRead> given = nullptr) {
    std::shared_ptr<const HiveRead> read =
        given && stillHolds(hive, given->image) ? std::move(given) : readVersion(hive);
    regf::Cells cells(read->image.bytes());  // over the image's mapping, which stays where it is
    if (const std::string damage = cells.keyDamage(cells.root()); !damage.empty()) {
        throw StoreError("The hive " + hive.file().string() +
                         " is damaged: its root key cannot be read (" + damage +
                         "). Quorvane leaves it exactly as it is; restore it from a "
                         "backup.");
    }
    hive.dropWritableCopy();
    hive.h = read->h;
    hive.read = std::move(read);
    hive.intact = {cells.root()};
    hive.cells = std::move(cells);
    hive.survey.reset();
    hive.writable = false;
}

std::string pathText(const Names& names, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count && i < names.size(); ++i) {
        text += (i == 0 ? "" : "\\") + names[i];
    }
    return text.empty() ? "its root key" : "the key " + text;
}

std::string damaged(const Hive& hive, int error) {
    return "the hive " + hive.file().string() + " is damaged where Quorvane read it (" +
           describeError(error) + ")";
}

std::string damagedAt(const Hive& hive, const std::string& where, const std::string& damage) {
    return "the hive " + hive.file().string() + " is damaged at " + where + " (" + damage +
           "); Quorvane reads nothing there and writes nothing into this hive";
}

// Where a handle points: a hive (none for HKEY_LOCAL_MACHINE itself, which holds only
// Software) and the key names below its root.
struct OpenKey {
    Hive* hive = nullptr;
    Names path;
    std::uint32_t access = kKeyAllAccess;
    bool deleted = false;
    hive_node_h cached = 0;
    std::uint64_t generation = 0;
};

}  // namespace

struct OfflineRegistry::Impl {
    Hive software;
    std::optional<Hive> user;
    fs::path backupFolder;
    std::vector<fs::path> backups;
    std::unordered_map<KeyHandle, OpenKey> handles;
    KeyHandle nextHandle = 0x1000;
    BatchDepth batch;
    std::string lastFailure;
    std::uint64_t failuresReported = 0;

    bool hibernated = false;
    // One writer per installation: held from the first change (or the batch's start) until
    // what it held back is written.
    std::optional<offline::InstallationLock> lock;
    std::string lockFailure;  // why the lock could not be had; a change then says it

    static void open(Hive& hive, KeyHandle root, OfflineHive where) {
        hive.root = root;
        hive.where = std::move(where);
        auto folder = formats::Folder::open(hive.where.file.parent_path());
        if (!folder) {
            throw StoreError("The folder " + hive.where.file.parent_path().string() + " " +
                             folder.failure().reason + ".");
        }
        hive.place.emplace(std::move(*folder));
        hive.name = hive.where.file.filename().string();
        hive.backedUp = hive.where.backedUp;
        readHive(hive, std::exchange(hive.where.read, nullptr));
    }

    // Reads the hive again from its file, dropping what memory holds.
    void reload(Hive& hive) {
        readHive(hive);
        ++hive.generation;
        for (auto& [handle, open] : handles) {
            open.cached = 0;
        }
    }

    Status failure(Status status, std::string reason) {
        lastFailure = std::move(reason);
        ++failuresReported;
        return status;
    }

    // Notices a new version of the file that another program wrote, while nothing is held back.
    Status refresh(Hive& hive) {
        if (!hive.pending.empty()) {
            return kSuccess;
        }
        try {
            const auto now = hive.now();
            if (!now || !now->untouchedSince(hive.version())) {
                reload(hive);
            }
        } catch (const std::exception& error) {
            return failure(kRegistryIoFailed, error.what());
        }
        return kSuccess;
    }

    // Takes the installation's lock unless this registry holds it, then reads again what
    // another writer changed before it.
    Status takeLock() {
        if (lock) {
            return kSuccess;
        }
        lock.emplace(software.folder(), kLockWait);
        if (!lock->held()) {
            lock.reset();
            return failure(kBusy,
                           "another program is changing the Windows installation (it holds "
                           "the lock on " +
                               software.folder().path().string() + "); nothing was written");
        }
        for (Hive* hive : hives()) {
            if (const Status status = refresh(*hive); status != kSuccess) {
                return status;
            }
        }
        return kSuccess;
    }

    void releaseLock() {
        for (Hive* hive : hives()) {
            if (!hive->pending.empty()) {
                return;
            }
        }
        lock.reset();
    }

    // Whether reading the key `node` of `hive` (the one at `path`'s first `depth` names) stays
    // within what was found intact; the reason for people when it does not.
    Status checkKey(Hive& hive, hive_node_h node, const Names& path, std::size_t depth) {
        if (hive.writable || hive.intact.contains(static_cast<std::uint32_t>(node))) {
            return kSuccess;
        }
        const std::string damage = hive.cells->keyDamage(static_cast<std::uint32_t>(node));
        if (!damage.empty()) {
            return failure(kRegistryIoFailed, damagedAt(hive, pathText(path, depth), damage));
        }
        hive.intact.insert(static_cast<std::uint32_t>(node));
        return kSuccess;
    }

    // Whether the value `value` of the key at `path` reads intact.
    Status checkValue(Hive& hive, hive_value_h value, const Names& path) {
        if (hive.writable) {
            return kSuccess;
        }
        const std::string damage = hive.cells->valueDamage(static_cast<std::uint32_t>(value));
        return damage.empty()
                   ? kSuccess
                   : failure(
                         kRegistryIoFailed,
                         damagedAt(hive, pathText(path, path.size()),
                                   "its value \"" +
                                       hive.cells->valueName(static_cast<std::uint32_t>(value)) +
                                       "\": " + damage));
    }

    // The child of `node` called `name`; 0 when there is none, errno set when the hive is
    // damaged there. hivex compares ASCII letters only; other names are compared here.
    static hive_node_h child(hive_h* h, hive_node_h node, const std::string& name) {
        errno = 0;
        if (isAscii(name)) {
            return hivex_node_get_child(h, node, name.c_str());
        }
        const Freed<hive_node_h> children(hivex_node_children(h, node));
        if (children.pointer == nullptr) {
            return 0;
        }
        for (hive_node_h* it = children.pointer; *it != 0; ++it) {
            if (sameName(nodeName(h, *it), name)) {
                return *it;
            }
        }
        return 0;
    }

    // The node at `path`: kFileNotFound when a key is missing, kRegistryIoFailed when the
    // hive is damaged on the way (a key whose lists cannot be read intact, or that lists itself
    // or a key above it among its sub-keys).
    Status find(Hive& hive, const Names& path, hive_node_h& node) {
        if (path.size() > regf::kDeepestKey) {
            return kBadPathname;
        }
        node = hivex_root(hive.h);
        std::vector<hive_node_h> above;
        for (std::size_t depth = 0; depth < path.size(); ++depth) {
            if (const Status status = checkKey(hive, node, path, depth); status != kSuccess) {
                return status;
            }
            above.push_back(node);
            node = child(hive.h, node, path[depth]);
            if (node == 0) {
                return errno != 0 ? failure(kRegistryIoFailed, damaged(hive, errno))
                                  : kFileNotFound;
            }
            if (std::find(above.begin(), above.end(), node) != above.end()) {
                return failure(kRegistryIoFailed,
                               damagedAt(hive, pathText(path, depth),
                                         "it lists itself or a key above it among its sub-keys"));
            }
        }
        return checkKey(hive, node, path, path.size());
    }

    // The hive and path below its root of `names` (from the predefined root `root` on).
    Status place(KeyHandle root, Hive*& hive, Names& names) {
        if (root == kCurrentUser) {
            if (!user) {
                return failure(kInvalidHandle, "no user's hive (NTUSER.DAT) is open");
            }
            hive = &*user;
            return kSuccess;
        }
        if (names.empty()) {
            hive = nullptr;  // HKEY_LOCAL_MACHINE itself
            return kSuccess;
        }
        if (!equalIgnoringCase(names.front(), "Software")) {
            return failure(kInvalidHandle,
                           "of HKEY_LOCAL_MACHINE only Software is in an offline "
                           "installation's hives; " +
                               names.front() + " is not");
        }
        names.erase(names.begin());
        hive = &software;
        return kSuccess;
    }

    struct Target {
        Hive* hive = nullptr;  // none: HKEY_LOCAL_MACHINE itself
        Names path;
        std::uint32_t access = kKeyAllAccess;
        OpenKey* open = nullptr;
    };

    // Where `handle` and `subKey` lead: kInvalidHandle for an unknown handle or a root that is
    // not here, kKeyDeleted for a handle whose key was deleted.
    Status target(KeyHandle handle, std::string_view subKey, Target& result) {
        KeyHandle root = handle;
        Names names;
        if (handle == kLocalMachine || handle == kCurrentUser) {
            result.access = kKeyAllAccess;
        } else if (isPredefinedRoot(handle)) {
            return failure(kInvalidHandle,
                           "an offline installation's hives hold only "
                           "HKEY_LOCAL_MACHINE\\Software and HKEY_CURRENT_USER");
        } else {
            const auto it = handles.find(handle);
            if (it == handles.end()) {
                return kInvalidHandle;
            }
            OpenKey& open = it->second;
            if (open.deleted) {
                return kKeyDeleted;
            }
            root = open.hive == nullptr || open.hive == &software ? kLocalMachine : kCurrentUser;
            if (root == kLocalMachine && open.hive != nullptr) {
                names.emplace_back("Software");
            }
            names.insert(names.end(), open.path.begin(), open.path.end());
            result.access = open.access;
            result.open = subKey.empty() ? &open : nullptr;
        }
        if (const Status status = appendSubKey(subKey, names); status != kSuccess) {
            return status;
        }
        if (const Status status = place(root, result.hive, names); status != kSuccess) {
            return status;
        }
        result.path = std::move(names);
        return result.hive != nullptr ? refresh(*result.hive) : kSuccess;
    }

    // The node of a target that must exist.
    Status node(Target& target, hive_node_h& node) {
        OpenKey* open = target.open;
        if (open != nullptr && open->cached != 0 && open->generation == target.hive->generation) {
            node = open->cached;
            return kSuccess;
        }
        const Status status = find(*target.hive, target.path, node);
        if (status == kSuccess && open != nullptr) {
            open->cached = node;
            open->generation = target.hive->generation;
        }
        return status;
    }

    KeyHandle newHandle(const Target& target, std::uint32_t access) {
        const KeyHandle handle = nextHandle;
        nextHandle += 4;
        handles.emplace(handle, OpenKey{target.hive, target.path, access});
        return handle;
    }

    // Runs `operation` with the reason of a failure recorded: a refusal that has nothing more to
    // say than its status clears an older reason.
    template <typename Operation>
    Status reported(Operation operation) {
        const std::uint64_t before = failuresReported;
        const Status status = operation();
        if (status != kSuccess && failuresReported == before) {
            lastFailure.clear();
        }
        return status;
    }

    // Makes one change through `change` and records it; outside a batch it is written at once.
    // A hive that may not be written is refused before memory changes.
    template <typename ChangeFn>
    Status perform(Hive& hive, Change record, ChangeFn change) {
        if (!lock) {
            return failure(kBusy, lockFailure);
        }
        if (hive.pending.empty() && !hive.lost) {
            if (const auto refusal =
                    offline::writeRefusal(hive.folder(), hive.name, hive.image(), hibernated)) {
                return failure(kWriteProtected, *refusal);
            }
        }
        if (!hive.writable) {
            if (!hive.survey) {
                hive.survey = hive.cells->survey();
            }
            if (!hive.survey->damage.empty()) {
                const std::string where =
                    hive.survey->where.empty() ? "its root key" : "the key " + hive.survey->where;
                return failure(kWriteProtected,
                               "the hive " + hive.file().string() + " is damaged at " + where +
                                   " (" + hive.survey->damage +
                                   "): Quorvane writes nothing into a hive it cannot read whole; "
                                   "it is left exactly as it is");
            }
            // The very bytes walked, now in a copy hivex may change: nodes stay where they were.
            hive_h* copy = hivex_open(hive.image().path().c_str(), HIVEX_OPEN_WRITE);
            if (copy == nullptr) {
                return failure(kRegistryIoFailed, damaged(hive, errno));
            }
            hive.writableCopy = copy;
            hive.h = copy;
            hive.writable = true;
        }
        errno = 0;
        if (!change()) {
            // Memory may hold half a change: it follows the file again, and what the batch
            // held back is reported as lost when the batch ends.
            const int error = errno;
            const std::string reason =
                "hivex could not change " + hive.file().string() + ": " + describeError(error);
            if (!hive.pending.empty()) {
                hive.lost = StoreFailure{hive.root, kRegistryIoFailed, reason};
            }
            hive.pending.clear();
            try {
                reload(hive);
            } catch (const std::exception&) {
            }
            return failure(kRegistryIoFailed, reason);
        }
        hive.pending.push_back(std::move(record));
        return batch.open() ? kSuccess : commit(hive);
    }

    // Refuses a change of the values of `node` that hivex would rewrite in a form Windows does
    // not read: a key that holds a value kept in big data, or a new value as large.
    Status checkRewrite(Hive& hive, hive_node_h node, const Names& path, std::uint32_t newSize) {
        if (!hive.writable && !hive.survey) {
            hive.survey = hive.cells->survey();
        }
        const bool bigNeighbour =
            hive.survey && hive.survey->bigDataKeys.contains(static_cast<std::uint32_t>(node));
        const bool bigNew = newSize > regf::kLargestValueInOneCell &&
                            regf::readUint32(hive.image().bytes(), 0x18) >= 4;
        if (!bigNeighbour && !bigNew) {
            return kSuccess;
        }
        return failure(kRegistryIoFailed,
                       "Quorvane cannot change the values of " + pathText(path, path.size()) +
                           " in " + hive.file().string() + ": " +
                           (bigNeighbour ? "it holds a value larger than 16 KB"
                                         : "the new value is larger than 16 KB") +
                           ", which hivex would store in a form Windows does not read; nothing "
                           "was written");
    }

    // The value of `node` called `name`: 0 when there is none, errno set when the hive is
    // damaged there. hivex compares ASCII letters only; other names are compared here.
    static hive_value_h valueHandle(hive_h* h, hive_node_h node, const std::string& name) {
        errno = 0;
        if (isAscii(name)) {
            return hivex_node_get_value(h, node, name.c_str());
        }
        const Freed<hive_value_h> values(hivex_node_values(h, node));
        for (hive_value_h* it = values.pointer; it != nullptr && *it != 0; ++it) {
            if (sameName(valueName(h, *it), name)) {
                return *it;
            }
        }
        return 0;
    }

    static std::optional<ValueCopy> copyOf(hive_h* h, hive_value_h value) {
        std::uint32_t type = 0;
        std::size_t length = 0;
        errno = 0;
        const Freed<char> data(valueBytes(h, value, type, length));
        if (data.pointer == nullptr && length != 0) {
            return std::nullopt;
        }
        return ValueCopy{type, std::string(data.pointer != nullptr ? data.pointer : "", length)};
    }

    // The value called `name` of the key `node` at `path`, read only where found intact:
    // kFileNotFound when there is none, kRegistryIoFailed when it is damaged.
    Status readValue(Hive& hive, hive_node_h node, const Names& path, const std::string& name,
                     std::optional<ValueCopy>& out, std::string* storedName = nullptr) {
        const hive_value_h value = valueHandle(hive.h, node, name);
        if (value == 0) {
            return errno != 0 ? failure(kRegistryIoFailed, damaged(hive, errno)) : kFileNotFound;
        }
        if (const Status status = checkValue(hive, value, path); status != kSuccess) {
            return status;
        }
        out = copyOf(hive.h, value);
        if (!out) {
            return failure(kRegistryIoFailed, damaged(hive, errno));
        }
        if (storedName != nullptr) {
            *storedName = valueName(hive.h, value);
        }
        return kSuccess;
    }

    // What `change` left in `h`: whether its key exists and, for a value, the value.
    static std::pair<bool, std::optional<ValueCopy>> stateOf(hive_h* h, const Change& change) {
        hive_node_h node = hivex_root(h);
        for (const std::string& name : change.path) {
            node = node != 0 ? child(h, node, name) : 0;
        }
        if (node == 0 || !change.value) {
            return {node != 0, std::nullopt};
        }
        const hive_value_h value = valueHandle(h, node, *change.value);
        return {true, value != 0 ? copyOf(h, value) : std::nullopt};
    }

    // A new version of a hive, read back whole.
    struct ReadBack {
        std::shared_ptr<HiveRead> read;
        std::optional<regf::Cells> cells;
        std::optional<regf::Cells::Survey> survey;
    };

    // The new file (open as `fd`) must read back whole, and hold what memory holds wherever
    // this write changed something.
    static void verify(const Hive& hive, int fd, ReadBack& back) {
        const std::string what = "the new version of " + hive.file().string();
        std::optional<offline::HiveImage> image;
        try {
            image = offline::HiveImage::read(fd, hive.file());
        } catch (const std::exception& error) {
            throw std::runtime_error(what + " cannot be read back: " + error.what());
        }
        back.cells.emplace(image->bytes());
        back.survey = back.cells->survey();
        if (!back.survey->damage.empty()) {
            throw std::runtime_error(
                what + " does not read back whole (at " +
                (back.survey->where.empty() ? "its root key" : back.survey->where) + ": " +
                back.survey->damage + ")");
        }
        hive_h* fresh = hivex_open(image->path().c_str(), 0);
        if (fresh == nullptr) {
            throw std::runtime_error(what + " does not open: " + describeError(errno));
        }
        back.read = std::make_shared<HiveRead>(std::move(*image), fresh);
        std::optional<std::string> mismatch;
        for (const Change& change : hive.pending) {
            if (stateOf(fresh, change) != stateOf(hive.h, change)) {
                std::string where;
                for (const std::string& name : change.path) {
                    where += name + "\\";
                }
                mismatch = where + change.value.value_or("");
                break;
            }
        }
        if (mismatch) {
            throw std::runtime_error(what + " did not read back as written at " + *mismatch);
        }
    }

    static Status statusOf(const hive::FileError& error) {
        switch (error.error()) {
            case EACCES:
            case EPERM:
            case EROFS:
                return kAccessDenied;
            default:
                return kRegistryIoFailed;
        }
    }

    // Writes what memory holds back to the hive, keeping a copy first; on any failure the file
    // stays as it was and memory follows it again.
    Status commit(Hive& hive) {
        if (hive.lost) {
            const StoreFailure lost = *hive.lost;
            hive.lost.reset();
            return failure(lost.status, lost.reason);
        }
        if (hive.pending.empty()) {
            return kSuccess;
        }
        Status status = kSuccess;
        std::optional<fs::path> copy;
        bool renamed = false;
        ReadBack back;
        try {
            const auto now = hive.now();
            if (!now || !now->untouchedSince(hive.version())) {
                throw hive::FileChanged(hive.file(),
                                        "was changed by another program since Quorvane read it; "
                                        "nothing was written",
                                        EAGAIN);
            }
            formats::FileSignature expected = hive.version();
            if (!hive.backedUp) {
                copy = offline::keepBackup(hive.folder(), hive.name, hive.image(), backupFolder,
                                           hive.where.label);
                // A copy that is a second name of the hive changed its change time alone.
                const auto linked = hive.now();
                if (!linked || !linked->sameVersion(expected)) {
                    throw hive::FileChanged(hive.file(),
                                            "was changed by another program since Quorvane read "
                                            "it; nothing was written",
                                            EAGAIN);
                }
                expected = *linked;
            }
            const formats::FileSignature written = offline::replaceHive(
                hive.folder(), hive.name, expected, hive.image().accessed(),
                [&](int fd) {
                    // hivex opens the name it is given: the name of this very descriptor, so
                    // that nothing put at the file's name can lead the write elsewhere.
                    const std::string self = "/proc/self/fd/" + std::to_string(fd);
                    if (hivex_commit(hive.h, self.c_str(), 0) != 0) {
                        throw hive::FileError("cannot write", hive.file(), errno);
                    }
                },
                [&](int fd) { verify(hive, fd, back); }, renamed);
            // Memory holds what the file holds now: the image read back is the hive's.
            back.read->image.becameHive(written, hive.image().accessed());
            hive.read = std::move(back.read);
            hive.cells = std::move(back.cells);
            hive.survey = std::move(back.survey);
            if (copy) {
                backups.push_back(*copy);
                hive.backedUp = true;
                offline::pruneBackups(backupFolder, hive.where.label);
            }
        } catch (const hive::FileChanged& error) {
            status = failure(kBusy, error.what());
        } catch (const hive::FileError& error) {
            status = failure(statusOf(error), error.what());
        } catch (const std::exception& error) {
            status = failure(kRegistryIoFailed, error.what());
        }
        hive.pending.clear();
        if (status != kSuccess) {
            if (copy) {
                // Until the rename the copy taken for this write is the hive as it still is;
                // after it (a flush that failed), the copy is all that is left of the past.
                if (!renamed) {
                    std::error_code ignored;
                    fs::remove(*copy, ignored);
                } else {
                    backups.push_back(*copy);
                    hive.backedUp = true;
                }
            }
            try {
                reload(hive);
            } catch (const std::exception&) {
                // The next operation reports the file's trouble.
            }
        }
        return status;
    }

    // Runs `operation` (Target&, node) on the key behind `handle`, which must carry one of the
    // rights `needed`; `atMachine` answers for HKEY_LOCAL_MACHINE itself, which holds no values.
    template <typename Operation>
    Status onKey(KeyHandle handle, std::uint32_t needed, Status atMachine, Operation operation) {
        return reported([&] {
            Target found;
            if (const Status status = target(handle, "", found); status != kSuccess) {
                return status;
            }
            if ((found.access & needed) == 0) {
                return kAccessDenied;
            }
            if (found.hive == nullptr) {
                return atMachine;
            }
            hive_node_h key = 0;
            if (const Status status = node(found, key); status != kSuccess) {
                return status;
            }
            return operation(found, key);
        });
    }

    // Runs the change `operation` with the installation's lock held: taken first unless a
    // batch holds it, given back after it unless a batch or a held-back change keeps it.
    template <typename Operation>
    Status changing(Operation operation) {
        return reported([&] {
            if (!lock && lockFailure.empty()) {
                if (takeLock() != kSuccess) {
                    lockFailure = lastFailure;
                }
            }
            const Status status = lock ? operation() : failure(kBusy, lockFailure);
            if (!batch.open()) {
                lockFailure.clear();
                releaseLock();
            }
            return status;
        });
    }

    std::vector<Hive*> hives() {
        std::vector<Hive*> all{&software};
        if (user) {
            all.push_back(&*user);
        }
        return all;
    }
};

OfflineRegistry::OfflineRegistry(OfflineHives hives) : impl_(std::make_unique<Impl>()) {
    impl_->backupFolder = std::move(hives.backups);
    impl_->hibernated = hives.hibernated;
    Impl::open(impl_->software, kLocalMachine, std::move(hives.software));
    if (hives.user) {
        impl_->user.emplace();
        Impl::open(*impl_->user, kCurrentUser, std::move(*hives.user));
    }
}

OfflineRegistry::~OfflineRegistry() {
    if (impl_->batch.closeAll()) {
        static_cast<void>(storePending());  // a destructor has no one to report to
    }
}

Status OfflineRegistry::openKey(KeyHandle parent, const std::string& subKey, std::uint32_t access,
                                KeyHandle& result) {
    return impl_->reported([&] {
        Impl::Target target;
        if (const Status status = impl_->target(parent, subKey, target); status != kSuccess) {
            return status;
        }
        hive_node_h node = 0;
        if (target.hive != nullptr) {
            if (const Status status = impl_->node(target, node); status != kSuccess) {
                return status;
            }
        }
        result = impl_->newHandle(target, access);
        return kSuccess;
    });
}

Status OfflineRegistry::createKey(KeyHandle parent, const std::string& subKey, KeyHandle& result) {
    return impl_->changing([&] {
        Impl::Target target;
        if (const Status status = impl_->target(parent, subKey, target); status != kSuccess) {
            return status;
        }
        if (target.hive == nullptr) {
            result = impl_->newHandle(target, kKeyAllAccess);
            return kSuccess;
        }
        Hive& hive = *target.hive;
        hive_node_h node = 0;
        const Status found = impl_->find(hive, target.path, node);
        if (found == kSuccess) {
            result = impl_->newHandle(target, kKeyAllAccess);
            return kSuccess;
        }
        if (found != kFileNotFound) {
            return found;
        }
        if ((target.access & rights::kCreate) == 0) {
            return kAccessDenied;
        }
        const Status status = impl_->perform(hive, Change{target.path, std::nullopt}, [&] {
            hive_node_h key = hivex_root(hive.h);
            for (const std::string& name : target.path) {
                hive_node_h next = Impl::child(hive.h, key, name);
                if (next == 0 && errno == 0) {
                    next = hivex_node_add_child(hive.h, key, name.c_str());
                }
                if (next == 0) {
                    return false;
                }
                key = next;
            }
            return true;
        });
        if (status == kSuccess) {
            result = impl_->newHandle(target, kKeyAllAccess);
        }
        return status;
    });
}

Status OfflineRegistry::setValue(KeyHandle key, const std::string& name, std::uint32_t type,
                                 const std::uint8_t* data, std::uint32_t size) {
    return impl_->changing([&] {
        return impl_->onKey(
            key, rights::kSet, kAccessDenied, [&](Impl::Target& target, hive_node_h node) {
                if (data == nullptr && size != 0) {
                    return kInvalidParameter;
                }
                Hive& hive = *target.hive;
                if (const Status status = impl_->checkRewrite(hive, node, target.path, size);
                    status != kSuccess) {
                    return status;
                }
                std::string bytes = storedValueData(type, data, size);
                // A value that is there keeps its name as written, as on Windows.
                std::string stored = name;
                if (const hive_value_h there = Impl::valueHandle(hive.h, node, name); there != 0) {
                    stored = valueName(hive.h, there);
                }
                return impl_->perform(hive, Change{target.path, name}, [&] {
                    hive_set_value value = valueToSet(stored, type, bytes);
                    return hivex_node_set_value(hive.h, node, &value, 0) == 0;
                });
            });
    });
}

Status OfflineRegistry::queryValue(KeyHandle key, const std::string& name, std::uint32_t* type,
                                   std::uint8_t* data, std::uint32_t* size) {
    return impl_->onKey(key, rights::kQuery, kFileNotFound,
                        [&](Impl::Target& target, hive_node_h node) {
                            std::optional<ValueCopy> value;
                            if (const Status status =
                                    impl_->readValue(*target.hive, node, target.path, name, value);
                                status != kSuccess) {
                                return status;
                            }
                            return copyOutValue(value->type, value->bytes, type, data, size);
                        });
}

Status OfflineRegistry::deleteKey(KeyHandle key, const std::string& subKey) {
    return impl_->changing([&] {
        Impl::Target target;
        if (const Status status = impl_->target(key, subKey, target); status != kSuccess) {
            return status;
        }
        if (target.hive == nullptr || target.path.empty()) {
            return kAccessDenied;  // a root is never deleted
        }
        Hive& hive = *target.hive;
        hive_node_h node = 0;
        if (const Status status = impl_->find(hive, target.path, node); status != kSuccess) {
            return status;
        }
        if (hivex_node_nr_children(hive.h, node) != 0) {
            return kAccessDenied;
        }
        // hivex finds the key's link in the list of the parent its record names.
        hive_node_h parent = 0;
        Names above(target.path.begin(), target.path.end() - 1);
        if (const Status status = impl_->find(hive, above, parent); status != kSuccess) {
            return status;
        }
        if (hivex_node_parent(hive.h, node) != parent) {
            return impl_->failure(kRegistryIoFailed,
                                  damagedAt(hive, pathText(target.path, target.path.size()),
                                            "its record names another key as its parent"));
        }
        const Status status = impl_->perform(hive, Change{target.path, std::nullopt}, [&] {
            return hivex_node_delete_child(hive.h, node) == 0;
        });
        ++hive.generation;
        if (status == kSuccess) {
            const std::string gone = foldedPath(target.path);
            for (auto& [handle, open] : impl_->handles) {
                if (open.hive == &hive && foldedPath(open.path) == gone) {
                    open.deleted = true;
                }
            }
        }
        return status;
    });
}

Status OfflineRegistry::deleteValue(KeyHandle key, const std::string& name) {
    return impl_->changing([&] {
        return impl_->onKey(
            key, rights::kSet, kAccessDenied, [&](Impl::Target& target, hive_node_h node) {
                Hive& hive = *target.hive;
                const hive_value_h gone = Impl::valueHandle(hive.h, node, name);
                if (gone == 0) {
                    return errno != 0 ? impl_->failure(kRegistryIoFailed, damaged(hive, errno))
                                      : kFileNotFound;
                }
                if (const Status status = impl_->checkRewrite(hive, node, target.path, 0);
                    status != kSuccess) {
                    return status;
                }
                // hivex sets a key's values as a whole: all of them but this one, each read
                // intact first; one that cannot be is never dropped.
                std::vector<std::pair<std::string, ValueCopy>> kept;
                const Freed<hive_value_h> values(hivex_node_values(hive.h, node));
                if (values.pointer == nullptr) {
                    return impl_->failure(kRegistryIoFailed, damaged(hive, errno));
                }
                for (hive_value_h* it = values.pointer; *it != 0; ++it) {
                    if (*it == gone) {
                        continue;
                    }
                    if (const Status status = impl_->checkValue(hive, *it, target.path);
                        status != kSuccess) {
                        return status;
                    }
                    auto copy = Impl::copyOf(hive.h, *it);
                    if (!copy) {
                        return impl_->failure(kRegistryIoFailed, damaged(hive, errno));
                    }
                    kept.emplace_back(valueName(hive.h, *it), std::move(*copy));
                }
                return impl_->perform(hive, Change{target.path, name}, [&] {
                    std::vector<hive_set_value> rest;
                    for (auto& [valueName, copy] : kept) {
                        rest.push_back(valueToSet(valueName, copy.type, copy.bytes));
                    }
                    return hivex_node_set_values(hive.h, node, rest.size(), rest.data(), 0) == 0;
                });
            });
    });
}

Status OfflineRegistry::closeKey(KeyHandle key) {
    if (isPredefinedRoot(key)) {
        return kSuccess;
    }
    return impl_->handles.erase(key) == 1 ? kSuccess : kInvalidHandle;
}

Status OfflineRegistry::enumKey(KeyHandle key, std::uint32_t index, std::string& name) {
    return impl_->reported([&] {
        Impl::Target target;
        if (const Status status = impl_->target(key, "", target); status != kSuccess) {
            return status;
        }
        if ((target.access & rights::kEnumerate) == 0) {
            return kAccessDenied;
        }
        if (target.hive == nullptr) {
            if (index > 0) {
                return kNoMoreItems;
            }
            name = "Software";
            return kSuccess;
        }
        hive_node_h node = 0;
        if (const Status status = impl_->node(target, node); status != kSuccess) {
            return status;
        }
        const Freed<hive_node_h> children(hivex_node_children(target.hive->h, node));
        if (children.pointer == nullptr) {
            return impl_->failure(kRegistryIoFailed, damaged(*target.hive, errno));
        }
        for (std::uint32_t i = 0; children.pointer[i] != 0; ++i) {
            if (i == index) {
                name = nodeName(target.hive->h, children.pointer[i]);
                return kSuccess;
            }
        }
        return kNoMoreItems;
    });
}

Status OfflineRegistry::enumValue(KeyHandle key, std::uint32_t index, std::string& name,
                                  std::uint32_t& type, std::string& data) {
    return impl_->onKey(
        key, rights::kQuery, kNoMoreItems, [&](Impl::Target& target, hive_node_h node) {
            hive_h* h = target.hive->h;
            const Freed<hive_value_h> values(hivex_node_values(h, node));
            if (values.pointer == nullptr) {
                return impl_->failure(kRegistryIoFailed, damaged(*target.hive, errno));
            }
            for (std::uint32_t i = 0; values.pointer[i] != 0; ++i) {
                if (i != index) {
                    continue;
                }
                if (const Status status =
                        impl_->checkValue(*target.hive, values.pointer[i], target.path);
                    status != kSuccess) {
                    return status;
                }
                std::uint32_t stored = 0;
                std::size_t length = 0;
                const Freed<char> bytes(valueBytes(h, values.pointer[i], stored, length));
                if (bytes.pointer == nullptr && length != 0) {
                    return impl_->failure(kRegistryIoFailed, damaged(*target.hive, errno));
                }
                const std::string raw(bytes.pointer != nullptr ? bytes.pointer : "", length);
                std::uint32_t size = 0;
                copyOutValue(stored, raw, &type, nullptr, &size);
                std::string out(size, '\0');
                copyOutValue(stored, raw, &type, reinterpret_cast<std::uint8_t*>(out.data()),
                             &size);
                name = valueName(h, values.pointer[i]);
                data = std::move(out);
                return kSuccess;
            }
            return kNoMoreItems;
        });
}

void OfflineRegistry::beginBatch() {
    const bool outermost = !impl_->batch.open();
    impl_->batch.enter();
    // The batch's reads and changes see no other writer's half-done work.
    if (outermost && !impl_->lock && impl_->takeLock() != kSuccess) {
        impl_->lockFailure = impl_->lastFailure;
    }
}

StoreFailures OfflineRegistry::endBatch() {
    return impl_->batch.leave() ? storePending() : StoreFailures{};
}

StoreFailures OfflineRegistry::storePending() {
    StoreFailures failures;
    for (Hive* hive : impl_->hives()) {
        const Status status = impl_->commit(*hive);
        if (status != kSuccess) {
            failures.push_back({hive->root, status, impl_->lastFailure});
        }
    }
    if (!impl_->batch.open()) {
        impl_->lockFailure.clear();
        impl_->releaseLock();
    }
    return failures;
}

std::string OfflineRegistry::lastFailure() const {
    return impl_->lastFailure;
}

const std::vector<std::filesystem::path>& OfflineRegistry::backups() const {
    return impl_->backups;
}

std::shared_ptr<const HiveRead> OfflineRegistry::softwareRead() const {
    return impl_->software.read;
}

}  // namespace quorvane::platform
