#include "formats/file_access.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>

#include <array>
#include <system_error>
#else
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <deque>

#include "formats/user_database.h"
#endif

namespace quorvane::formats {

namespace {

namespace fs = std::filesystem;

FaultHook faultHook = nullptr;
std::atomic<bool> openat2Missing{false};

constexpr const char* kTemporaryMark = ".quorvane-";
constexpr std::uint32_t kKindMask = 0170000;
constexpr std::uint32_t kRegularKind = 0100000;
constexpr std::uint32_t kFolderKind = 0040000;
constexpr std::uint32_t kLinkKind = 0120000;

Failure fileFailure(long status, std::string reason, int error) {
    return Failure{status, std::move(reason), error};
}

#ifndef _WIN32
// Why a name could not be reached or used, after `action` ("cannot be read").
[[maybe_unused]] Failure refusal(const std::string& action, int error) {
    if (error == ELOOP) {
        return fileFailure(0, "is reached through a link, which Quorvane does not follow", error);
    }
    return fileFailure(0, action + ": " + describeError(error), error);
}

#endif

Failure notBeneath() {
    return fileFailure(0, "is not a name beneath its folder", EINVAL);
}

// What was read is stale; Windows' C library has no ESTALE, and another number says it there.
#ifdef ESTALE
constexpr int kStale = ESTALE;
#else
constexpr int kStale = EAGAIN;
#endif

Failure changedSinceRead(int error = kStale) {
    return fileFailure(kFileChanged, "it changed since it was read", error);
}

}  // namespace

void setFaultHook(FaultHook hook) {
    faultHook = hook;
}

int injectedFault(WriteStep step, const std::string& fileName) {
    return faultHook != nullptr ? faultHook(step, fileName) : 0;
}

std::string stepAction(WriteStep step) {
    switch (step) {
        case WriteStep::Lock:
            return "cannot lock";
        case WriteStep::Create:
            return "cannot create a new version of";
        case WriteStep::Write:
            return "cannot write";
        case WriteStep::Flush:
            return "cannot flush";
        case WriteStep::Rename:
            return "cannot replace";
        case WriteStep::FlushDirectory:
            break;
    }
    return "cannot flush the directory of";
}

void setOpenat2Missing(bool missing) {
    openat2Missing = missing;
}

bool FileSignature::sameVersion(const FileSignature& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && mode == other.mode;
}

bool FileSignature::untouchedSince(const FileSignature& other) const {
    return sameVersion(other) && changedSeconds == other.changedSeconds &&
           changedNanoseconds == other.changedNanoseconds;
}

bool FileSignature::regular() const {
    return (mode & kKindMask) == kRegularKind;
}

bool FileSignature::folder() const {
    return (mode & kKindMask) == kFolderKind;
}

bool FileSignature::link() const {
    return (mode & kKindMask) == kLinkKind;
}

// Exactly the names temporaryName() gives: ".NAME.quorvane-<process>-<number>". A user's own
// file that only looks alike (".user.reg.quorvane-notes") is no leftover of Quorvane's.
bool isTemporaryName(std::string_view name) {
    const auto mark = name.rfind(kTemporaryMark);
    if (name.size() < 2 || name.front() != '.' || mark == std::string_view::npos || mark < 2) {
        return false;
    }
    const std::string_view numbers = name.substr(mark + std::strlen(kTemporaryMark));
    const auto dash = numbers.find('-');
    const auto digitsOnly = [](std::string_view text) {
        return !text.empty() &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dash != std::string_view::npos && digitsOnly(numbers.substr(0, dash)) &&
           digitsOnly(numbers.substr(dash + 1));
}

bool FolderLock::Key::operator<(const Key& other) const {
    return std::pair(device, inode) < std::pair(other.device, other.inode);
}

namespace {

// A fresh name for each try: a forked process has its parent's random state, so the process is
// part of the name.
std::string temporaryName(const std::string& name) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
#ifdef _WIN32
    const unsigned long process = GetCurrentProcessId();
#else
    const long process = ::getpid();
#endif
    return "." + name + kTemporaryMark + std::to_string(process) + "-" +
           std::to_string(random() % 1000000000);
}

// The names of `relative`, or none when it is no name beneath a folder: absolute, or with "..".
std::optional<std::vector<fs::path>> namesOf(const fs::path& relative) {
    if (relative.has_root_path()) {
        return std::nullopt;
    }
    std::vector<fs::path> names;
    for (const fs::path& part : relative) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            return std::nullopt;
        }
        names.push_back(part);
    }
    return names;
}

}  // namespace

#ifndef _WIN32

namespace {

struct Identity {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

// The calling thread's file-system identity while alive: that of `identity` (none: unchanged).
// setfsuid and setfsgid act on the calling thread only; glibc's setgroups would change the
// groups of every thread of the process, so the raw system call sets this thread's alone.
class AsUser {
public:
    explicit AsUser(const Identity* identity) : identity_(identity) {
        if (identity_ == nullptr) {
            return;
        }
        const int count = ::getgroups(0, nullptr);
        saved_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        if (count > 0 && ::getgroups(count, saved_.data()) != count) {
            saved_.clear();
        }
        ok_ = ::syscall(SYS_setgroups, identity->groups.size(), identity->groups.data()) == 0;
        previousGid_ = ::setfsgid(identity->gid);
        previousUid_ = ::setfsuid(identity->uid);
        // Called with an invalid identity, both give the one in force.
        ok_ = ok_ && static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == identity->uid &&
              static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == identity->gid;
    }
    ~AsUser() {
        if (identity_ == nullptr) {
            return;
        }
        ::setfsuid(static_cast<uid_t>(previousUid_));
        ::setfsgid(static_cast<gid_t>(previousGid_));
        ::syscall(SYS_setgroups, saved_.size(), saved_.data());
    }
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;

    bool ok() const { return identity_ == nullptr || ok_; }

private:
    const Identity* identity_;
    std::vector<gid_t> saved_;
    int previousUid_ = 0;
    int previousGid_ = 0;
    bool ok_ = false;
};

// Root's own file-system identity again while alive, inside an AsUser: for giving a file that
// Quorvane made and holds open to its owner.
class AsRoot {
public:
    AsRoot() : previousUid_(::setfsuid(0)), previousGid_(::setfsgid(0)) {}
    ~AsRoot() {
        ::setfsgid(static_cast<gid_t>(previousGid_));
        ::setfsuid(static_cast<uid_t>(previousUid_));
    }
    AsRoot(const AsRoot&) = delete;
    AsRoot& operator=(const AsRoot&) = delete;

private:
    int previousUid_;
    int previousGid_;
};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

// Opens one name beneath `folder`: openat2 with no link followed anywhere and no way out, or,
// where the kernel lacks openat2, openat with O_NOFOLLOW of the single name (the same result: a
// name is one component, so nothing else could lead anywhere).
int openName(int folder, const char* name, int flags, mode_t mode = 0) {
    flags |= O_CLOEXEC;
    if (!openat2Missing) {
        open_how how{};
        how.flags = static_cast<std::uint64_t>(flags);
        how.mode = (flags & O_CREAT) != 0 ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 4; ++attempt) {
            const long fd = ::syscall(SYS_openat2, folder, name, &how, sizeof how);
            if (fd >= 0 || errno != EAGAIN) {
                if (fd < 0 && errno == ENOSYS) {
                    openat2Missing = true;
                    break;
                }
                return static_cast<int>(fd);
            }
        }
        if (!openat2Missing) {
            return -1;
        }
    }
    const int fd = ::openat(folder, name, flags | O_NOFOLLOW, mode);
    if (fd < 0 && errno == ENOTDIR && (flags & O_DIRECTORY) != 0) {
        // O_PATH with O_NOFOLLOW opens a link itself, which O_DIRECTORY then refuses: it is a
        // link that openat2 would have refused.
        struct stat info {};
        if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
            errno = ELOOP;
        }
    }
    return fd;
}

