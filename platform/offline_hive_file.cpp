#include "platform/offline_hive_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "platform/letter_case.h"
#include "platform/regf_header.h"

namespace quorvane::platform::offline {

namespace {

namespace fs = std::filesystem;
using formats::WriteStep;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void fail(const std::string& action, const fs::path& file, int error = errno) {
    throw hive::FileError(action, file, error);
}

// Runs the test seam before a step of writing `name`.
void step(WriteStep at, const std::string& name, const std::string& action, const fs::path& file) {
    if (const int error = formats::injectedFault(at, name); error != 0) {
        fail(action, file, error);
    }
}

int openQuietly(int folder, const std::string& name) {
    return ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool newer(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

// A transaction log beside the hive that holds changes not yet in it: newer and not empty.
std::optional<std::string> pendingLog(const hive::Directory& folder, const std::string& name,
                                      const struct stat& hiveInfo) {
    for (const std::string& entry : namesIn(folder.fd)) {
        const bool isLog = equalIgnoringCase(entry, name + ".LOG1") ||
                           equalIgnoringCase(entry, name + ".LOG2") ||
                           equalIgnoringCase(entry, name + ".LOG");
        struct stat info {};
        if (isLog && ::fstatat(folder.fd, entry.c_str(), &info, 0) == 0 && info.st_size > 0 &&
            newer(info, hiveInfo)) {
            return entry;
        }
    }
    return std::nullopt;
}

std::string utcStamp() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    const std::time_t time = seconds.count();
    std::tm parts{};
    ::gmtime_r(&time, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%09lldZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<long long>(nanoseconds.count()));
    return text;
}

// Letters, digits, dot, dash and underscore: a label is part of a file name.
std::string fileNamePart(const std::string& label) {
    std::string part = label;
    for (char& c : part) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        c = plain ? c : '_';
    }
    return part;
}

void copyAll(int from, int to, const fs::path& source, const fs::path& copy) {
    for (;;) {
        const ssize_t done = ::copy_file_range(from, nullptr, to, nullptr, 1 << 24, 0);
        if (done == 0) {
            return;
        }
        if (done > 0) {
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
            fail("cannot copy " + source.string() + " to", copy);
        }
        break;  // a file system without it: copy by hand
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail("cannot read", source);
        }
        if (got == 0) {
            return;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put =
                ::write(to, buffer.data() + written, static_cast<std::size_t>(got - written));
            if (put < 0 && errno != EINTR) {
                fail("cannot write", copy);
            }
            written += put > 0 ? put : 0;
        }
    }
}

// What the new file keeps of the hive it replaces, as far as the mount allows: mode, owner,
// access time and NTFS's creation time and attributes. The modification time is the change's.
void keepMetadata(int from, int to, const fs::path& file, const timespec& accessed) {
    struct stat info {};
    if (::fstat(from, &info) != 0) {
        fail("cannot examine", file);
    }
    if (::fchmod(to, info.st_mode & 07777) != 0 && errno != EPERM && errno != ENOTSUP) {
        fail("cannot set the mode of the new version of", file);
    }
    // Only root may give a file away; an NTFS mount maps every file to one owner anyway.
    if (::fchown(to, info.st_uid, info.st_gid) != 0) {
        // Kept as the mount gives it.
    }
    const struct timespec times[2] = {accessed, {0, UTIME_NOW}};
    static_cast<void>(::futimens(to, times));
    for (const char* attribute : {"system.ntfs_crtime", "system.ntfs_attrib"}) {
        char value[64];
        const ssize_t size = ::fgetxattr(from, attribute, value, sizeof value);
        if (size > 0) {
            static_cast<void>(::fsetxattr(to, attribute, value, static_cast<std::size_t>(size), 0));
        }
    }
}

std::atomic<unsigned> temporaryCounter{0};

}  // namespace

