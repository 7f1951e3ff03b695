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

using formats::Folder;

// A file of /proc, whole, read with the process's own rights; empty when it cannot be read.
std::string readProcFile(const fs::path& file) {
    formats::OpenOptions options;
    options.processRights = true;
    const auto folder = Folder::open(file.parent_path(), options);
    auto read = folder ? folder->read(file.filename(), 16u << 20)
                       : Result<formats::FileContent>(folder.failure());
    return read ? std::move(read->bytes) : std::string();
}

struct Owner {
    uid_t uid;
    gid_t gid;
};

// Wine runs a prefix only for the user who owns it, so its server is that user's.
Owner prefixOwner(const formats::FileSignature& prefix) {
    return {prefix.owner, formats::primaryGroupOf(prefix.owner).value_or(prefix.group)};
}

// The prefix's `wineserver` file names the directory under ${TMPDIR:-/tmp} that Debian's Wine
// made for its servers. It is one path component; anything else is not trusted as one.
std::optional<std::string> serverRootName(const Folder& directory, uid_t owner) {
    const auto read = directory.read("wineserver", 256);
    if (!read || read->signature.owner != owner) {
        return std::nullopt;
    }
    std::string name = read->bytes;
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

std::string serverDirectoryName(const formats::FileSignature& prefix) {
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx",
                  static_cast<unsigned long long>(prefix.device),
                  static_cast<unsigned long long>(prefix.inode));
    return name;
}

// A place where a server directory for the prefix may be: `root`/`base`/server-<dev>-<ino>.
// `create`: where the prefix's server starts now, so the directories are made when missing.
struct ServerPlace {
    fs::path root;
    std::string base;
    bool create;
};