// Opens the names `names[0, count)` beneath `base`, the last with `flags`, the ones on the way
// as folders: openat2 resolves them all at once; without it, one name at a time.
int openNames(int base, const std::vector<fs::path>& names, std::size_t count, int flags,
              mode_t mode = 0) {
    if (count == 0) {
        return ::openat(base, ".", flags | O_CLOEXEC);
    }
    if (!openat2Missing) {
        fs::path joined;
        for (std::size_t i = 0; i < count; ++i) {
            joined /= names[i];
        }
        const int fd = openName(base, joined.c_str(), flags, mode);
        if (fd >= 0 || !openat2Missing) {
            return fd;
        }
    }
    Descriptor current;
    int at = base;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        Descriptor next(openName(at, names[i].c_str(), O_PATH | O_DIRECTORY));
        if (next.get() < 0) {
            return -1;
        }
        current = std::move(next);
        at = current.get();
    }
    return openName(at, names[count - 1].c_str(), flags, mode);
}

// The folder that holds the last of `names`, opened with `flags`, and that name.
struct Parent {
    Descriptor opened;  // none while the parent is the base folder itself
    int fd = -1;
    std::string name;
};

std::optional<Parent> parentOf(int base, const std::vector<fs::path>& names, int flags) {
    Parent parent;
    parent.name = names.back().string();
    if (names.size() == 1) {
        parent.fd = base;  // open for reading, which serves every use
        return parent;
    }
    parent.opened = Descriptor(openNames(base, names, names.size() - 1, flags | O_DIRECTORY));
    if (parent.opened.get() < 0) {
        return std::nullopt;
    }
    parent.fd = parent.opened.get();
    return parent;
}

ssize_t writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// Reads `fd` to its end, up to one byte past `limit`, so that a file that grew since it was
// examined is still caught. Nothing but the error number on failure.
int readUpTo(int fd, std::uintmax_t limit, std::string& bytes) {
    char chunk[65536];
    while (bytes.size() <= limit) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return errno;
        }
        if (count == 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
    return 0;
}

std::shared_ptr<const Identity> identityFor(const struct stat& folder, const OpenOptions& options) {
    if (::geteuid() != 0 || options.processRights) {
        return nullptr;
    }
    Identity identity{options.actAs ? options.actAs->uid : folder.st_uid,
                      options.actAs ? options.actAs->gid : folder.st_gid,
                      {}};
    if (identity.uid == 0) {
        return nullptr;
    }
    if (!options.actAs) {
        identity.gid = primaryGroupOf(identity.uid).value_or(identity.gid);
    }
    identity.groups = groupsOf(identity.uid, identity.gid).value_or(std::vector<gid_t>{});
    if (identity.groups.empty()) {
        identity.groups.push_back(identity.gid);
    }
    return std::make_shared<const Identity>(std::move(identity));
}

// Returns the error injected before `step`, or runs `call` and returns its error number.
template <typename Call>
int stepped(WriteStep step, const std::string& name, Call call) {
    if (const int error = injectedFault(step, name); error != 0) {
        return error;
    }
    return call();
}

int errnoOf(int result) {
    return result == 0 ? 0 : errno;
}

// The new file of a write while it has its temporary name: removed unless it took the name.
class Temporary {
public:
    Temporary(int folder, std::string name, int fd) : folder_(folder), name_(std::move(name)) {
        fd_.reset(fd);
    }
    ~Temporary() {
        fd_.reset();
        if (!name_.empty()) {
            ::unlinkat(folder_, name_.c_str(), 0);
        }
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    int fd() const { return fd_.get(); }
    const std::string& name() const { return name_; }
    void placed() { name_.clear(); }
    int close() {
        const int result = ::close(fd_.release());
        return result;
    }

private:
    int folder_;
    std::string name_;
    Descriptor fd_;
};

int createTemporary(int folder, const std::string& name, mode_t mode, std::string& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = temporaryName(name);
        const int fd = openName(folder, temporary.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// renameat2 where the file system has it; where it has not (EINVAL, ENOSYS), `fallback`.
template <typename Fallback>
int renameWith(int folder, const char* from, const char* to, unsigned flags, Fallback fallback) {
    if (::renameat2(folder, from, folder, to, flags) == 0) {
        return 0;
    }
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        return fallback();
    }
    return errno;
}

// Takes the free name `name` for the file `temporary`; EEXIST when it is taken.
int takeFreeName(int folder, const std::string& temporary, const std::string& name) {
    return renameWith(folder, temporary.c_str(), name.c_str(), RENAME_NOREPLACE, [&] {
        // A link fails when the name is taken, where a rename would replace the file.
        if (::linkat(folder, temporary.c_str(), folder, name.c_str(), 0) != 0) {
            return errno;
        }
        ::unlinkat(folder, temporary.c_str(), 0);
        return 0;
    });
}

// The file at `name` now, not followed; none when there is none.
std::optional<struct stat> statName(int folder, const std::string& name, int& error) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        error = 0;
        return info;
    }
    error = errno;
    return std::nullopt;
}

// Puts the new file `temporary` in the place of `name`, which must still be the regular file
// the caller expects (any regular file without `expected`). The two are exchanged and the file
// displaced is looked at once more: one another program put there in the last instant goes
// back. On refusal nothing is replaced; the error number, or a failure of its own.
std::optional<Failure> replaceName(int folder, const std::string& temporary,
                                   const std::string& name,
                                   const std::optional<FileSignature>& expected) {
    int error = 0;
    const auto now = statName(folder, name, error);
    if (!now && error != ENOENT) {
        return fileFailure(0, describeError(error), error);
    }
    if (!now) {
        if (expected) {
            return changedSinceRead(ENOENT);
        }
        error = takeFreeName(folder, temporary, name);
        if (error == EEXIST) {
            return changedSinceRead(EEXIST);
        }
        return error == 0 ? std::nullopt
                          : std::optional(fileFailure(0, describeError(error), error));
    }
    if (!S_ISREG(now->st_mode)) {
        return fileFailure(0, "it is no regular file", EINVAL);
    }
    if (expected && !signatureOf(*now).sameVersion(*expected)) {
        return changedSinceRead();
    }
    bool exchanged = true;
    error = renameWith(folder, temporary.c_str(), name.c_str(), RENAME_EXCHANGE, [&] {
        exchanged = false;
        return errnoOf(::renameat(folder, temporary.c_str(), folder, name.c_str()));
    });
    if (error != 0) {
        return fileFailure(0, describeError(error), error);
    }
    if (!exchanged) {
        return std::nullopt;
    }
    const auto displaced = statName(folder, temporary, error);
    const bool same = displaced && displaced->st_dev == now->st_dev &&
                      displaced->st_ino == now->st_ino && S_ISREG(displaced->st_mode) &&
                      (!expected || signatureOf(*displaced).sameVersion(*expected));
    if (!same) {
        // Changed in the last instant: it goes back, and the new file with it.
        ::renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_EXCHANGE);
        return changedSinceRead();
    }
    ::unlinkat(folder, temporary.c_str(), 0);
    return std::nullopt;
}

}  // namespace