std::optional<std::string> writeRefusal(const hive::Directory& folder, const std::string& name) {
    const fs::path file = folder.path / name;
    const Descriptor fd(openQuietly(folder.fd, name));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        return "cannot open " + file.string() + ": " + describeError(errno);
    }
    std::string block(regf::kBaseBlockSize, '\0');
    const ssize_t got = ::pread(fd.get(), block.data(), block.size(), 0);
    block.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    const auto header = regf::parseBaseBlock(block);
    if (!header || !header->checksumMatches) {
        return file.string() +
               " is damaged: its header is not that of a Windows registry hive or its checksum "
               "does not match. Quorvane does not write it.";
    }
    if (!header->writtenBackCleanly()) {
        return file.string() + " was not written back completely (its header's sequence numbers " +
               std::to_string(header->primarySequence) + " and " +
               std::to_string(header->secondarySequence) + " differ). " + kShutDownAdvice + ".";
    }
    if (const auto log = pendingLog(folder, name, info)) {
        return file.string() + " has changes in " + *log +
               " that Windows has not yet written into it. " + kShutDownAdvice + ".";
    }
    struct statvfs mount {};
    if (::fstatvfs(folder.fd, &mount) == 0 && (mount.f_flag & ST_RDONLY) != 0) {
        return folder.path.string() + " is on a read-only mount, so " + file.string() +
               " cannot be changed. A hibernated Windows (Fast Startup) is mounted read-only: " +
               kShutDownAdvice + "; then mount the partition read-write (ntfs-3g).";
    }
    for (const std::string& target : {name, std::string(".")}) {
        if (::faccessat(folder.fd, target.c_str(), W_OK, AT_EACCESS) != 0) {
            const fs::path shown = target == "." ? folder.path : file;
            return "no write access to " + shown.string() + ": " + describeError(errno);
        }
    }
    return std::nullopt;
}

fs::path keepBackup(const hive::Directory& folder, const std::string& name, const fs::path& backups,
                    const std::string& label) {
    std::error_code error;
    fs::create_directories(backups, error);
    if (error) {
        fail("cannot make the backup folder", backups, error.value());
    }
    const std::string prefix = fileNamePart(label) + "-";
    const fs::path copy = backups / (prefix + utcStamp() + ".hive");
    const fs::path source = folder.path / name;
    const Descriptor from(openQuietly(folder.fd, name));
    if (from.get() < 0) {
        fail("cannot open", source);
    }
    {
        const Descriptor to(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (to.get() < 0) {
            fail("cannot create the backup", copy);
        }
        try {
            step(WriteStep::Write, copy.filename().string(), "cannot write the backup", copy);
            copyAll(from.get(), to.get(), source, copy);
            if (::fsync(to.get()) != 0) {
                fail("cannot flush the backup", copy);
            }
        } catch (...) {
            ::unlink(copy.c_str());
            throw;
        }
    }
    // The newest copies have the largest names.
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(backups, error)) {
        const std::string entryName = entry.path().filename().string();
        // The time holds no dash: "ann-" does not take the copies of "ann-x".
        if (entryName.starts_with(prefix) && entryName.ends_with(".hive") &&
            entryName.find('-', prefix.size()) == std::string::npos) {
            kept.push_back(entry.path());
        }
    }
    std::sort(kept.begin(), kept.end(), std::greater<>());
    for (std::size_t i = kBackupsKept; i < kept.size(); ++i) {
        fs::remove(kept[i], error);
    }
    return copy;
}

hive::FileSignature replaceHive(const hive::Directory& folder, const std::string& name,
                                const timespec& accessed,
                                const std::function<void(const fs::path&)>& write,
                                const std::function<void(const fs::path&)>& verify) {
    const fs::path file = folder.path / name;
    const std::string temporary = "." + name + ".quorvane-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(temporaryCounter++);
    const fs::path temporaryPath = folder.path / temporary;
    step(WriteStep::Create, name, "cannot create a new version of", file);
    // Made here, empty and private, so that the name is ours alone; the writer fills it.
    const int created = ::openat(folder.fd, temporary.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (created < 0) {
        fail("cannot create a new version of", file);
    }
    ::close(created);
    try {
        step(WriteStep::Write, name, "cannot write", file);
        write(temporaryPath);
        verify(temporaryPath);
        const Descriptor original(openQuietly(folder.fd, name));
        const Descriptor fresh(
            ::openat(folder.fd, temporary.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (original.get() < 0 || fresh.get() < 0) {
            fail("cannot open the new version of", file);
        }
        keepMetadata(original.get(), fresh.get(), file, accessed);
        step(WriteStep::Flush, name, "cannot flush", file);
        if (::fsync(fresh.get()) != 0) {
            fail("cannot flush", file);
        }
        step(WriteStep::Rename, name, "cannot replace", file);
        if (::renameat(folder.fd, temporary.c_str(), folder.fd, name.c_str()) != 0) {
            fail("cannot replace", file);
        }
    } catch (...) {
        ::unlinkat(folder.fd, temporary.c_str(), 0);
        throw;
    }
    step(WriteStep::FlushDirectory, name, "cannot flush the folder of", file);
    if (::fsync(folder.fd) != 0) {
        fail("cannot flush the folder of", file);
    }
    const auto version = hive::statFileIn(folder, name);
    if (!version) {
        fail("cannot examine", file, ENOENT);
    }
    return *version;
}

}  // namespace quorvane::platform::offline
