#include "platform/wineserver_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace quorvane::platform {

namespace fs = std::filesystem;

namespace {

// The prefix's `wineserver` file names the directory under ${TMPDIR:-/tmp} that Debian's Wine
// made for its servers. It is one path component; anything else is not trusted as one.
std::optional<std::string> serverRootName(const fs::path& directory) {
    std::ifstream in(directory / "wineserver", std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string name(256, '\0');
    in.read(name.data(), static_cast<std::streamsize>(name.size()));
    name.resize(static_cast<std::size_t>(in.gcount()));
    const char* whitespace = " \t\r\n\v\f";
    const auto first = name.find_first_not_of(whitespace);
    if (first == std::string::npos) {
        return std::nullopt;
    }
    name = name.substr(first, name.find_last_not_of(whitespace) - first + 1);
    if (name == "." || name == ".." || name.find_first_of(std::string("/\0", 2)) != name.npos) {
        return std::nullopt;
    }
    return name;
}

// Every place a wineserver for `directory` may keep its lock file, as the different Wine builds
// place it. The server directory is named after the prefix's device and inode, so a prefix that
// was moved or copied has a server directory of its own.
std::vector<fs::path> candidateLockFiles(const fs::path& directory) {
    struct stat prefix {};
    if (::stat(directory.c_str(), &prefix) != 0) {
        return {};
    }
    char serverName[64];
    std::snprintf(serverName, sizeof serverName, "server-%llx-%llx",
                  static_cast<unsigned long long>(prefix.st_dev),
                  static_cast<unsigned long long>(prefix.st_ino));
    const std::string uid = std::to_string(::getuid());

    std::vector<fs::path> roots{fs::path("/tmp") / (".wine-" + uid),
                                fs::path("/run/user") / uid / "wine"};
    if (auto name = serverRootName(directory)) {
        const char* tmp = std::getenv("TMPDIR");
        roots.push_back(fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / *name);
    }
    std::vector<fs::path> lockFiles;
    for (const auto& root : roots) {
        lockFiles.push_back(root / serverName / "lock");
    }
    return lockFiles;
}

// Read-only and non-blocking, so that neither a missing file nor a FIFO put in its place can
// create anything or hang the caller.
int openLockFile(const fs::path& lockFile) {
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct flock byteZero(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return lock;
}

// Asking whether a read lock could be had reports only write locks, which only a wineserver
// takes there; Quorvane's own read locks do not show.
std::optional<long> writeLockHolder(int fd) {
    struct flock query = byteZero(F_RDLCK);
    if (::fcntl(fd, F_GETLK, &query) != 0 || query.l_type == F_UNLCK) {
        return std::nullopt;
    }
    return static_cast<long>(query.l_pid);
}

bool isSafeInShell(const std::string& text) {
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') ||
                           std::string("_-./+:,=@%").find(c) != std::string::npos;
        if (!plain) {
            return false;
        }
    }
    return !text.empty();
}

std::string shellQuoted(const std::string& text) {
    if (isSafeInShell(text)) {
        return text;
    }
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

std::optional<WineserverInfo> findRunningWineserver(const fs::path& directory) {
    for (const auto& lockFile : candidateLockFiles(directory)) {
        const int fd = openLockFile(lockFile);
        if (fd < 0) {
            continue;
        }
        const auto pid = writeLockHolder(fd);
        ::close(fd);
        if (pid) {
            return WineserverInfo{*pid, lockFile};
        }
    }
    return std::nullopt;
}

WineserverStartLock::WineserverStartLock(const fs::path& directory) {
    std::vector<std::pair<dev_t, ino_t>> seen;
    for (const auto& lockFile : candidateLockFiles(directory)) {
        // Opening and then closing a second descriptor of a file already locked would drop the
        // lock, so a file reached by two candidate paths is recognised before it is opened.
        struct stat status {};
        if (::stat(lockFile.c_str(), &status) != 0) {
            continue;
        }
        const std::pair<dev_t, ino_t> identity{status.st_dev, status.st_ino};
        if (std::find(seen.begin(), seen.end(), identity) != seen.end()) {
            continue;
        }
        seen.push_back(identity);

        const int fd = openLockFile(lockFile);
        if (fd < 0) {
            continue;
        }
        descriptors_.push_back(fd);
        // A server may exit between a refused lock and the question who holds it; then the
        // lock is free and is tried again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            struct flock hold = byteZero(F_RDLCK);
            if (::fcntl(fd, F_SETLK, &hold) == 0) {
                break;
            }
            if (errno != EAGAIN && errno != EACCES) {
                break;  // a file system without record locks: nothing to hold, nothing to learn
            }
            if (auto pid = writeLockHolder(fd)) {
                running_ = WineserverInfo{*pid, lockFile};
                release();
                return;
            }
        }
    }
}

WineserverStartLock::~WineserverStartLock() {
    release();
}

void WineserverStartLock::release() {
    for (int fd : descriptors_) {
        ::close(fd);
    }
    descriptors_.clear();
}

std::string wineserverRefusal(const fs::path& directory, const WineserverInfo& server) {
    return "A wineserver (process " + std::to_string(server.pid) +
           ") is running for the Wine prefix " + directory.string() +
           ". It keeps the prefix's registry in memory and writes it back over the hive files "
           "when it exits, which would overwrite any change made now. Quit the Wine programs "
           "that use this prefix, or stop the server with `WINEPREFIX=" +
           shellQuoted(directory.string()) + " wineserver -k`, then try again.";
}

}  // namespace quorvane::platform