FileSignature signatureOf(const struct stat& info) {
    FileSignature signature;
    signature.device = info.st_dev;
    signature.inode = info.st_ino;
    signature.size = info.st_size;
    signature.modifiedSeconds = info.st_mtim.tv_sec;
    signature.modifiedNanoseconds = info.st_mtim.tv_nsec;
    signature.changedSeconds = info.st_ctim.tv_sec;
    signature.changedNanoseconds = info.st_ctim.tv_nsec;
    signature.mode = info.st_mode;
    signature.owner = info.st_uid;
    signature.group = info.st_gid;
    signature.links = info.st_nlink;
    return signature;
}

OpenFile::~OpenFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

OpenFile::OpenFile(OpenFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), signature_(other.signature_) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    std::swap(fd_, other.fd_);
    std::swap(signature_, other.signature_);
    return *this;
}

Result<FileSignature> OpenFile::examine() const {
    return examineDescriptor(fd_);
}

Result<FileSignature> examineDescriptor(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return refusal("cannot be examined", errno);
    }
    return signatureOf(info);
}

struct Folder::State {
    fs::path path;
    int fd = -1;
    FileSignature signature;
    std::shared_ptr<const Identity> identity;  // none: the process's own rights

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

std::optional<Owner> Folder::actingAs() const {
    if (!state_->identity) {
        return std::nullopt;
    }
    return Owner{state_->identity->uid, state_->identity->gid};
}

int Folder::descriptor() const {
    return state_->fd;
}

namespace {

// The rights switch failed: nothing is done rather than done as root.
Failure cannotActAs() {
    return fileFailure(0, "cannot take the rights of the folder's owner: " + describeError(EPERM),
                       EPERM);
}

std::shared_ptr<Folder::State> makeState(fs::path path, Descriptor fd,
                                         std::shared_ptr<const Identity> identity, int& error);

}  // namespace

Result<Folder> Folder::open(const fs::path& path, const OpenOptions& options) {
    constexpr int kMaxHops = 40;
    if (path.empty()) {
        return fileFailure(0, "cannot be opened: " + describeError(ENOENT), ENOENT);
    }
    Descriptor current(::open(path.is_absolute() ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    const auto failed = [&](int error) { return refusal("cannot be opened", error); };
    if (current.get() < 0) {
        return failed(errno);
    }
    std::deque<std::string> rest;
    for (const fs::path& part : path.relative_path()) {
        rest.push_back(part.string());
    }
    std::vector<uid_t> linkOwners;  // of the links followed that are not root's
    int hops = 0;
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name.empty() || name == ".") {
            continue;
        }
        struct stat info {};
        if (::fstatat(current.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return failed(errno);
        }
        if (S_ISLNK(info.st_mode)) {
            if (!options.followLinks || ++hops > kMaxHops) {
                return failed(ELOOP);
            }
            std::string target(4096, '\0');
            const ssize_t length =
                ::readlinkat(current.get(), name.c_str(), target.data(), target.size());
            if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
                return failed(length < 0 ? errno : ENAMETOOLONG);
            }
            target.resize(static_cast<std::size_t>(length));
            if (info.st_uid != 0) {
                linkOwners.push_back(info.st_uid);
            }
            const fs::path targetPath(target);
            if (targetPath.is_absolute()) {
                current.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (current.get() < 0) {
                    return failed(errno);
                }
            }
            std::vector<std::string> parts;
            for (const fs::path& part : targetPath.relative_path()) {
                parts.push_back(part.string());
            }
            rest.insert(rest.begin(), parts.begin(), parts.end());
            continue;
        }
        // ".." of a link's target is taken as the kernel takes it.
        Descriptor next(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            return failed(errno);
        }
        current = std::move(next);
    }
    Descriptor opened(::openat(current.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (opened.get() < 0 || ::fstat(opened.get(), &info) != 0) {
        return failed(errno);
    }
    if (::geteuid() == 0) {
        for (const uid_t linkOwner : linkOwners) {
            if (linkOwner != info.st_uid) {
                return fileFailure(0,
                                   "is reached through a link of user " +
                                       std::to_string(linkOwner) + " to a folder of user " +
                                       std::to_string(info.st_uid) +
                                       "; as root Quorvane follows no such link",
                                   EACCES);
            }
        }
    }
    int error = 0;
    auto state = makeState(path, std::move(opened), identityFor(info, options), error);
    if (!state) {
        return failed(error);
    }
    return Folder(std::move(state));
}

namespace {

std::shared_ptr<Folder::State> makeState(fs::path path, Descriptor fd,
                                         std::shared_ptr<const Identity> identity, int& error) {
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error = errno;
        return nullptr;
    }
    auto state = std::make_shared<Folder::State>();
    state->path = std::move(path);
    state->fd = fd.release();
    state->signature = signatureOf(info);
    state->identity = std::move(identity);
    return state;
}

}  // namespace

Result<Folder> Folder::make(const fs::path& path, std::uint32_t mode) {
    // Each folder on the way that is missing is made, as the process; then opened by the rules
    // of open().
    fs::path made;
    for (const fs::path& part : path) {
        made /= part;
        if (::mkdir(made.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
            const int error = errno;
            return fileFailure(0, "cannot be made: " + describeError(error), error);
        }
    }
    auto opened = open(path);
    if (!opened && opened.failure().error != EACCES) {
        // Something of the name that is no folder: it cannot be made.
        return fileFailure(0, "cannot be made: " + describeError(opened.failure().error),
                           opened.failure().error);
    }
    return opened;
}

Result<Folder> Folder::folder(const fs::path& relative) const {
    const auto names = namesOf(relative);
    if (!names) {
        return notBeneath();
    }
    AsUser as(state_->identity.get());
    if (!as.ok()) {
        return cannotActAs();
    }
    Descriptor fd(openNames(state_->fd, *names, names->size(), O_RDONLY | O_DIRECTORY));
    int error = errno;
    auto state = fd.get() < 0 ? nullptr
                              : makeState(pathOf(relative), std::move(fd), state_->identity, error);
    if (!state) {
        return refusal("cannot be opened", error);
    }
    return Folder(std::move(state));
}

Result<Folder> Folder::makeFolder(const fs::path& relative, std::uint32_t mode) const {
    const auto names = namesOf(relative);
    if (!names) {
        return notBeneath();
    }
    AsUser as(state_->identity.get());
    if (!as.ok()) {
        return cannotActAs();
    }
    Descriptor current(::openat(state_->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const fs::path& name : *names) {
        if (current.get() < 0) {
            break;
        }
        if (::mkdirat(current.get(), name.c_str(), static_cast<mode_t>(mode)) != 0 &&
            errno != EEXIST) {
            return refusal("cannot be made", errno);
        }
        current = Descriptor(openName(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY));
    }
    int error = errno;
    auto state = current.get() < 0
                     ? nullptr
                     : makeState(pathOf(relative), std::move(current), state_->identity, error);
    if (!state) {
        return refusal("cannot be opened", error);
    }
    return Folder(std::move(state));
}

Result<std::optional<FileSignature>> Folder::examine(const fs::path& relative) const {
    const auto names = namesOf(relative);
    if (!names) {
        return notBeneath();
    }
    if (names->empty()) {
        return std::optional(state_->signature);
    }
    AsUser as(state_->identity.get());
    if (!as.ok()) {
        return cannotActAs();
    }
    auto parent = parentOf(state_->fd, *names, O_PATH);
    struct stat info {};
    if (!parent || ::fstatat(parent->fd, parent->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::optional<FileSignature>();
        }
        return refusal("cannot be examined", errno);
    }
    return std::optional(signatureOf(info));
}

Result<FileContent> Folder::read(const fs::path& relative, std::uintmax_t limit) const {
    auto opened = openFile(relative, Opening::Read);
    if (!opened) {
        return opened.failure();
    }
    const FileSignature& signature = opened->signature();
    if (static_cast<std::uintmax_t>(signature.size) > limit) {
        return fileFailure(0, "is larger than " + std::to_string(limit) + " bytes", EFBIG);
    }
    FileContent content{{}, signature};
    if (const int error = readUpTo(opened->descriptor(), limit, content.bytes); error != 0) {
        return refusal("cannot be read", error);
    }
    if (content.bytes.size() > limit) {
        return fileFailure(0, "is larger than " + std::to_string(limit) + " bytes", EFBIG);
    }
    return content;
}

namespace {

// Runs `use` on the folder that holds the name `relative` beneath `state`'s folder (opened with
// `flags`) and the last name, with the rights of the user `state` acts as; what `action` could
// not do when the name cannot be reached.
template <typename T, typename Use>
Result<T> inParent(const Folder::State& state, const fs::path& relative, int flags,
                   const std::string& action, Use use) {
    const auto names = namesOf(relative);
    if (!names || names->empty()) {
        return notBeneath();
    }
    AsUser as(state.identity.get());
    if (!as.ok()) {
        return cannotActAs();
    }
    const auto parent = parentOf(state.fd, *names, flags);
    if (!parent) {
        return refusal(action, errno);
    }
    return use(parent->fd, parent->name);
}

// The regular file `name` in `folder`, held open.
Result<OpenFile> openRegular(int folder, const std::string& name, Folder::Opening how, mode_t mode,
                             const std::string& action) {
    const bool reading = how == Folder::Opening::Read;
    if (reading) {
        // Looked at before it is opened: opening a device may do something by itself.
        struct stat info {};
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return refusal(action, errno);
        }
        if (S_ISLNK(info.st_mode)) {
            return refusal(action, ELOOP);
        }
        if (!S_ISREG(info.st_mode)) {
            return fileFailure(0, "is not a regular file", EINVAL);
        }
    }
    const int flags = reading ? O_RDONLY | O_NONBLOCK | O_NOCTTY
                              : O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK | O_NOCTTY;
    Descriptor fd(openName(folder, name.c_str(), flags, mode));
    if (fd.get() < 0) {
        return !reading && errno == EEXIST ? fileFailure(kNameTaken, "exists already", EEXIST)
                                           : refusal(action, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return refusal(action, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return fileFailure(0, "is not a regular file", EINVAL);
    }
    return OpenFile(fd.release(), signatureOf(info));
}

}  // namespace

Result<OpenFile> Folder::openFile(const fs::path& relative, Opening how, std::uint32_t mode) const {
    const std::string action = how == Opening::Read ? "cannot be read" : "cannot be made";
    return inParent<OpenFile>(*state_, relative, O_PATH, action,
                              [&](int folder, const std::string& name) {
                                  return openRegular(folder, name, how, mode, action);
                              });
}

Result<Listing> Folder::list(const fs::path& relative, std::size_t most) const {
    const auto names = namesOf(relative);
    if (!names) {
        return notBeneath();
    }
    AsUser as(state_->identity.get());
    if (!as.ok()) {
        return cannotActAs();
    }
    const int fd = openNames(state_->fd, *names, names->size(), O_RDONLY | O_DIRECTORY);
    DIR* entries = fd < 0 ? nullptr : ::fdopendir(fd);
    if (entries == nullptr) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return refusal("cannot be listed", error);
    }
    Listing listing;
    errno = 0;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (listing.entries.size() == most) {
            listing.more = true;
            break;
        }
        unsigned char type = entry->d_type;
        struct stat info {};
        if (type == DT_UNKNOWN &&
            ::fstatat(::dirfd(entries), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            type = S_ISREG(info.st_mode)   ? DT_REG
                   : S_ISDIR(info.st_mode) ? DT_DIR
                   : S_ISLNK(info.st_mode) ? DT_LNK
                                           : DT_UNKNOWN;
        }
        const Entry::Kind kind = type == DT_REG   ? Entry::Kind::File
                                 : type == DT_DIR ? Entry::Kind::Folder
                                 : type == DT_LNK ? Entry::Kind::Link
                                                  : Entry::Kind::Other;
        listing.entries.push_back({name, kind});
        errno = 0;
    }
    const int error = errno;
    ::closedir(entries);
    if (error != 0 && !listing.more) {
        return refusal("cannot be listed", error);
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return listing;
}

namespace {

// Whether the owner of `file` may write into `folder` by its permission bits: as root in a
// folder of root's own, a user's file whose folder that user could not change is not changed.
bool ownerMayChange(const FileSignature& file, const struct stat& folder) {
    if (folder.st_uid == file.owner) {
        return (folder.st_mode & S_IWUSR) != 0;
    }
    if (folder.st_gid == file.group && (folder.st_mode & S_IWGRP) != 0) {
        return true;
    }
    return (folder.st_mode & S_IWOTH) != 0;
}

// Gives the new file `fd` the owner and mode of `expected`. As root this is done with root's own
// rights, on the descriptor of the file Quorvane made, also while it acts as a user: a hive of
// root's own in a user's prefix stays root's.
int keepOwnerAndMode(int fd, const FileSignature& expected, const Identity* identity) {
    // A set-user or set-group bit goes only to a file of the user Quorvane acts as, never to
    // one of root's or of a third user's.
    const bool another = identity != nullptr && expected.owner != identity->uid;
    const mode_t mode = expected.mode & (expected.owner == 0 || another ? 01777 : 07777);
    if (::geteuid() != 0) {
        return errnoOf(::fchmod(fd, mode));
    }
    std::optional<AsRoot> root;
    if (identity != nullptr) {
        root.emplace();
    }
    if (::fchown(fd, expected.owner, expected.group) != 0 || ::fchmod(fd, mode) != 0) {
        return errno;
    }
    return 0;
}

}  // namespace

Result<FileSignature> Folder::write(const fs::path& relative, std::string_view bytes,
                                    const WriteOptions& options) const {
    const Identity* identity = state_->identity.get();
    return inParent<FileSignature>(
        *state_, relative, O_RDONLY, "cannot be written",
        [&](int folder, const std::string& name) -> Result<FileSignature> {
            const std::string& seamName = options.seamName.empty() ? name : options.seamName;
            const auto failed = [](int error) {
                return fileFailure(0, describeError(error), error);
            };
            const std::optional<FileSignature>& expected =
                options.placing == Placing::Replace ? options.expected : std::nullopt;
            if (options.onlyWhatItsOwnerCould && expected && ::geteuid() == 0 &&
                identity == nullptr && expected->owner != 0) {
                struct stat info {};
                if (::fstat(folder, &info) != 0) {
                    return failed(errno);
                }
                if (!ownerMayChange(*expected, info)) {
                    return fileFailure(
                        0,
                        "its owner could not change it, and Quorvane does not as root "
                        "either",
                        EACCES);
                }
            }
            std::string temporaryName;
            int fd = -1;
            if (const int error = stepped(WriteStep::Create, seamName, [&] {
                    fd = createTemporary(folder, name,
                                         static_cast<mode_t>(expected ? 0600 : options.mode),
                                         temporaryName);
                    return fd < 0 ? errno : 0;
                })) {
                return failed(error);
            }
            Temporary temporary(folder, temporaryName, fd);
            if (expected) {
                if (const int error = keepOwnerAndMode(fd, *expected, identity); error != 0) {
                    return fileFailure(
                        0, "its owner and mode cannot be kept: " + describeError(error), error);
                }
            }
            if (const int error = stepped(WriteStep::Write, seamName,
                                          [&] { return static_cast<int>(writeAll(fd, bytes)); })) {
                return failed(error);
            }
            if (const int error =
                    stepped(WriteStep::Flush, seamName, [&] { return errnoOf(::fsync(fd)); })) {
                return failed(error);
            }
            struct stat written {};
            if (::fstat(fd, &written) != 0) {
                return failed(errno);
            }
            if (const int error = errnoOf(temporary.close())) {
                return failed(error);
            }
            std::optional<Failure> refused;
            if (const int error = stepped(WriteStep::Rename, seamName, [&] {
                    if (options.placing == Placing::NewName) {
                        const int taken = takeFreeName(folder, temporary.name(), name);
                        if (taken == EEXIST) {
                            refused = fileFailure(kNameTaken, "the name exists already", EEXIST);
                        }
                        return refused ? 0 : taken;
                    }
                    refused = replaceName(folder, temporary.name(), name, expected);
                    return 0;
                })) {
                return failed(error);
            }
            if (refused) {
                return *refused;
            }
            temporary.placed();
            if (const int error = stepped(WriteStep::FlushDirectory, seamName,
                                          [&] { return errnoOf(::fsync(folder)); })) {
                return failed(error);
            }
            const FileSignature signature = signatureOf(written);
            if (options.readBack) {
                // Through the name, without blocking: what took it since (a FIFO, say) is not
                // waited on.
                Descriptor back(openName(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
                struct stat now {};
                std::string content;
                const bool holds =
                    back.get() >= 0 && ::fstat(back.get(), &now) == 0 && S_ISREG(now.st_mode) &&
                    now.st_dev == written.st_dev && now.st_ino == written.st_ino &&
                    readUpTo(back.get(), bytes.size(), content) == 0 && content == bytes;
                if (!holds) {
                    return fileFailure(0, "it does not hold what was written to it", EIO);
                }
            }
            return signature;
        });
}

Result<void> Folder::remove(const fs::path& relative, const FileSignature& expected) const {
    return inParent<void>(
        *state_, relative, O_RDONLY, "cannot be removed",
        [&](int folder, const std::string& name) -> Result<void> {
            // The file is first moved aside under a name of its own, which takes whatever has the
            // name at this instant; only when that is the version expected is it removed.
            std::string aside;
            int error = EEXIST;
            for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
                aside = temporaryName(name);
                error = renameWith(folder, name.c_str(), aside.c_str(), RENAME_NOREPLACE, [&] {
                    return errnoOf(::renameat(folder, name.c_str(), folder, aside.c_str()));
                });
            }
            if (error != 0) {
                return error == ENOENT ? changedSinceRead(ENOENT)
                                       : refusal("cannot be removed", error);
            }
            const auto now = statName(folder, aside, error);
            if (!now || !S_ISREG(now->st_mode) || !signatureOf(*now).sameVersion(expected)) {
                if (::renameat2(folder, aside.c_str(), folder, name.c_str(), RENAME_NOREPLACE) !=
                        0 &&
                    (errno == EINVAL || errno == ENOSYS)) {
                    ::renameat(folder, aside.c_str(), folder, name.c_str());
                }
                return changedSinceRead();
            }
            if (::unlinkat(folder, aside.c_str(), 0) != 0) {
                error = errno;
                ::renameat2(folder, aside.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
                return refusal("cannot be removed", error);
            }
            ::fsync(folder);
            return {};
        });
}

Result<std::string> Folder::linkTarget(const fs::path& relative) const {
    const std::string action = "cannot be read as a link";
    return inParent<std::string>(
        *state_, relative, O_PATH, action,
        [&](int folder, const std::string& name) -> Result<std::string> {
            std::string target(4096, '\0');
            const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
            if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
                return refusal(action, length < 0 ? errno : ENAMETOOLONG);
            }
            target.resize(static_cast<std::size_t>(length));
            return target;
        });
}

Result<Folder> Folder::follow(const fs::path& target) const {
    AsUser as(state_->identity.get());
    if (!as.ok()) {
        return cannotActAs();
    }
    Descriptor fd(::openat(state_->fd, target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    int error = errno;
    auto state = fd.get() < 0 ? nullptr
                              : makeState((state_->path / target).lexically_normal(), std::move(fd),
                                          state_->identity, error);
    if (!state) {
        return refusal("cannot be reached", error);
    }
    return Folder(std::move(state));
}

namespace {

// Whether the temporary file `name` belongs to a writer, a process of this machine, that has
// ended. A live process's, or one whose number is in use again, does not.
bool ofAnEndedWriter(const std::string& name) {
    const std::string_view rest =
        std::string_view(name).substr(name.find(kTemporaryMark) + std::strlen(kTemporaryMark));
    pid_t writer = 0;
    const auto [end, parsed] = std::from_chars(rest.data(), rest.data() + rest.size(), writer);
    return parsed == std::errc() && end != rest.data() && *end == '-' && writer > 0 &&
           ::kill(writer, 0) != 0 && errno == ESRCH;
}

}  // namespace

void Folder::removeLeftovers() const {
    removeTemporaries(false);
}

void Folder::removeLeftoversOfEndedWriters() const {
    removeTemporaries(true);
}

void Folder::removeTemporaries(bool ofEndedWritersOnly) const {
    const auto listing = list({}, std::size_t(-1));
    if (!listing) {
        return;
    }
    AsUser as(state_->identity.get());
    if (!as.ok()) {
        return;
    }
    for (const Entry& entry : listing->entries) {
        if (entry.kind == Entry::Kind::File && isTemporaryName(entry.name) &&
            (!ofEndedWritersOnly || ofAnEndedWriter(entry.name))) {
            ::unlinkat(state_->fd, entry.name.c_str(), 0);
        }
    }
}

namespace {

struct HeldLock {
    int fd;
    int depth;
};

// The locks this thread holds, by folder: taking one again only counts.
thread_local std::map<FolderLock::Key, HeldLock> heldLocks;

constexpr int kLockFlags = O_RDWR | O_NONBLOCK | O_NOCTTY;

// Whether others than the owner could open the lock file and so hold it.
bool othersCouldOpen(const struct stat& info) {
    return (info.st_mode & 077) != 0 || info.st_nlink != 1;
}

std::string whyOthersCould(const struct stat& info) {
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return std::string("has mode ") + mode + ", so other users can hold it";
    }
    return "has a second name (a hard link), through which others may hold it";
}

Failure lockRefused(const fs::path& file, const std::string& problem, int error) {
    return fileFailure(kLockRefused, file.string() + " " + problem, error);
}

// Whether `fd` is still the file named the lock file: another process may have replaced it.
bool stillTheLockFile(int folder, int fd) {
    struct stat named {};
    struct stat held {};
    return ::fstatat(folder, FolderLock::kFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &held) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

}  // namespace

FolderLock::~FolderLock() {
    if (!key_) {
        return;
    }
    const auto it = heldLocks.find(*key_);
    if (it != heldLocks.end() && --it->second.depth == 0) {
        ::close(it->second.fd);  // releases the lock
        heldLocks.erase(it);
    }
}

Result<FolderLock> Folder::lock(std::chrono::milliseconds timeout) const {
    const fs::path file = pathOf(FolderLock::kFileName);
    if (const int error = injectedFault(WriteStep::Lock, FolderLock::kFileName); error != 0) {
        return fileFailure(0, "cannot lock " + file.string() + ": " + describeError(error), error);
    }
    FolderLock lock;
    const FolderLock::Key key{state_->signature.device, state_->signature.inode};
    if (auto it = heldLocks.find(key); it != heldLocks.end()) {
        ++it->second.depth;
        lock.key_ = key;
        return lock;
    }
    const Identity* identity = state_->identity.get();
    AsUser as(identity);
    if (!as.ok()) {
        return cannotActAs();
    }
    const int folder = state_->fd;
    const uid_t acting = identity != nullptr ? identity->uid : ::geteuid();
    const auto acceptable = [&](uid_t owner) {
        return owner == state_->signature.owner || owner == acting;
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(50);
    while (true) {
        // The lock file as it is now, made when missing (it is then the acting user's).
        Descriptor fd(openName(folder, FolderLock::kFileName, kLockFlags | O_CREAT | O_EXCL, 0600));
        if (fd.get() < 0 && errno == EEXIST) {
            fd = Descriptor(openName(folder, FolderLock::kFileName, kLockFlags));
        }
        struct stat info {};
        const std::string notOurs =
            "is not a lock file of the directory's owner; Quorvane does not use it: remove it";
        if (fd.get() < 0) {
            // One that the owner cannot open is somebody else's.
            return errno == EACCES || errno == EPERM
                       ? lockRefused(file, notOurs, errno)
                       : lockRefused(file, "cannot be opened: " + describeError(errno), errno);
        }
        if (::fstat(fd.get(), &info) != 0) {
            return refusal("cannot examine " + file.string(), errno);
        }
        if (!S_ISREG(info.st_mode) || !acceptable(info.st_uid)) {
            return lockRefused(file, notOurs, EACCES);
        }
        const bool mendNeeded = othersCouldOpen(info);
        // Anyone may be the holder of a lock file others can open: no waiting for them.
        const bool othersCouldHold = (info.st_mode & 077) != 0;
        while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return fileFailure(0, "cannot lock " + file.string() + ": " + describeError(errno),
                                   errno);
            }
            if (othersCouldHold && errno == EWOULDBLOCK) {
                return lockRefused(file, whyOthersCould(info) + ", and it is held now", EACCES);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return lock;  // not held
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(20'000));
        }
        // Replaced by another process while this one waited: lock the new one.
        if (!stillTheLockFile(folder, fd.get())) {
            continue;
        }
        if (mendNeeded) {
            // A new lock file of mode 0600, locked, in place of the one whose lock is held.
            std::string temporary;
            Descriptor mended(createTemporary(folder, FolderLock::kFileName, 0600, temporary));
            const int error =
                mended.get() < 0 ? errno
                : (::fchmod(mended.get(), 0600) != 0 ||
                   ::flock(mended.get(), LOCK_EX | LOCK_NB) != 0 ||
                   ::renameat(folder, temporary.c_str(), folder, FolderLock::kFileName) != 0)
                    ? errno
                    : 0;
            if (error != 0) {
                if (mended.get() >= 0) {
                    ::unlinkat(folder, temporary.c_str(), 0);
                }
                return lockRefused(
                    file, whyOthersCould(info) + " and cannot be replaced: " + describeError(error),
                    error);
            }
            fd = std::move(mended);
        }
        heldLocks[key] = {fd.release(), 1};
        lock.key_ = key;
        return lock;
    }
}

fs::path canonicalPath(const fs::path& path) {
    std::error_code ignored;
    const fs::path absolute = fs::absolute(path, ignored).lexically_normal();
    if (!absolute.has_relative_path()) {
        return absolute;
    }
    // lexically_normal leaves a last separator as an empty name.
    const fs::path whole = absolute.filename().empty() ? absolute.parent_path() : absolute;
    const auto folder = Folder::open(whole);
    if (!folder) {
        return folder.failure().error == ENOENT
                   ? canonicalPath(whole.parent_path()) / whole.filename()
                   : whole;
    }
    std::string name(4096, '\0');
    const std::string self = "/proc/self/fd/" + std::to_string(folder->descriptor());
    const ssize_t length = ::readlink(self.c_str(), name.data(), name.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= name.size()) {
        return whole;
    }
    name.resize(static_cast<std::size_t>(length));
    return name;
}

#else  // _WIN32: the system's own folders, reached by their paths.

namespace {

std::int64_t ticksOf(fs::file_time_type time) {
    return static_cast<std::int64_t>(time.time_since_epoch().count());
}

// What the path is now; none when there is nothing there.
std::optional<FileSignature> signatureAt(const fs::path& path, std::error_code& error) {
    const fs::file_status status = fs::symlink_status(path, error);
    if (error || !fs::exists(status)) {
        if (error == std::errc::no_such_file_or_directory) {
            error.clear();
        }
        return std::nullopt;
    }
    FileSignature signature;
    signature.mode = fs::is_symlink(status)        ? kLinkKind
                     : fs::is_directory(status)    ? kFolderKind
                     : fs::is_regular_file(status) ? kRegularKind
                                                   : 0;
    if (signature.regular()) {
        signature.size = static_cast<std::int64_t>(fs::file_size(path, error));
        signature.modifiedSeconds = ticksOf(fs::last_write_time(path, error));
        signature.mode |= 0666;
    }
    return signature;
}

Failure systemFailure(DWORD error) {
    const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return fileFailure(taken ? kNameTaken : static_cast<long>(error),
                       std::system_category().message(static_cast<int>(error)),
                       static_cast<int>(error));
}

// Administrators or SYSTEM.
bool administers(PSID sid) {
    return sid != nullptr && IsValidSid(sid) &&
           (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
            IsWellKnownSid(sid, WinLocalSystemSid));
}

// What changes a file, its attributes, or who may reach it.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                      GENERIC_WRITE | GENERIC_ALL;

}  // namespace

bool onlyAdministratorsChange(void* descriptor) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return false;
    }
    // No DACL lets everybody do everything; a grant of a kind not read here counts as one to
    // anybody.
    bool only = administers(owner) && present && dacl != nullptr;
    for (DWORD i = 0; only && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) {
            only = false;
        } else if (header->AceType != ACCESS_DENIED_ACE_TYPE) {
            const auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            only = header->AceType == ACCESS_ALLOWED_ACE_TYPE &&
                   ((ace->Mask & kChangeRights) == 0 ||
                    administers(const_cast<DWORD*>(&ace->SidStart)));
        }
    }
    return only;
}

namespace {

// The security WriteOptions::administratorsOnly gives a new file: owner Administrators, and a
// protected DACL of full control for Administrators and SYSTEM and reading for the current user.
class AdministratorsOnly {
public:
    // ERROR_SUCCESS, or why the descriptor cannot be made.
    DWORD make() {
        HANDLE token = nullptr;
        DWORD size = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            return GetLastError();
        }
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool known = GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        const DWORD error = GetLastError();
        CloseHandle(token);
        if (!known) {
            return error;
        }
        const std::array<PSID, 3> sids{administrators_.data(), system_.data(),
                                       reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid};
        DWORD length = sizeof administrators_;
        DWORD systemLength = sizeof system_;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sids[0], &length) ||
            !CreateWellKnownSid(WinLocalSystemSid, nullptr, sids[1], &systemLength)) {
            return GetLastError();
        }
        DWORD aclSize = sizeof(ACL);
        for (PSID sid : sids) {
            aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
        }
        acl_.resize(aclSize);
        auto* acl = reinterpret_cast<PACL>(acl_.data());
        if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sids[0]) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sids[1]) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ, sids[2]) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorOwner(&descriptor_, sids[0], FALSE) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            return GetLastError();
        }
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        return ERROR_SUCCESS;
    }
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    std::array<BYTE, SECURITY_MAX_SID_SIZE> administrators_{};
    std::array<BYTE, SECURITY_MAX_SID_SIZE> system_{};
    std::vector<BYTE> user_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

struct Folder::State {
    fs::path path;
    FileSignature signature;
};

std::optional<Owner> Folder::actingAs() const {
    return std::nullopt;
}

Result<Folder> Folder::open(const fs::path& path, const OpenOptions&) {
    std::error_code error;
    const auto signature = signatureAt(path, error);
    if (!signature || !fs::is_directory(path, error)) {
        return fileFailure(0, "cannot be opened: " + describeError(error ? error.value() : ENOENT),
                           ENOENT);
    }
    auto state = std::make_shared<State>();
    state->path = path;
    state->signature = *signature;
    return Folder(std::move(state));
}

Result<Folder> Folder::make(const fs::path& path, std::uint32_t) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error) {
        return fileFailure(0, "cannot be made: " + describeError(error), error.value());
    }
    return open(path);
}

