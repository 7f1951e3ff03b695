// Whether a wineserver runs for a Wine prefix, and a way to keep one from starting while the
// prefix's hive files are written. A running server holds the whole registry in memory and writes
// it back over the hive files when it exits, so an edit made beside it is lost.
//
// POSIX record locks belong to a process, not to a descriptor: closing any descriptor of a lock
// file drops every lock the process holds on it. So do not call findRunningWineserver for a
// directory while a WineserverStartLock for it is alive in the same process; the lock's own
// running() already tells.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::platform {

struct WineserverInfo {
    long pid;
    std::filesystem::path lockFile;
};

// A wineserver running for the prefix in `directory`, found by the POSIX write lock it holds on
// byte 0 of `lock` in its server directory (F_GETLK on a read-only descriptor). Creates nothing.
std::optional<WineserverInfo> findRunningWineserver(const std::filesystem::path& directory);

// While alive, holds a lock on byte 0 (length 1) of the server directory's `lock` file when that
// file exists, so that no wineserver starts during a short write: a starting server needs the
// write lock there and gives up, and the Wine command that started it waits and retries for some
// seconds. running() is set instead, and nothing held, when a server already holds it.
//
// The lock held is a read lock (F_SETLK, F_RDLCK). It keeps a server out just as a write lock
// would, yet several Quorvane processes can hold it at once without taking one another for a
// wineserver, and `wineserver -k`, which signals the holder of a write lock, leaves them alone.
class WineserverStartLock {
public:
    explicit WineserverStartLock(const std::filesystem::path& directory);
    ~WineserverStartLock();
    WineserverStartLock(const WineserverStartLock&) = delete;
    WineserverStartLock& operator=(const WineserverStartLock&) = delete;

    const std::optional<WineserverInfo>& running() const { return running_; }

private:
    void release();

    std::vector<int> descriptors_;
    std::optional<WineserverInfo> running_;
};

// The message shown when the store refuses to write beside a running wineserver: which prefix,
// which process, why the write would be lost, and how to stop the server.
std::string wineserverRefusal(const std::filesystem::path& directory, const WineserverInfo& server);

}  // namespace quorvane::platform
