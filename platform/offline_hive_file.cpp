#include "platform/offline_hive_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
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
#include <thread>
#include <utility>
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

// The regular file `name` of `folder`, open to read (never blocking, never through a link).
formats::OpenFile openToRead(const formats::Folder& folder, const std::string& name) {
    auto opened = folder.openFile(name, formats::Folder::Opening::Read);
    if (!opened) {
        throw hive::FileError(folder.pathOf(name), opened.failure().reason, opened.failure().error);
    }
    return std::move(*opened);
}

// What `name` of `folder` is now; nothing when there is no such file.
std::optional<formats::FileSignature> examine(const formats::Folder& folder,
                                              const std::string& name) {
    auto found = folder.examine(name);
    if (!found) {
        throw hive::FileError(folder.pathOf(name), found.failure().reason, found.failure().error);
    }
    return *found;
}

// A descriptor of the folder itself that can be flushed and locked (the layer holds it as a
// path only).
int openFolder(const formats::Folder& folder) {
    return ::openat(folder.descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::vector<std::string> namesIn(const formats::Folder& folder) {
    std::vector<std::string> names;
    const int fd = openFolder(folder);
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

// Windows' largest hive is a few hundred MB; anything much larger is not one.
constexpr off_t kLargestHive = off_t{4} << 30;

[[noreturn]] void changedWhileRead(const fs::path& file, const std::string& how) {
    throw hive::FileChanged(file,
                            how +
                                " while Quorvane read it; read nothing of it. Try again when "
                                "no other program uses it",
                            EAGAIN);
}

// Copies `size` bytes of `from` into the memory file `to`, in the kernel where it can.
void copyInto(int from, int to, off_t size, const fs::path& file) {
    off_t offset = 0;
    bool byKernel = true;
    std::vector<char> buffer;
    while (offset < size) {
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(size - offset, 1 << 24));
        ssize_t done = -1;
        if (byKernel) {
            done = ::sendfile(to, from, &offset, wanted);
            if (done < 0 && (errno == EINVAL || errno == ENOSYS)) {
                byKernel = false;
                continue;
            }
        } else {
            buffer.resize(wanted);
            done = ::pread(from, buffer.data(), wanted, offset);
            for (ssize_t put = 0; done > 0 && put < done;) {
                const ssize_t now =
                    ::write(to, buffer.data() + put, static_cast<std::size_t>(done - put));
                if (now < 0 && errno != EINTR) {
                    fail("cannot read", file);
                }
                put += now > 0 ? now : 0;
            }
            offset += done > 0 ? done : 0;
        }
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            fail("cannot read", file);
        }
        if (done == 0) {
            changedWhileRead(file, "was cut short");
        }
    }
}

// A temporary name of the file layer's shape, made for this hive.
bool isLeftover(const std::string& entry, const std::string& name) {
    return formats::isTemporaryName(entry) && entry.starts_with("." + name + ".quorvane-") &&
           entry.rfind(".quorvane-") == name.size() + 1;
}

// Removes what a killed run of Quorvane left beside the hive: its own temporary names only, of
// regular files that belong to this process's user or to the hive's owner. Only under the
// installation's lock, when no live writer has one.
void removeLeftovers(const formats::Folder& folder, const std::string& name, uid_t hiveOwner) {
    for (const std::string& entry : namesIn(folder)) {
        if (!isLeftover(entry, name)) {
            continue;
        }
        const auto found = folder.examine(entry);
        if (found && *found && found->value().regular() &&
            (found->value().owner == ::geteuid() || found->value().owner == hiveOwner)) {
            static_cast<void>(folder.remove(entry, found->value()));
        }
    }
}

std::atomic<unsigned> temporaryCounter{0};

}  // namespace

HiveImage HiveImage::read(const formats::Folder& folder, const std::string& name) {
    // Another writer's commit touches the hive for a moment (a second name for its backup, then
    // the new version's rename): read again, the new version is whole once it has its name.
    constexpr int kTries = 5;
    for (int tried = 1;; ++tried) {
        try {
            const formats::OpenFile file = openToRead(folder, name);
            return read(file.descriptor(), folder.pathOf(name));
        } catch (const hive::FileChanged&) {
            if (tried == kTries) {
                throw;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20 * tried));
        }
    }
}

