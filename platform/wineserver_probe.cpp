#include "platform/wineserver_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "formats/user_database.h"

namespace quorvane::platform {

namespace fs = std::filesystem;

namespace {

// A small file of /proc, whole; empty when it cannot be read.
std::string readProcFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

struct Owner {
    uid_t uid;
    gid_t gid;
};

// Wine runs a prefix only for the user who owns it, so its server is that user's.
Owner prefixOwner(const struct stat& prefix) {
    return {prefix.st_uid, formats::primaryGroupOf(prefix.st_uid).value_or(prefix.st_gid)};
}

// Read-only, without following a link and without blocking, so that neither a missing file nor
// a FIFO or a link put in its place can create anything, hang the caller or disclose a file.
int openRegularFile(int parent, const char* name, int extraFlags = 0, mode_t mode = 0) {
    const int fd = ::openat(
        parent, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | extraFlags, mode);
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

// The prefix's `wineserver` file names the directory under ${TMPDIR:-/tmp} that Debian's Wine
// made for its servers. It is one path component; anything else is not trusted as one.
std::optional<std::string> serverRootName(int directory, uid_t owner) {
    const int fd = openRegularFile(directory, "wineserver");
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status {};
    std::string name(256, '\0');
    const ssize_t got = ::fstat(fd, &status) == 0 && status.st_uid == owner
                            ? ::read(fd, name.data(), name.size())
                            : -1;
    ::close(fd);
    name.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
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

std::string serverDirectoryName(const struct stat& prefix) {
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx",
                  static_cast<unsigned long long>(prefix.st_dev),
                  static_cast<unsigned long long>(prefix.st_ino));
    return name;
}

// A place where a server directory for the prefix may be: `root`/`base`/server-<dev>-<ino>.
// `create`: where the prefix's server starts now, so the directories are made when missing.
struct ServerPlace {
    fs::path root;
    std::string base;
    bool create;
};

std::vector<ServerPlace> serverPlaces(int directory, uid_t owner) {
    const std::string uid = std::to_string(owner);
    const fs::path runtime = fs::path("/run/user") / uid;
    const auto name = serverRootName(directory, owner);
    // Only a Wine prefix gets a server directory made for it, not Quorvane's own store.
    std::error_code error;
    struct stat driveC {};
    const bool winePrefix =
        name || (::fstatat(directory, "drive_c", &driveC, 0) == 0 && S_ISDIR(driveC.st_mode));
    std::vector<ServerPlace> places{
        {runtime, "wine", winePrefix && fs::is_directory(runtime, error)},
        {"/tmp", ".wine-" + uid, false}};
    if (name) {
        const char* tmp = std::getenv("TMPDIR");
        const fs::path root = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        places.push_back({root, *name, true});
        if (root != "/tmp") {
            places.push_back({"/tmp", *name, false});
        }
    }
    return places;
}

// Opens, or makes as the server makes it, one directory on the way to the lock file: mode 0700
// and owned by the server's user; one Wine would refuse is not used.
int serverDirectory(int parent, const std::string& name, const Owner& owner, bool create) {
    const bool made = create && ::mkdirat(parent, name.c_str(), 0700) == 0;
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat status {};
    const bool given = !made || ::geteuid() != 0 || ::fchown(fd, owner.uid, owner.gid) == 0;
    if (!given || ::fstat(fd, &status) != 0 || status.st_uid != owner.uid ||
        (status.st_mode & 077) != 0) {
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

// A server in one of Wine's places, asked through its lock file; only directories that belong
// to the prefix's owner and that nobody else may enter count, as Wine makes them: anyone may
// make a directory of that name in a shared temporary folder and hold a lock there.
std::optional<WineserverInfo> serverAt(const ServerPlace& place, const std::string& serverName,
                                       const Owner& owner) {
    const fs::path lockFile = place.root / place.base / serverName / "lock";
    const int root = ::open(place.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int base = root < 0 ? -1 : serverDirectory(root, place.base, owner, false);
    const int server = base < 0 ? -1 : serverDirectory(base, serverName, owner, false);
    const int fd = server < 0 ? -1 : openRegularFile(server, "lock");
    std::optional<long> pid;
    if (fd >= 0) {
        pid = writeLockHolder(fd);
        ::close(fd);
    }
    for (int opened : {server, base, root}) {
        if (opened >= 0) {
            ::close(opened);
        }
    }
    return pid ? std::optional(WineserverInfo{*pid, lockFile}) : std::nullopt;
}

// The lock file of the prefix's server that process `pid` holds open, if it does: a server keeps
// it open for its whole life, while its working directory changes between the server directory
// and the prefix.
std::optional<fs::path> openServerLock(const std::string& pid, const std::string& serverName,
                                       const std::string& inode, uid_t owner) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + pid + "/fd", error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        struct stat status {};
        struct stat parent {};
        if (!error && target.filename() == "lock" &&
            target.parent_path().filename() == serverName && ::stat(target.c_str(), &status) == 0 &&
            std::to_string(status.st_ino) == inode &&
            ::lstat(target.parent_path().c_str(), &parent) == 0 && S_ISDIR(parent.st_mode) &&
            parent.st_uid == owner && (parent.st_mode & 077) == 0) {
            return target;
        }
    }
    return std::nullopt;
}

// Every server for the prefix wherever it runs: a process holding a write lock on byte 0 of a
// file named `lock` in a directory named after the prefix that belongs to the prefix's owner
// and that nobody else may enter.
std::vector<WineserverInfo> serversInProcLocks(const std::string& serverName, uid_t owner) {
    std::istringstream locks(readProcFile("/proc/locks"));
    std::vector<WineserverInfo> servers;
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file, start, end;
        fields >> number >> kind >> mode >> access >> pid >> file >> start >> end;
        if (kind != "POSIX" || access != "WRITE" || start != "0" || end != "0") {
            continue;
        }
        if (auto lockFile =
                openServerLock(pid, serverName, file.substr(file.rfind(':') + 1), owner)) {
            servers.push_back({std::stol(pid), *lockFile});
        }
    }
    return servers;
}

BootTicks processStart(long pid) {
    const std::string text = readProcFile("/proc/" + std::to_string(pid) + "/stat");
    // Field 22, counted after the command name, which ends with the last ')'.
    std::istringstream fields(text.substr(std::min(text.rfind(')') + 1, text.size())));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index) {
    }
    return fields ? std::stoull(field) : 0;
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

BootTicks bootTicksNow() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const auto perSecond = static_cast<BootTicks>(::sysconf(_SC_CLK_TCK));
    return static_cast<BootTicks>(now.tv_sec) * perSecond +
           static_cast<BootTicks>(now.tv_nsec) * perSecond / 1'000'000'000ULL;
}

std::optional<WineserverInfo> findRunningWineserver(int directory) {
    struct stat prefix {};
    if (::fstat(directory, &prefix) != 0) {
        return std::nullopt;
    }
    if (auto server = findWineserverInItsPlaces(directory)) {
        return server;
    }
    const std::string serverName = serverDirectoryName(prefix);
    auto elsewhere = serversInProcLocks(serverName, prefix.st_uid);
    return elsewhere.empty() ? std::nullopt : std::optional(elsewhere.front());
}

std::optional<WineserverInfo> findWineserverInItsPlaces(int directory) {
    struct stat prefix {};
    if (::fstat(directory, &prefix) != 0) {
        return std::nullopt;
    }
    const std::string serverName = serverDirectoryName(prefix);
    // Looking makes nothing, so the group a made directory would get does not matter.
    const Owner owner{prefix.st_uid, prefix.st_gid};
    for (const auto& place : serverPlaces(directory, prefix.st_uid)) {
        if (auto server = serverAt(place, serverName, owner)) {
            return server;
        }
    }
    return std::nullopt;
}

std::optional<WineserverInfo> findRunningWineserver(const fs::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    auto server = findRunningWineserver(fd);
    ::close(fd);
    return server;
}

WineserverStartLock::WineserverStartLock(const fs::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        holdFor(fd);
        ::close(fd);
    }
}

WineserverStartLock::WineserverStartLock(int directory) {
    holdFor(directory);
}

void WineserverStartLock::holdFor(int directory) {
    struct stat prefix {};
    if (::fstat(directory, &prefix) != 0) {
        return;
    }
    serverName_ = serverDirectoryName(prefix);
    owner_ = prefix.st_uid;
    const auto owner = prefixOwner(prefix);
    for (const auto& place : serverPlaces(directory, prefix.st_uid)) {
        const int root = ::open(place.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int base = root < 0 ? -1 : serverDirectory(root, place.base, owner, place.create);
        const int server = base < 0 ? -1 : serverDirectory(base, serverName_, owner, place.create);
        if (server >= 0) {
            hold(server, place.root / place.base / serverName_ / "lock", place.create);
            ::close(server);
        }
        for (int fd : {base, root}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (running_) {
            release();
            return;
        }
    }
    if (auto elsewhere = serversInProcLocks(serverName_, owner_); !elsewhere.empty()) {
        running_ = elsewhere.front();
        release();
    }
}

void WineserverStartLock::hold(int serverDirectory, const fs::path& lockFile, bool create) {
    // Opening and then closing a second descriptor of a file already locked would drop the
    // lock, so a file reached by two places is recognised before it is opened.
    struct stat status {};
    if (::fstatat(serverDirectory, "lock", &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        std::find(held_.begin(), held_.end(), std::pair{status.st_dev, status.st_ino}) !=
            held_.end()) {
        return;
    }
    const bool made = create &&
                      ::fstatat(serverDirectory, "lock", &status, AT_SYMLINK_NOFOLLOW) != 0 &&
                      errno == ENOENT;
    const int fd = openRegularFile(serverDirectory, "lock", made ? O_CREAT | O_EXCL : 0, 0600);
    if (fd < 0) {
        return;
    }
    struct stat parent {};
    if (made && ::geteuid() == 0 && ::fstat(serverDirectory, &parent) == 0 &&
        ::fchown(fd, parent.st_uid, parent.st_gid) != 0) {
        // A lock file its owner's Wine cannot open would keep that Wine from starting.
        ::unlinkat(serverDirectory, "lock", 0);
        ::close(fd);
        return;
    }
    descriptors_.push_back(fd);
    if (::fstat(fd, &status) == 0) {
        held_.emplace_back(status.st_dev, status.st_ino);
    }
    // A server may exit between a refused lock and the question who holds it; then the lock is
    // free and is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock lock = byteZero(F_RDLCK);
        if (::fcntl(fd, F_SETLK, &lock) == 0) {
            return;
        }
        if (errno != EAGAIN && errno != EACCES) {
            return;  // a file system without record locks: nothing to hold, nothing to learn
        }
        if (auto pid = writeLockHolder(fd)) {
            running_ = WineserverInfo{*pid, lockFile};
            return;
        }
    }
}

std::optional<WineserverInfo> WineserverStartLock::startedBefore(BootTicks moment) const {
    for (const auto& server : serversInProcLocks(serverName_, owner_)) {
        if (processStart(server.pid) <= moment) {
            return server;
        }
    }
    return std::nullopt;
}

WineserverStartLock::~WineserverStartLock() {
    release();
}

void WineserverStartLock::release() {
    for (int fd : descriptors_) {
        ::close(fd);
    }
    descriptors_.clear();
    held_.clear();
}

std::string wineserverReadingNote(const fs::path& directory, const WineserverInfo& server) {
    return "a wineserver (process " + std::to_string(server.pid) +
           ") is running for the Wine prefix " + directory.string() +
           "; it may hold changes newer than the hive files read here.";
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
