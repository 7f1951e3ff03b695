// Whether a wineserver runs for a Wine prefix, and a way to keep one from starting while the
// prefix's hive files are written. A running server holds the whole registry in memory and writes
// it back over the hive files when it exits, so an edit made beside it is lost.
//
// POSIX record locks belong to a process, not to a descriptor: closing any descriptor of a lock
// file drops every lock the process holds on it. So do not call findRunningWineserver for a
// directory while a WineserverStartLock for it is alive in the same process; the lock's own
// running() already tells.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/file_access.h"

namespace quorvane::platform {

struct WineserverInfo {
    long pid;
    std::filesystem::path lockFile;
};

// A wineserver running for the prefix in `directory`, found by the POSIX write lock it holds on
// byte 0 of `lock` in its server directory: in the places Wine puts that directory for the
// prefix's owner (F_GETLK on a read-only descriptor), and, for a server started with another
// TMPDIR, among the write locks of /proc/locks held on a lock file in a directory of the server
// directory's name. Only server directories that belong to the prefix's owner and that nobody
// else may enter count. Creates nothing. Every folder is reached through the file-access layer,
// those of the prefix's owner with that user's rights.
std::optional<WineserverInfo> findRunningWineserver(const formats::Folder& directory);
// The same for the directory at `directory`, opened for the question.
std::optional<WineserverInfo> findRunningWineserver(const std::filesystem::path& directory);
// Only the places Wine puts a server directory, without the look through /proc/locks and the
// user database: for the note beside a read, which protects nothing, a server started with
// another TMPDIR and no `wineserver` file in the prefix may go unnoticed.
std::optional<WineserverInfo> findWineserverInItsPlaces(const formats::Folder& directory);

// Process start times on one clock, to tell whether a server began before a moment.
using BootTicks = unsigned long long;
BootTicks bootTicksNow();

// While alive, holds a lock on byte 0 (length 1) of the server directory's `lock` file, so that
// no wineserver starts during a short write: a starting server needs the write lock there and
// gives up, and the Wine command that started it waits and retries for some seconds. Where the
// prefix's server would start now (/run/user/<uid>/wine, or ${TMPDIR:-/tmp} and the name in the
// prefix's `wineserver` file) the directories and the lock file are made as the server makes
// them when they are missing (with the rights of the prefix's owner, whose they are, as the
// server would); lock files in Wine's other places are held when they exist.
// running() is set instead, and nothing held, when a server already runs.
//
// The lock held is a read lock (F_SETLK, F_RDLCK). It keeps a server out just as a write lock
// would, yet several Quorvane processes can hold it at once without taking one another for a
// wineserver, and `wineserver -k`, which signals the holder of a write lock, leaves them alone.
class WineserverStartLock {
public:
    explicit WineserverStartLock(const formats::Folder& directory);
    explicit WineserverStartLock(const std::filesystem::path& directory);
    ~WineserverStartLock();
    WineserverStartLock(const WineserverStartLock&) = delete;
    WineserverStartLock& operator=(const WineserverStartLock&) = delete;

    const std::optional<WineserverInfo>& running() const { return running_; }
    // A server the hold could not keep out (one started with another TMPDIR) that began before
    // `moment`: it may hold the hive files as they were before a write done by then.
    std::optional<WineserverInfo> startedBefore(BootTicks moment) const;

private:
    void holdFor(const formats::Folder& directory);
    void release();
    void hold(const formats::Folder& serverDirectory, const std::filesystem::path& lockFile,
              bool create);

    std::string serverName_;
    uid_t owner_ = 0;
    std::vector<std::pair<dev_t, ino_t>> held_;

    std::vector<formats::OpenFile> heldFiles_;
    std::optional<WineserverInfo> running_;
};

// The one line added to what a command that only reads shows beside a running wineserver.
std::string wineserverReadingNote(const std::filesystem::path& directory,
                                  const WineserverInfo& server);

// The message shown when the store refuses to write beside a running wineserver: which prefix,
// which process, why the write would be lost, and how to stop the server.
std::string wineserverRefusal(const std::filesystem::path& directory, const WineserverInfo& server);

}  // namespace quorvane::platform
