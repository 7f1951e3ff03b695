// File operations of the hive store, on the file-access layer (formats/file_access.h): read a
// hive with the identity of the version read, replace it atomically and durably, and serialise
// writers of one directory. The directory is opened once; every hive is reached beneath it, with
// the rights of the directory's owner when root works on another user's prefix.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "formats/file_access.h"

namespace quorvane::platform::hive {

// A file operation that failed: what was done to which file, and the system's error number.
// what() reads "cannot flush /prefix/user.reg: disk full".
class FileError : public std::runtime_error {
public:
    FileError(const std::string& action, const std::filesystem::path& file, int error);
    // For refusals the system does not report itself ("is not a regular file").
    FileError(const std::filesystem::path& file, const std::string& refusal, int error);
    // A failure of the file-access layer whose reason names the file.
    explicit FileError(const Failure& failure);
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

// The file was replaced, cut short or written to since the version being read was opened: what
// was read of it may not fit together, or a change made from it would lose what changed. Reading
// it afresh is the remedy.
class FileChanged : public FileError {
public:
    using FileError::FileError;
};

using FileSignature = formats::FileSignature;

// A folder of hive files held open by its descriptor, for the offline hives.
struct Directory {
    std::filesystem::path path;
    int fd = -1;
    uid_t owner = 0;
    gid_t group = 0;
};

// The file `name` in `directory`, links followed: nullopt when it does not exist. Throws
// FileError.
std::optional<FileSignature> statFileIn(const Directory& directory, const std::string& name);

// Opens the directory `path` once (formats::Folder::open: links on the way followed only by the
// rule that keeps root out of its own folders). Throws FileError (ENOENT when it does not exist).
formats::Folder openDirectory(const std::filesystem::path& path);

// The hive `name` in `directory` as it is now, where its link leads (below): nullopt when it
// does not exist. Cheap, for noticing a new version. Throws FileError.
std::optional<FileSignature> examineHive(const formats::Folder& directory, const std::string& name);

// One version of the hive `name` in `directory`, read by byte ranges. A symbolic link is
// followed, as Wine follows it, with the rights of the directory's owner and only to a file of
// that owner; a file that is not a regular one (a FIFO, a device, a directory) is refused without
// waiting on it. The descriptor is held only until close(): a read after it opens the file
// again, and every opening checks that the file is still the version first opened (device,
// inode, size, time, mode). Reading by descriptor rather than through a mapping, a file cut short
// by another process meanwhile gives a short read, noticed, never a fault.
class HiveReader {
public:
    // nullopt when the hive does not exist. Throws FileError.
    static std::optional<HiveReader> open(const formats::Folder& directory,
                                          const std::string& name);

    const FileSignature& signature() const { return signature_; }
    std::size_t size() const { return static_cast<std::size_t>(signature_.size); }
    // Fills `out` with the bytes from `offset` on. Throws FileChanged when the file is no longer
    // the version opened first (or holds fewer bytes), FileError when it cannot be read.
    void read(std::size_t offset, char* out, std::size_t length);
    // Throws FileChanged unless the file is still the version opened first.
    void checkUnchanged();
    void close() { file_.reset(); }

private:
    HiveReader(formats::Folder directory, std::string name, formats::OpenFile file);
    void reopen();

    formats::Folder directory_;
    std::string name_;
    FileSignature signature_;
    std::optional<formats::OpenFile> file_;
};

// Replaces the hive `name` (or the file its link leads to, by the rules of HiveReader) with
// `text`: a new file beside it, flushed, takes its name, so that the hive is either the old or
// the new text, never torn. `previous` is the version the text was made from: when the hive is
// no longer that version, nothing is written and FileChanged is thrown. The new file keeps the
// mode and owner of `previous`; a new hive gets the mode the umask leaves of 0666, as Wine makes
// them, and belongs to the user the directory is worked on as. Throws FileError.
FileSignature replaceHive(const formats::Folder& directory, const std::string& name,
                          std::string_view text, const std::optional<FileSignature>& previous);

// The directory's exclusive lock (formats::FolderLock), held while alive; waits up to `timeout`.
// held() is false when the wait ran out; a lock file that cannot serve throws LockFileError,
// other failures FileError.
class DirectoryLock {
public:
    DirectoryLock(const formats::Folder& directory, std::chrono::milliseconds timeout);

    bool held() const { return lock_.held(); }

private:
    formats::FolderLock lock_;
};

}  // namespace quorvane::platform::hive
