// File operations of the hive store: read a hive with the identity of the version read, replace
// it atomically and durably, and serialise writers of one directory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::platform::hive {

// Identifies one version of a file: every replacement makes a new inode and time.
struct FileSignature {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;

    bool sameVersion(const FileSignature& other) const;
    bool writable() const { return (mode & 0222) != 0; }
};

// nullopt when the file does not exist; throws std::system_error on other failures.
std::optional<FileSignature> statFile(const std::filesystem::path& file);
// The same for `file` in the directory open as `directoryFd`: cheaper, as the kernel resolves
// one name instead of the whole path.
std::optional<FileSignature> statFileIn(int directoryFd, const std::filesystem::path& file);

struct FileContent {
    std::string text;
    FileSignature signature;
};
// nullopt when the file does not exist; throws std::system_error on other failures.
std::optional<FileContent> readWholeFile(const std::filesystem::path& file);

// Writes a temporary file beside `file`, flushes it to disk, renames it over `file` and flushes
// the directory, so that `file` is either the old or the new text, never torn. The new file gets
// `mode` and, where the process may give it, the owner of `previous`: root working on a user's
// prefix must not leave files that user cannot write. Throws std::system_error.
FileSignature replaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode,
                          const std::optional<FileSignature>& previous = std::nullopt);

// Removes what writers killed half-way left beside `file`. Only while holding the directory
// lock: no temporary file of a live writer exists then.
void removeStaleTemporaries(const std::filesystem::path& file);

// An exclusive advisory lock (flock) on a directory, held while alive. Waits up to `timeout`.
class DirectoryLock {
public:
    DirectoryLock(int directoryFd, std::chrono::milliseconds timeout);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

}  // namespace quorvane::platform::hive