HiveImage HiveImage::read(int fd, const fs::path& shown) {
    const auto examined = formats::examineDescriptor(fd);
    struct stat times {};
    if (!examined || ::fstat(fd, &times) != 0) {
        fail("cannot examine", shown);
    }
    const formats::FileSignature& before = *examined;
    if (!before.regular()) {
        throw hive::FileError(shown, "is not a regular file", EINVAL);
    }
    if (before.size > kLargestHive) {
        throw hive::FileError(shown, "is too large to be a Windows registry hive", EFBIG);
    }
    HiveImage image;
    image.memory_ = ::memfd_create("quorvane-hive", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (image.memory_ < 0) {
        fail("cannot make room in memory for", shown);
    }
    image.accessed_ = times.st_atim;
    copyInto(fd, image.memory_, before.size, shown);
    char more = 0;
    const auto after = formats::examineDescriptor(fd);
    if (::pread(fd, &more, 1, before.size) > 0 || !after || !after->untouchedSince(before)) {
        changedWhileRead(shown, "changed");
    }
    image.version_ = before;
    image.size_ = static_cast<std::size_t>(before.size);
    // The kernel refuses the write seal (EBUSY) while pages of the copy are still pinned by the
    // copy just made; they are released a moment later.
    for (int tried = 1; ::fcntl(image.memory_, F_ADD_SEALS,
                                F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0;
         ++tried) {
        if (errno != EBUSY || tried == 20) {
            fail("cannot seal the copy in memory of", shown);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 * tried));
    }
    if (image.size_ > 0) {
        void* mapped = ::mmap(nullptr, image.size_, PROT_READ, MAP_SHARED, image.memory_, 0);
        if (mapped == MAP_FAILED) {
            fail("cannot map the copy in memory of", shown);
        }
        image.data_ = static_cast<const char*>(mapped);
    }
    return image;
}

HiveImage::HiveImage(HiveImage&& other) noexcept {
    *this = std::move(other);
}

HiveImage& HiveImage::operator=(HiveImage&& other) noexcept {
    if (this != &other) {
        release();
        memory_ = std::exchange(other.memory_, -1);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        version_ = other.version_;
        accessed_ = other.accessed_;
    }
    return *this;
}

HiveImage::~HiveImage() {
    release();
}

void HiveImage::release() {
    if (data_ != nullptr) {
        ::munmap(const_cast<char*>(data_), size_);
        data_ = nullptr;
    }
    if (memory_ >= 0) {
        ::close(memory_);
        memory_ = -1;
    }
}

std::string HiveImage::path() const {
    return "/proc/self/fd/" + std::to_string(memory_);
}

std::optional<std::string> writeRefusal(const formats::Folder& folder, const std::string& name,
                                        const HiveImage& image, bool hibernated) {
    const fs::path file = folder.pathOf(name);
    const std::string why = hibernated ? kHibernated : kNotShutDown;
    const auto header = regf::parseBaseBlock(image.bytes());
    if (!header) {
        return file.string() +
               " is damaged: its header is not that of a Windows registry hive. Quorvane does not "
               "write it.";
    }
    if (!header->checksumMatches || !header->writtenBackCleanly()) {
        const std::string detail = !header->checksumMatches
                                       ? "its header's checksum is wrong"
                                       : "its header's sequence numbers " +
                                             std::to_string(header->primarySequence) + " and " +
                                             std::to_string(header->secondarySequence) + " differ";
        return file.string() + " holds changes that Windows has not finished writing into it (" +
               detail + "; the rest are in its transaction logs): " + why + ". To change it, " +
               kShutDownAdvice + ".";
    }
    struct statvfs mount {};
    if (::fstatvfs(folder.descriptor(), &mount) == 0 && (mount.f_flag & ST_RDONLY) != 0) {
        return folder.path().string() + " is on a read-only mount, so " + file.string() +
               " cannot be changed. " +
               (hibernated ? std::string(kHibernated) +
                                 ", and its disk mounts read-only: " + kShutDownAdvice +
                                 "; then mount the partition read-write "
                                 "(ntfs-3g)."
                           : "Mount the partition read-write (ntfs-3g); a Windows that was not "
                             "shut down completely (Fast Startup, hibernation) mounts read-only: " +
                                 std::string(kShutDownAdvice) + ".");
    }
    for (const std::string& target : {name, std::string(".")}) {
        if (::faccessat(folder.descriptor(), target.c_str(), W_OK, AT_EACCESS) != 0) {
            const fs::path shown = target == "." ? folder.path() : file;
            return "no write access to " + shown.string() + ": " + describeError(errno);
        }
    }
    return std::nullopt;
}

InstallationLock::InstallationLock(const formats::Folder& folder,
                                   std::chrono::milliseconds timeout) {
    const int fd = openFolder(folder);
    if (fd < 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fd_ = fd;
}

InstallationLock::~InstallationLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // and with it the lock
    }
}