Result<Folder> Folder::folder(const fs::path& relative) const {
    if (!namesOf(relative)) {
        return notBeneath();
    }
    return open(pathOf(relative));
}

Result<Folder> Folder::makeFolder(const fs::path& relative, std::uint32_t mode) const {
    if (!namesOf(relative)) {
        return notBeneath();
    }
    return make(pathOf(relative), mode);
}

Result<std::optional<FileSignature>> Folder::examine(const fs::path& relative) const {
    if (!namesOf(relative)) {
        return notBeneath();
    }
    std::error_code error;
    auto signature = signatureAt(pathOf(relative), error);
    if (error) {
        return fileFailure(0, "cannot be examined: " + describeError(error), error.value());
    }
    return signature;
}

Result<FileContent> Folder::read(const fs::path& relative, std::uintmax_t limit) const {
    const auto found = examine(relative);
    if (!found) {
        return found.failure();
    }
    if (!*found) {
        return fileFailure(0, "cannot be read: " + describeError(ENOENT), ENOENT);
    }
    if (!(*found)->regular()) {
        return fileFailure(0, "is not a regular file", EINVAL);
    }
    // One handle for the bytes and for who may change them; a link is opened as itself.
    const HANDLE handle =
        CreateFileW(pathOf(relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return fileFailure(0, "cannot be read: " + systemFailure(GetLastError()).reason, EIO);
    }
    const std::unique_ptr<void, decltype(&CloseHandle)> closer(handle, CloseHandle);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
        return fileFailure(0, "cannot be read: " + systemFailure(GetLastError()).reason, EIO);
    }
    if ((information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return fileFailure(0, "is not a regular file", EINVAL);
    }
    const std::uintmax_t size =
        (std::uintmax_t(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (std::max<std::uintmax_t>(size, (*found)->size) > limit) {
        return fileFailure(0, "is larger than " + std::to_string(limit) + " bytes", EFBIG);
    }
    // One byte more than the limit tells a file that grew past it meanwhile.
    FileContent content{std::string(static_cast<std::size_t>(std::min(size, limit) + 1), '\0'),
                        **found};
    std::size_t filled = 0;
    for (DWORD got = 1; got != 0 && filled <= limit;) {
        if (filled == content.bytes.size()) {
            content.bytes.resize(std::min<std::size_t>(filled * 2, limit + 1));
        }
        const auto want = static_cast<DWORD>(
            std::min<std::size_t>(content.bytes.size() - filled, std::size_t(1) << 30));
        if (!ReadFile(handle, content.bytes.data() + filled, want, &got, nullptr)) {
            return fileFailure(0, "cannot be read: " + systemFailure(GetLastError()).reason, EIO);
        }
        filled += got;
    }
    if (filled > limit) {
        return fileFailure(0, "is larger than " + std::to_string(limit) + " bytes", EFBIG);
    }
    content.bytes.resize(filled);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    content.administratorsOnly =
        GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        onlyAdministratorsChange(descriptor);
    LocalFree(descriptor);
    return content;
}

Result<Listing> Folder::list(const fs::path& relative, std::size_t most) const {
    if (!namesOf(relative)) {
        return notBeneath();
    }
    Listing listing;
    std::error_code error;
    fs::directory_iterator it(pathOf(relative), error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        if (listing.entries.size() == most) {
            listing.more = true;
            break;
        }
        const fs::file_status status = it->symlink_status(error);
        const std::u8string name = it->path().filename().u8string();
        listing.entries.push_back({std::string(name.begin(), name.end()),
                                   fs::is_symlink(status)        ? Entry::Kind::Link
                                   : fs::is_directory(status)    ? Entry::Kind::Folder
                                   : fs::is_regular_file(status) ? Entry::Kind::File
                                                                 : Entry::Kind::Other});
    }
    if (error) {
        return fileFailure(0, "cannot be listed: " + describeError(error), error.value());
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return listing;
}

Result<FileSignature> Folder::write(const fs::path& relative, std::string_view bytes,
                                    const WriteOptions& options) const {
    if (!namesOf(relative)) {
        return notBeneath();
    }
    const fs::path file = pathOf(relative);
    const std::u8string utf8 = file.filename().u8string();
    const std::string name(utf8.begin(), utf8.end());
    const std::string& seamName = options.seamName.empty() ? name : options.seamName;
    std::error_code error;
    const auto before = signatureAt(file, error);
    if (before && !before->regular()) {
        return fileFailure(0, "it is no regular file", EINVAL);
    }
    const std::string temporaryText = temporaryName(name);
    const fs::path temporary =
        file.parent_path() / fs::path(std::u8string(temporaryText.begin(), temporaryText.end()));
    const auto stepFailed = [&](Failure why) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return why;
    };
    for (const WriteStep step : {WriteStep::Create, WriteStep::Write, WriteStep::Flush}) {
        if (const int injected = injectedFault(step, seamName); injected != 0) {
            return stepFailed(fileFailure(0, describeError(injected), injected));
        }
    }
    // The security is the new file's from the start: nobody else could open it meanwhile.
    AdministratorsOnly security;
    if (options.administratorsOnly) {
        if (const DWORD error = security.make(); error != ERROR_SUCCESS) {
            return stepFailed(systemFailure(error));
        }
    }
    const HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0,
                                      options.administratorsOnly ? security.attributes() : nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return stepFailed(systemFailure(GetLastError()));
    }
    DWORD written = 0;
    const bool wrote =
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    const bool flushed = wrote && FlushFileBuffers(handle);
    const DWORD lastError = GetLastError();
    CloseHandle(handle);
    if (!flushed) {
        return stepFailed(systemFailure(lastError));
    }
    if (const int injected = injectedFault(WriteStep::Rename, seamName); injected != 0) {
        return stepFailed(fileFailure(0, describeError(injected), injected));
    }
    if (options.placing == Placing::Replace && options.expected) {
        const auto now = signatureAt(file, error);
        if (!now || now->size != options.expected->size ||
            now->modifiedSeconds != options.expected->modifiedSeconds) {
            return stepFailed(changedSinceRead());
        }
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    const DWORD flags = MOVEFILE_WRITE_THROUGH |
                        (options.placing == Placing::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temporary.c_str(), file.c_str(), flags)) {
        return stepFailed(systemFailure(GetLastError()));
    }
    const auto now = signatureAt(file, error);
    if (options.readBack) {
        const auto back = read(relative, bytes.size());
        if (!back || back->bytes != bytes) {
            return fileFailure(0, "it does not hold what was written to it", EIO);
        }
    }
    return now.value_or(FileSignature{});
}

Result<void> Folder::remove(const fs::path& relative, const FileSignature& expected) const {
    if (!namesOf(relative)) {
        return notBeneath();
    }
    std::error_code error;
    const auto now = signatureAt(pathOf(relative), error);
    if (!now || now->size != expected.size || now->modifiedSeconds != expected.modifiedSeconds) {
        return changedSinceRead();
    }
    fs::remove(pathOf(relative), error);
    if (error) {
        return fileFailure(0, "cannot be removed: " + describeError(error), error.value());
    }
    return {};
}

FolderLock::~FolderLock() = default;

// Windows' own files have no lock file: the registry serialises its own writers.
Result<FolderLock> Folder::lock(std::chrono::milliseconds) const {
    FolderLock lock;
    lock.key_ = FolderLock::Key{0, 0};
    return lock;
}

void Folder::removeLeftovers() const {}

void Folder::removeLeftoversOfEndedWriters() const {}

void Folder::removeTemporaries(bool) const {}

fs::path canonicalPath(const fs::path& path) {
    std::error_code error;
    const fs::path full = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? fs::absolute(path, error) : full;
}

#endif

// What both systems share.

Folder::Folder(std::shared_ptr<const State> state) : state_(std::move(state)) {}

const fs::path& Folder::path() const {
    return state_->path;
}

const FileSignature& Folder::signature() const {
    return state_->signature;
}

fs::path Folder::pathOf(const fs::path& relative) const {
    return relative.empty() ? state_->path : state_->path / relative;
}

FolderLock::FolderLock(FolderLock&& other) noexcept : key_(std::exchange(other.key_, {})) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
}

Result<void> writeWholeFile(const fs::path& file, std::string_view bytes, Placing placing) {
    const fs::path parent = file.has_parent_path() ? file.parent_path() : fs::path(".");
    auto folder = Folder::open(parent);
    if (!folder) {
        return folder.failure();
    }
    WriteOptions options;
    options.placing = placing;
    auto written = folder->write(file.filename(), bytes, options);
    if (!written) {
        return written.failure();
    }
    return {};
}

std::optional<fs::path> nameBeneath(const fs::path& folder, const fs::path& path) {
    const auto names = [](const fs::path& whole) {
        std::vector<fs::path> parts;
        for (const fs::path& part : whole) {
            if (!part.empty() && part != "." && part != "/") {
                parts.push_back(part);
            }
        }
        return parts;
    };
    if (folder.is_absolute() != path.is_absolute() || folder.root_name() != path.root_name()) {
        return std::nullopt;
    }
    const std::vector<fs::path> outer = names(folder.relative_path());
    const std::vector<fs::path> inner = names(path.relative_path());
    if (inner.size() < outer.size() || !std::equal(outer.begin(), outer.end(), inner.begin()) ||
        std::find(inner.begin(), inner.end(), fs::path("..")) != inner.end()) {
        return std::nullopt;
    }
    fs::path relative;
    for (auto it = inner.begin() + static_cast<std::ptrdiff_t>(outer.size()); it != inner.end();
         ++it) {
        relative /= *it;
    }
    return relative;
}

std::optional<fs::path> PlaceFiles::beneath(const fs::path& path) const {
    if (!root_) {
        return std::nullopt;
    }
    return nameBeneath(root_->path(), path);
}

Result<PlaceFiles::Located> PlaceFiles::locate(const fs::path& path) const {
    if (root_) {
        if (auto relative = beneath(path)) {
            return Located{*root_, std::move(*relative)};
        }
        return fileFailure(0, "leads outside its place", EXDEV);
    }
    auto folder = Folder::open(path.has_parent_path() ? path.parent_path() : fs::path("."));
    if (!folder) {
        return folder.failure();
    }
    return Located{std::move(folder).value(), path.filename()};
}

}  // namespace quorvane::formats
