#include "platform/hive_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <thread>
#include <utility>

#include "formats/whole_file.h"

namespace quorvane::platform::hive {

using formats::WriteStep;

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinks = 8;
[[noreturn]] void fail(const std::string& action, const fs::path& file) {
    throw FileError(action, file, errno);
}

// Runs the test seam before a step; an injected error fails the step as the system would.
void beforeStep(WriteStep step, const std::string& name, const std::string& action,
                const fs::path& file) {
    if (const int error = formats::injectedFault(step, name); error != 0) {
        throw FileError(action, file, error);
    }
}

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
    return signature;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Where a hive really is: the directory that holds it (the hive's own, or where its link leads)
// and its name there.
struct Location {
    FileDescriptor opened;  // the directory a link led to; none while it is the hive's own
    int parent;
    std::string name;
    fs::path shown;  // for messages
    bool linked = false;
    bool exists = false;
};

// Regular files only; and a file reached through a link (symbolic, or a second hard name) only
// when it is the directory owner's, so that root is never led to read or replace a file the
// prefix's owner could not.
void checkHive(const Directory& directory, const Location& where, const struct stat& info) {
    if (!S_ISREG(info.st_mode)) {
        throw FileError(where.shown, "is not a regular file", EINVAL);
    }
    if ((where.linked || info.st_nlink > 1) && info.st_uid != directory.owner) {
        throw FileError(where.shown,
                        "is reached through a link and belongs to another user than the "
                        "directory " +
                            directory.path.string(),
                        EACCES);
    }
}

std::string linkTarget(int parent, const std::string& name, const fs::path& shown) {
    std::string target(256, '\0');
    while (true) {
        const ssize_t length = ::readlinkat(parent, name.c_str(), target.data(), target.size());
        if (length < 0) {
            fail("cannot read the link", shown);
        }
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// Follows symbolic links from `name` in `directory`, as Wine does, to the file they lead to.
Location resolve(const Directory& directory, const std::string& name) {
    Location where{FileDescriptor(), directory.fd, name, directory.path / name};
    for (int hop = 0;; ++hop) {
        struct stat info {};
        if (::fstatat(where.parent, where.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && !where.linked) {
                return where;
            }
            fail(where.linked ? "cannot reach the link's target" : "cannot examine", where.shown);
        }
        if (!S_ISLNK(info.st_mode)) {
            checkHive(directory, where, info);
            where.exists = true;
            return where;
        }
        if (hop == kMaxLinks) {
            errno = ELOOP;
            fail("cannot follow", where.shown);
        }
        const fs::path target = linkTarget(where.parent, where.name, where.shown);
        if (!target.has_filename()) {
            throw FileError(where.shown, "is a link to a directory", EISDIR);
        }
        if (target.has_parent_path()) {
            const int fd = ::openat(where.parent, target.parent_path().c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) {
                fail("cannot reach the link's target", where.shown);
            }
            where.opened = FileDescriptor(fd);
            where.parent = fd;
        }
        where.shown = (where.shown.parent_path() / target).lexically_normal();
        where.name = target.filename().string();
        where.linked = true;
    }
}

// Gives the new file its owner back, where the process may: root working on a user's prefix
// must not leave files that user cannot write.
void giveOwner(int fd, const Directory& directory, const std::optional<FileSignature>& previous,
               const fs::path& shown) {
    if (::geteuid() != 0) {
        return;
    }
    const uid_t owner = previous ? previous->owner : directory.owner;
    const gid_t group = previous ? previous->group : directory.group;
    if (::fchown(fd, owner, group) != 0) {
        fail("cannot give the owner back to", shown);
    }
}

bool acceptableLockOwner(const Directory& directory, uid_t owner) {
    return owner == directory.owner || (::geteuid() != 0 && owner == ::geteuid());
}

}  // namespace

FileError::FileError(const std::string& action, const fs::path& file, int error)
    : std::runtime_error(action + " " + file.string() + ": " + describeError(error)),
      error_(error) {}

FileError::FileError(const fs::path& file, const std::string& refusal, int error)
    : std::runtime_error(file.string() + " " + refusal), error_(error) {}

bool FileSignature::sameVersion(const FileSignature& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && mode == other.mode;
}

bool FileSignature::untouchedSince(const FileSignature& other) const {
    return sameVersion(other) && changedSeconds == other.changedSeconds &&
           changedNanoseconds == other.changedNanoseconds;
}

Directory openDirectory(const fs::path& path) {
    constexpr int kMaxHops = 40;
    FileDescriptor current(
        ::open(path.is_absolute() ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (current.get() < 0) {
        fail("cannot open", path);
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
            fail("cannot open", path);
        }
        if (S_ISLNK(info.st_mode)) {
            if (++hops > kMaxHops) {
                errno = ELOOP;
                fail("cannot open", path);
            }
            const fs::path target = linkTarget(current.get(), name, path);
            if (info.st_uid != 0) {
                linkOwners.push_back(info.st_uid);
            }
            if (target.is_absolute()) {
                current = FileDescriptor(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                if (current.get() < 0) {
                    fail("cannot open", path);
                }
            }
            std::vector<std::string> parts;
            for (const fs::path& part : target.relative_path()) {
                parts.push_back(part.string());
            }
            rest.insert(rest.begin(), parts.begin(), parts.end());
            continue;
        }
        FileDescriptor next(
            ::openat(current.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0) {
            fail("cannot open", path);
        }
        current = std::move(next);
    }
    struct stat info {};
    if (::fstat(current.get(), &info) != 0) {
        fail("cannot examine", path);
    }
    if (::geteuid() == 0) {
        for (const uid_t linkOwner : linkOwners) {
            if (linkOwner != info.st_uid) {
                throw FileError(path,
                                "is reached through a link of user " + std::to_string(linkOwner) +
                                    " to a directory of user " + std::to_string(info.st_uid) +
                                    "; as root Quorvane follows no such link",
                                EACCES);
            }
        }
    }
    Directory directory;
    directory.path = path;
    directory.owner = info.st_uid;
    directory.group = info.st_gid;
    directory.fd = current.release();
    return directory;
}

std::optional<FileSignature> statFileIn(const Directory& directory, const std::string& name) {
    struct stat info {};
    if (::fstatat(directory.fd, name.c_str(), &info, 0) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("cannot examine", directory.path / name);
    }
    return signatureOf(info);
}

namespace {

// Opens the hive where its links lead, by the rules of checkHive; -1 when it does not exist.
int openHive(const Directory& directory, const std::string& name, struct stat& info,
             fs::path& shown) {
    const Location where = resolve(directory, name);
    shown = where.shown;
    if (!where.exists) {
        return -1;
    }
    // Non-blocking, so that a FIFO put in the file's place meanwhile cannot hang the reader.
    FileDescriptor fd(::openat(where.parent, where.name.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        fail("cannot open", where.shown);
    }
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot examine", where.shown);
    }
    checkHive(directory, where, info);
    return fd.release();
}

[[noreturn]] void changedMeanwhile(const Directory& directory, const std::string& name) {
    throw FileChanged(directory.path / name, "was changed by another program while it was read",
                      ESTALE);
}

}  // namespace

std::optional<HiveReader> HiveReader::open(const Directory& directory, const std::string& name) {
    struct stat info {};
    fs::path shown;
    const int fd = openHive(directory, name, info, shown);
    if (fd < 0) {
        return std::nullopt;
    }
    return HiveReader(directory, name, signatureOf(info), fd);
}

HiveReader::HiveReader(Directory directory, std::string name, FileSignature signature, int fd)
    : directory_(std::move(directory)), name_(std::move(name)), signature_(signature), fd_(fd) {}

HiveReader::~HiveReader() {
    close();
}

HiveReader::HiveReader(HiveReader&& other) noexcept
    : directory_(std::move(other.directory_)),
      name_(std::move(other.name_)),
      signature_(other.signature_),
      fd_(std::exchange(other.fd_, -1)) {}

void HiveReader::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void HiveReader::reopen() {
    struct stat info {};
    fs::path shown;
    const int fd = openHive(directory_, name_, info, shown);
    if (fd < 0) {
        changedMeanwhile(directory_, name_);
    }
    fd_ = fd;
    if (!signatureOf(info).untouchedSince(signature_)) {
        close();
        changedMeanwhile(directory_, name_);
    }
}

void HiveReader::checkUnchanged() {
    if (fd_ < 0) {
        reopen();
        return;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        fail("cannot examine", directory_.path / name_);
    }
    if (!signatureOf(info).untouchedSince(signature_)) {
        changedMeanwhile(directory_, name_);
    }
}

void HiveReader::read(std::size_t offset, char* out, std::size_t length) {
    if (offset > size() || length > size() - offset) {
        changedMeanwhile(directory_, name_);
    }
    if (fd_ < 0) {
        reopen();
    }
    while (length > 0) {
        const ssize_t got = ::pread(fd_, out, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail("cannot read", directory_.path / name_);
        }
        if (got == 0) {
            changedMeanwhile(directory_, name_);  // cut short since it was opened
        }
        out += got;
        offset += static_cast<std::size_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

FileSignature replaceHive(const Directory& directory, const std::string& name,
                          std::string_view text, const std::optional<FileSignature>& previous) {
    const Location where = resolve(directory, name);
    formats::PlaceOptions options;
    options.seamName = name;
    // A new hive gets what the umask leaves of 0666, as Wine's; a replaced one its old mode.
    options.mode = previous ? 0600 : 0666;
    options.prepare = [&](int fd) {
        if (previous && ::fchmod(fd, previous->mode & 07777) != 0) {
            fail("cannot set the mode of", where.shown);
        }
        giveOwner(fd, directory, previous, where.shown);
    };
    struct stat info {};
    if (const auto failed = formats::placeFileAt(where.parent, where.name, text, options, &info)) {
        throw FileError(formats::stepAction(failed->step), where.shown, failed->error);
    }
    return signatureOf(info);
}

void removeStaleTemporaries(const Directory& directory) {
    const int fd = ::openat(directory.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = fd < 0 ? nullptr : ::fdopendir(fd);
    if (entries == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (formats::isTemporaryName(entry->d_name)) {
            ::unlinkat(directory.fd, entry->d_name, 0);
        }
    }
    ::closedir(entries);
}

namespace {

constexpr int kLockFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The lock file as it is now, made when missing; refused unless it is a regular file of the
// directory's owner.
FileDescriptor openLockFile(const Directory& directory, const fs::path& file, struct stat& info) {
    bool created = true;
    FileDescriptor fd(
        ::openat(directory.fd, DirectoryLock::kFileName, kLockFlags | O_CREAT | O_EXCL, 0600));
    if (fd.get() < 0 && errno == EEXIST) {
        created = false;
        fd = FileDescriptor(::openat(directory.fd, DirectoryLock::kFileName, kLockFlags));
    }
    if (fd.get() < 0) {
        throw LockFileError("cannot open the lock file", file, errno);
    }
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot examine", file);
    }
    if (created && ::geteuid() == 0 && directory.owner != 0 &&
        ::fchown(fd.get(), directory.owner, directory.group) == 0) {
        info.st_uid = directory.owner;
    }
    if (!S_ISREG(info.st_mode) || !acceptableLockOwner(directory, info.st_uid)) {
        throw LockFileError(file,
                            "is not a lock file of the directory's owner; Quorvane does not use "
                            "it: remove it",
                            EACCES);
    }
    return fd;
}

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

// Whether `fd` is still the file named the lock file: another process may have replaced it.
bool stillTheLockFile(const Directory& directory, int fd) {
    struct stat named {};
    struct stat held {};
    return ::fstatat(directory.fd, DirectoryLock::kFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &held) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// Puts a new lock file of mode 0600, locked, in place of the one whose lock is held.
FileDescriptor replaceLockFile(const Directory& directory, const fs::path& file,
                               const std::string& problem) {
    std::string temporary;
    FileDescriptor fd(
        formats::createTemporaryAt(directory.fd, DirectoryLock::kFileName, 0600, temporary));
    const auto refuse = [&] {
        const int error = errno;
        if (!temporary.empty() && fd.get() >= 0) {
            ::unlinkat(directory.fd, temporary.c_str(), 0);
        }
        throw LockFileError(file, problem + " and cannot be replaced: " + describeError(error),
                            error);
    };
    if (fd.get() < 0) {
        refuse();
    }
    if (::fchmod(fd.get(), 0600) != 0 ||
        (::geteuid() == 0 && ::fchown(fd.get(), directory.owner, directory.group) != 0) ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
        ::renameat(directory.fd, temporary.c_str(), directory.fd, DirectoryLock::kFileName) != 0) {
        refuse();
    }
    return fd;
}

}  // namespace

DirectoryLock::DirectoryLock(const Directory& directory, std::chrono::milliseconds timeout) {
    const fs::path file = directory.path / kFileName;
    beforeStep(WriteStep::Lock, kFileName, "cannot lock", file);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(50);
    while (true) {
        struct stat info {};
        FileDescriptor fd = openLockFile(directory, file, info);
        const bool mendNeeded = othersCouldOpen(info);
        // Anyone may be the holder of a lock file others can open: no waiting for them.
        const bool othersCouldHold = (info.st_mode & 077) != 0;
        bool locked = false;
        while (!(locked = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                fail("cannot lock", file);
            }
            if (othersCouldHold && errno == EWOULDBLOCK) {
                throw LockFileError(file, whyOthersCould(info) + ", and it is held now", EACCES);
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(20'000));
        }
        // Replaced by another process while this one waited: lock the new one.
        if (!stillTheLockFile(directory, fd.get())) {
            continue;
        }
        if (mendNeeded) {
            fd = replaceLockFile(directory, file, whyOthersCould(info));
        }
        held_ = true;
        fd_ = fd.release();
        return;
    }
}

DirectoryLock::~DirectoryLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

}  // namespace quorvane::platform::hive
