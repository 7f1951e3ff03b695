// File operations of the hive store: read a hive with the identity of the version read, replace
// it atomically and durably, and serialise writers of one directory. Every name is resolved
// relative to the directory's open descriptor, never by path, so that a directory swapped for a
// link while Quorvane works cannot redirect it (root working on a user's prefix, for one).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "formats/whole_file.h"

namespace quorvane::platform::hive {

// A file operation that failed: what was done to which file, and the system's error number.
// what() reads "cannot flush /prefix/user.reg: disk full".
class FileError : public std::runtime_error {
public:
    FileError(const std::string& action, const std::filesystem::path& file, int error);
    // For refusals the system does not report itself ("is not a regular file").
    FileError(const std::filesystem::path& file, const std::string& refusal, int error);
    int error() const { return error_; }

private:
    int error_;
};

// The directory's lock file cannot serve: it is not a regular file of the directory's owner, or
// it could be held by other users and is held now. what() names the lock file and the problem.
class LockFileError : public FileError {
public:
    using FileError::FileError;
};

// The directory the hives live in, open, and the user it belongs to.
struct Directory {
    std::filesystem::path path;
    int fd = -1;
    uid_t owner = 0;
    gid_t group = 0;
};

// Opens the directory `path` once; everything after works relative to the descriptor, so that
// a link changed later cannot redirect it. Links on the way are followed; as root, only links
// that belong to root or to the owner of the directory they lead to, so that a user's link
// cannot lead root into a directory of root's own. Throws FileError (ENOENT when it does not
// exist).
Directory openDirectory(const std::filesystem::path& path);

// Identifies one version of a file: every replacement makes a new inode and time.
struct FileSignature {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    // The inode's change time, which no program can set back: a file written in place whose
    // modification time was set back still shows a new one. Renaming a file changes it too, so
    // it does not tell versions apart (a file's own replacement would look changed): it tells
    // whether a version read in pieces is still untouched.
    std::int64_t changedSeconds = 0;
    long changedNanoseconds = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;

    bool sameVersion(const FileSignature& other) const;
    bool untouchedSince(const FileSignature& other) const;
    bool writable() const { return (mode & 0222) != 0; }
};

// The file `name` in `directory`, links followed: nullopt when it does not exist. Throws
// FileError. Cheap, for noticing a new version; HiveReader decides whether it may be used.
std::optional<FileSignature> statFileIn(const Directory& directory, const std::string& name);

// The file was replaced, cut short or written to since the version being read was opened: what
// was read of it may not fit together. Reading it afresh is the remedy.
class FileChanged : public FileError {
public:
    using FileError::FileError;
};

// One version of the hive `name` in `directory`, read by byte ranges. A symbolic link is
// followed, as Wine follows it, only to a file of the directory's owner; a file that is not a
// regular one (a FIFO, a device, a directory) is refused without waiting on it. The descriptor
// is held only until close(): a read after it opens the file again, and every opening checks
// that the file is still the version first opened (device, inode, size, time, mode). Reading by
// descriptor rather than through a mapping, a file cut short by another process meanwhile gives
// a short read, noticed, never a fault.
class HiveReader {
public:
    // nullopt when the hive does not exist. Throws FileError.
    static std::optional<HiveReader> open(const Directory& directory, const std::string& name);
    ~HiveReader();
    HiveReader(HiveReader&& other) noexcept;
    HiveReader& operator=(HiveReader&& other) = delete;
    HiveReader(const HiveReader&) = delete;
    HiveReader& operator=(const HiveReader&) = delete;

    const FileSignature& signature() const { return signature_; }
    std::size_t size() const { return static_cast<std::size_t>(signature_.size); }
    // Fills `out` with the bytes from `offset` on. Throws FileChanged when the file is no longer
    // the version opened first (or holds fewer bytes), FileError when it cannot be read.
    void read(std::size_t offset, char* out, std::size_t length);
    // Throws FileChanged unless the file is still the version opened first.
    void checkUnchanged();
    void close();

private:
    HiveReader(Directory directory, std::string name, FileSignature signature, int fd);
    void reopen();

    Directory directory_;  // borrowed: the descriptor belongs to the store
    std::string name_;
    FileSignature signature_;
    int fd_ = -1;
};

// Replaces the hive `name` (or the file its link leads to, by the rules of HiveReader): writes a
// temporary file beside it, flushes it, renames it over the hive and flushes the directory, so
// that the hive is either the old or the new text, never torn. The new file keeps the mode and,
// where the process may give it, the owner of `previous`; a new hive gets the directory's owner
// and the mode the umask leaves of 0666, as Wine makes them. Throws FileError.
FileSignature replaceHive(const Directory& directory, const std::string& name,
                          std::string_view text, const std::optional<FileSignature>& previous);

// Removes the temporary files that writers killed half-way left in `directory`. Only while
// holding the DirectoryLock: no temporary file of a live writer exists then.
void removeStaleTemporaries(const Directory& directory);

// An exclusive lock (flock) on the directory's lock file, held while alive; waits up to
// `timeout`. The lock file belongs to the directory's owner with mode 0600, so that nobody else
// can hold it and block the owner's writes. A lock file that others could open (another mode, a
// second name) is replaced by a new one while its lock is held; one that others could open and
// that is held now is refused at once. held() is false when the wait ran out; a lock file that
// cannot serve throws LockFileError, other failures FileError.
class DirectoryLock {
public:
    static constexpr const char* kFileName = ".quorvane-lock";

    DirectoryLock(const Directory& directory, std::chrono::milliseconds timeout);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace quorvane::platform::hive
