#include "platform/hive_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <thread>

namespace quorvane::platform::hive {

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& file) {
    throw std::system_error(errno, std::generic_category(), what + " " + file.string());
}

FileSignature signatureOf(const struct stat& info) {
    FileSignature signature;
    signature.device = info.st_dev;
    signature.inode = info.st_ino;
    signature.size = info.st_size;
    signature.modifiedSeconds = info.st_mtim.tv_sec;
    signature.modifiedNanoseconds = info.st_mtim.tv_nsec;
    signature.mode = info.st_mode;
    signature.owner = info.st_uid;
    signature.group = info.st_gid;
    return signature;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void writeAll(int fd, std::string_view text, const std::filesystem::path& file) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write", file);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string temporaryPrefix(const std::filesystem::path& file) {
    return std::string(".").append(file.filename().string()).append(".quorvane-");
}

// A fresh name for each try: a forked process has its parent's random state, so the pid is part
// of the name.
std::filesystem::path temporaryBeside(const std::filesystem::path& file) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    return file.parent_path() / (temporaryPrefix(file) + std::to_string(::getpid()) + "-" +
                                 std::to_string(random() % 1000000000));
}

int createTemporary(const std::filesystem::path& file, mode_t mode,
                    std::filesystem::path& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = temporaryBeside(file);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool FileSignature::sameVersion(const FileSignature& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds && mode == other.mode;
}

std::optional<FileSignature> statFile(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("cannot examine", file);
    }
    return signatureOf(info);
}

std::optional<FileSignature> statFileIn(int directoryFd, const std::filesystem::path& file) {
    struct stat info {};
    if (::fstatat(directoryFd, file.filename().c_str(), &info, 0) != 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("cannot examine", file);
    }
    return signatureOf(info);
}

std::optional<FileContent> readWholeFile(const std::filesystem::path& file) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("cannot open", file);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        fail("cannot examine", file);
    }
    FileContent result{std::string(static_cast<std::size_t>(info.st_size), '\0'),
                       signatureOf(info)};
    std::size_t done = 0;
    while (done < result.text.size()) {
        const ssize_t got = ::read(fd.get(), result.text.data() + done, result.text.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail("cannot read", file);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    result.text.resize(done);
    return result;
}

FileSignature replaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode,
                          const std::optional<FileSignature>& previous) {
    std::filesystem::path temporary;
    FileDescriptor fd(createTemporary(file, mode, temporary));
    if (fd.get() < 0) {
        fail("cannot create", temporary);
    }
    try {
        // The umask may have narrowed the mode at creation.
        if (::fchmod(fd.get(), mode) != 0) {
            fail("cannot set the mode of", temporary);
        }
        if (previous && ::geteuid() == 0 &&
            ::fchown(fd.get(), previous->owner, previous->group) != 0) {
            fail("cannot give the owner back to", temporary);
        }
        writeAll(fd.get(), text, temporary);
        if (::fsync(fd.get()) != 0) {
            fail("cannot flush", temporary);
        }
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) {
            fail("cannot examine", temporary);
        }
        if (::rename(temporary.c_str(), file.c_str()) != 0) {
            fail("cannot replace", file);
        }
        FileDescriptor directory(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY));
        if (directory.get() < 0 || ::fsync(directory.get()) != 0) {
            fail("cannot flush the directory of", file);
        }
        return signatureOf(info);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

void removeStaleTemporaries(const std::filesystem::path& file) {
    const std::string prefix = temporaryPrefix(file);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

DirectoryLock::DirectoryLock(int directoryFd, std::chrono::milliseconds timeout)
    : fd_(directoryFd) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto pause = std::chrono::microseconds(50);
    while (!(held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0)) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20'000));
    }
}

DirectoryLock::~DirectoryLock() {
    if (held_) {
        ::flock(fd_, LOCK_UN);
    }
}

}  // namespace quorvane::platform::hive