std::string fileNameOf(const std::string& text) {
    // Well below the 255 bytes a file name may have, room for the checksum.
    constexpr std::size_t kLongestName = 160;
    std::string name;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-') {
            name.push_back(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            name.append(escaped);
        }
    }
    // Neither "." nor "..": the first character is never a dot.
    if (!name.empty() && name.front() == '.') {
        name.replace(0, 1, "%2E");
    }
    if (name.empty()) {
        name = "%";  // every other '%' is followed by two digits
    }
    if (name.size() > kLongestName) {
        std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
        for (const char c : text) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
        }
        char sum[20];
        std::snprintf(sum, sizeof sum, "~%016llx", static_cast<unsigned long long>(hash));
        name = name.substr(0, kLongestName) + sum;
    }
    return name;
}

fs::path keepBackup(const formats::Folder& folder, const std::string& name, const HiveImage& image,
                    const fs::path& backups, const std::string& label) {
    std::error_code error;
    if (fs::create_directories(backups, error)) {
        // The copies hold what the hives hold: for this user's eyes only.
        fs::permissions(backups, fs::perms::owner_all, error);
    }
    if (error) {
        fail("cannot make the backup folder", backups, error.value());
    }
    const fs::path copy = backups / (label + "-" + utcStamp() + ".hive");
    step(WriteStep::Write, copy.filename().string(), "cannot write the backup", copy);
    // On the hive's own file system the hive itself is the copy: a second name for the version
    // read, which the rename then leaves to the copy alone. Nothing is written for it.
    if (::linkat(folder.descriptor(), name.c_str(), AT_FDCWD, copy.c_str(), 0) == 0) {
        // A new name changes the file's change time, nothing else.
        const Descriptor linked(::open(copy.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        const auto version = formats::examineDescriptor(linked.get());
        if (linked.get() >= 0 && version && version->sameVersion(image.version())) {
            return copy;
        }
        ::unlink(copy.c_str());
    }
    const Descriptor to(
        ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (to.get() < 0) {
        fail("cannot create the backup", copy);
    }
    try {
        // A reflink shares the file's blocks: no byte is written. Only of the very version read.
        const formats::OpenFile from = openToRead(folder, name);
        const bool cloned = from.signature().untouchedSince(image.version()) &&
                            ::ioctl(to.get(), FICLONE, from.descriptor()) == 0;
        const std::string_view bytes = image.bytes();
        for (std::size_t written = cloned ? bytes.size() : 0; written < bytes.size();) {
            const ssize_t put = ::write(to.get(), bytes.data() + written, bytes.size() - written);
            if (put < 0 && errno != EINTR) {
                fail("cannot write the backup", copy);
            }
            written += put > 0 ? static_cast<std::size_t>(put) : 0;
        }
        if (::fsync(to.get()) != 0) {
            fail("cannot flush the backup", copy);
        }
    } catch (...) {
        ::unlink(copy.c_str());
        throw;
    }
    return copy;
}

void pruneBackups(const fs::path& backups, const std::string& label) {
    const std::string prefix = label + "-";
    std::vector<fs::path> kept;
    std::error_code error;
    fs::directory_iterator it(backups, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        const std::string entryName = it->path().filename().string();
        // The time holds no dash: "NTUSER-ann-" does not take the copies of "NTUSER-ann%2Dx".
        if (entryName.starts_with(prefix) && entryName.ends_with(".hive") &&
            entryName.find('-', prefix.size()) == std::string::npos) {
            kept.push_back(it->path());
        }
    }
    if (error) {
        return;  // a folder not listed whole: removing none of its copies is the safe side
    }
    // The oldest copy has the smallest name: the hive before Quorvane first changed it.
    std::sort(kept.begin(), kept.end());
    for (std::size_t i = 1; i + kNewestBackupsKept < kept.size(); ++i) {
        fs::remove(kept[i], error);
    }
}

formats::FileSignature replaceHive(const formats::Folder& folder, const std::string& name,
                                   const formats::FileSignature& expected, const timespec& accessed,
                                   const std::function<void(int fd)>& write,
                                   const std::function<void(int fd)>& verify, bool& renamed) {
    renamed = false;
    const fs::path file = folder.pathOf(name);
    step(WriteStep::Create, name, "cannot create a new version of", file);
    removeLeftovers(folder, name, expected.owner);
    const std::string temporary = "." + name + ".quorvane-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(temporaryCounter++);
    // Made here, private, so that the name is ours alone; everything after goes through the
    // descriptor, whatever another program makes of the name.
    auto created = folder.openFile(temporary, formats::Folder::Opening::CreateNew, 0600);
    if (!created) {
        throw hive::FileError(file, "cannot have a new version: " + created.failure().reason,
                              created.failure().error);
    }
    const formats::OpenFile fresh = std::move(*created);
    const formats::FileSignature made = fresh.signature();
    const auto stillOurs = [&] {
        struct stat now {};
        return ::fstatat(folder.descriptor(), temporary.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
               now.st_dev == made.device && now.st_ino == made.inode;
    };
    try {
        step(WriteStep::Write, name, "cannot write", file);
        write(fresh.descriptor());
        verify(fresh.descriptor());
        const formats::OpenFile original = openToRead(folder, name);
        keepMetadata(original.descriptor(), fresh.descriptor(), file, accessed);
        step(WriteStep::Flush, name, "cannot flush", file);
        if (::fsync(fresh.descriptor()) != 0) {
            fail("cannot flush", file);
        }
        if (!stillOurs()) {
            throw hive::FileChanged(file,
                                    "was not replaced: another program took the name of its new "
                                    "version (" +
                                        temporary + "); nothing was written",
                                    EEXIST);
        }
        const auto now = examine(folder, name);
        if (!now || !now->untouchedSince(expected)) {
            throw hive::FileChanged(file,
                                    "was changed by another program since Quorvane read it; "
                                    "nothing was written",
                                    EAGAIN);
        }
        step(WriteStep::Rename, name, "cannot replace", file);
        if (::renameat(folder.descriptor(), temporary.c_str(), folder.descriptor(), name.c_str()) !=
            0) {
            fail("cannot replace", file);
        }
        renamed = true;
    } catch (...) {
        if (!renamed && stillOurs()) {
            ::unlinkat(folder.descriptor(), temporary.c_str(), 0);
        }
        throw;
    }
    step(WriteStep::FlushDirectory, name, "cannot flush the folder of", file);
    const Descriptor flushed(openFolder(folder));
    if (flushed.get() < 0 || ::fsync(flushed.get()) != 0) {
        fail("cannot flush the folder of", file);
    }
    const auto version = examine(folder, name);
    if (!version) {
        fail("cannot examine", file, ENOENT);
    }
    return *version;
}

bool saysHibernated(const formats::Folder& folder, const std::string& file) {
    const auto opened = folder.openFile(file, formats::Folder::Opening::Read);
    char signature[4] = {};
    return opened && ::pread(opened->descriptor(), signature, sizeof signature, 0) == 4 &&
           equalIgnoringCase(std::string_view(signature, 4), "hibr");
}

}  // namespace quorvane::platform::offline