std::vector<ServerPlace> serverPlaces(const Folder& directory, uid_t owner) {
    const std::string uid = std::to_string(owner);
    const fs::path runtime = fs::path("/run/user") / uid;
    const auto name = serverRootName(directory, owner);
    // Only a Wine prefix gets a server directory made for it, not Quorvane's own store.
    const auto driveC = directory.examine("drive_c");
    const bool winePrefix = name || (driveC && *driveC && (*driveC)->folder());
    std::vector<ServerPlace> places{{runtime, "wine", winePrefix && Folder::open(runtime).ok()},
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

// The folder `root` of a server place, worked in with the rights of the server's user: what is
// made there is that user's, as the server would make it.
std::optional<Folder> serverRoot(const fs::path& root, const Owner& owner) {
    formats::OpenOptions options;
    options.actAs = formats::Owner{owner.uid, owner.gid};
    auto folder = Folder::open(root, options);
    return folder ? std::optional(std::move(folder).value()) : std::nullopt;
}

// Opens, or makes as the server makes it, one directory on the way to the lock file: mode 0700
// and owned by the server's user; one Wine would refuse is not used.
std::optional<Folder> serverDirectory(const Folder& parent, const std::string& name,
                                      const Owner& owner, bool create) {
    auto folder = create ? parent.makeFolder(name, 0700) : parent.folder(name);
    if (!folder || folder->signature().owner != owner.uid ||
        (folder->signature().mode & 077) != 0) {
        return std::nullopt;
    }
    return std::move(folder).value();
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
    const auto root = serverRoot(place.root, owner);
    const auto base = root ? serverDirectory(*root, place.base, owner, false) : std::nullopt;
    const auto server = base ? serverDirectory(*base, serverName, owner, false) : std::nullopt;
    const auto file = server ? server->openFile("lock", Folder::Opening::Read)
                             : Result<formats::OpenFile>(failure(""));
    const auto pid = file ? writeLockHolder(file->descriptor()) : std::nullopt;
    return pid ? std::optional(WineserverInfo{*pid, lockFile}) : std::nullopt;
}

// The lock file of the prefix's server that process `pid` holds open, if it does: a server keeps
// it open for its whole life, while its working directory changes between the server directory
// and the prefix.
std::optional<fs::path> openServerLock(const std::string& pid, const std::string& serverName,
                                       const std::string& inode, uid_t owner) {
    formats::OpenOptions options;
    options.processRights = true;
    const auto descriptors = Folder::open("/proc/" + pid + "/fd", options);
    const auto listing =
        descriptors ? descriptors->list({}, 4096) : Result<formats::Listing>(descriptors.failure());
    for (const formats::Entry& entry : listing ? listing->entries : std::vector<formats::Entry>()) {
        const auto text = descriptors->linkTarget(entry.name);
        const fs::path target = text ? fs::path(*text) : fs::path();
        if (target.filename() != "lock" || target.parent_path().filename() != serverName) {
            continue;
        }
        // The server directory itself, not a link to one, of the prefix's owner and closed to
        // everyone else; and the lock file in it the one the process holds.
        const auto above = Folder::open(target.parent_path().parent_path(), options);
        const auto directory = above
                                   ? above->examine(serverName)
                                   : Result<std::optional<formats::FileSignature>>(above.failure());
        if (!directory || !*directory || !(*directory)->folder() || (*directory)->owner != owner ||
            ((*directory)->mode & 077) != 0) {
            continue;
        }
        const auto lock = above->examine(fs::path(serverName) / "lock");
        if (lock && *lock && std::to_string((*lock)->inode) == inode) {
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

std::optional<WineserverInfo> findRunningWineserver(const Folder& directory) {
    if (auto server = findWineserverInItsPlaces(directory)) {
        return server;
    }
    const formats::FileSignature& prefix = directory.signature();
    auto elsewhere = serversInProcLocks(serverDirectoryName(prefix), prefix.owner);
    return elsewhere.empty() ? std::nullopt : std::optional(elsewhere.front());
}

std::optional<WineserverInfo> findWineserverInItsPlaces(const Folder& directory) {
    const formats::FileSignature& prefix = directory.signature();
    const std::string serverName = serverDirectoryName(prefix);
    // Looking makes nothing, so the group a made directory would get does not matter.
    const Owner owner{prefix.owner, prefix.group};
    for (const auto& place : serverPlaces(directory, prefix.owner)) {
        if (auto server = serverAt(place, serverName, owner)) {
            return server;
        }
    }
    return std::nullopt;
}

std::optional<WineserverInfo> findRunningWineserver(const fs::path& directory) {
    const auto folder = Folder::open(directory);
    return folder ? findRunningWineserver(*folder) : std::nullopt;
}

WineserverStartLock::WineserverStartLock(const fs::path& directory) {
    if (const auto folder = Folder::open(directory)) {
        holdFor(*folder);
    }
}

WineserverStartLock::WineserverStartLock(const Folder& directory) {
    holdFor(directory);
}

void WineserverStartLock::holdFor(const Folder& directory) {
    const formats::FileSignature& prefix = directory.signature();
    serverName_ = serverDirectoryName(prefix);
    owner_ = prefix.owner;
    const auto owner = prefixOwner(prefix);
    for (const auto& place : serverPlaces(directory, prefix.owner)) {
        const auto root = serverRoot(place.root, owner);
        const auto base =
            root ? serverDirectory(*root, place.base, owner, place.create) : std::nullopt;
        if (const auto server =
                base ? serverDirectory(*base, serverName_, owner, place.create) : std::nullopt) {
            hold(*server, place.root / place.base / serverName_ / "lock", place.create);
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

void WineserverStartLock::hold(const Folder& serverDirectory, const fs::path& lockFile,
                               bool create) {
    // Opening and then closing a second descriptor of a file already locked would drop the
    // lock, so a file reached by two places is recognised before it is opened.
    const auto there = serverDirectory.examine("lock");
    if (!there) {
        return;
    }
    if (*there &&
        std::find(held_.begin(), held_.end(),
                  std::pair<dev_t, ino_t>{(*there)->device, (*there)->inode}) != held_.end()) {
        return;
    }
    // Made with the server's user's rights, so that it is that user's, as the server makes it.
    auto file = serverDirectory.openFile(
        "lock", create && !*there ? Folder::Opening::CreateNew : Folder::Opening::Read, 0600);
    if (!file) {
        return;
    }
    const int fd = file->descriptor();
    held_.emplace_back(file->signature().device, file->signature().inode);
    heldFiles_.push_back(std::move(file).value());
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
    heldFiles_.clear();
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
