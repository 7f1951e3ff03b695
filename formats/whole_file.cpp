#include "formats/whole_file.h"

#ifndef _WIN32

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace quorvane::formats {

namespace {

constexpr const char* kTemporaryMark = ".quorvane-";

// A fresh name for each try: a forked process has its parent's random state, so the pid is part
// of the name.
std::string temporaryName(const std::string& name) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    return "." + name + kTemporaryMark + std::to_string(::getpid()) + "-" +
           std::to_string(random() % 1000000000);
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return written < 0 ? errno : ENOSPC;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// The new file while it has its temporary name: removed unless it was renamed.
class Temporary {
public:
    Temporary(int folder, std::string name, int fd)
        : folder_(folder), name_(std::move(name)), fd_(fd) {}
    ~Temporary() {
        close();
        if (!name_.empty()) {
            ::unlinkat(folder_, name_.c_str(), 0);
        }
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    void renamed() { name_.clear(); }
    int close() {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int folder_;
    std::string name_;
    int fd_;
};

}  // namespace

int createTemporaryAt(int folder, const std::string& name, mode_t mode, std::string& temporary) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = temporaryName(name);
        const int fd = ::openat(folder, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

std::optional<StepFailure> placeFileAt(int folder, const std::string& name, std::string_view bytes,
                                       const PlaceOptions& options, struct stat* written) {
    const std::string& seamName = options.seamName.empty() ? name : options.seamName;
    // The step's system call, or the error the test seam injects before it.
    const auto step = [&](WriteStep at, auto call) -> std::optional<StepFailure> {
        if (const int error = injectedFault(at, seamName); error != 0) {
            return StepFailure{at, error};
        }
        if (const int error = call(); error != 0) {
            return StepFailure{at, error};
        }
        return std::nullopt;
    };
    const auto errnoOf = [](int result) { return result == 0 ? 0 : errno; };
    std::string temporaryName;
    int fd = -1;
    if (auto failed = step(WriteStep::Create, [&] {
            fd = createTemporaryAt(folder, name, options.mode, temporaryName);
            return fd < 0 ? errno : 0;
        })) {
        return failed;
    }
    Temporary temporary(folder, temporaryName, fd);
    if (options.prepare) {
        options.prepare(fd);
    }
    if (auto failed = step(WriteStep::Write, [&] { return writeAll(fd, bytes); })) {
        return failed;
    }
    if (auto failed = step(WriteStep::Flush, [&] { return errnoOf(::fsync(fd)); })) {
        return failed;
    }
    if (written != nullptr && ::fstat(fd, written) != 0) {
        return StepFailure{WriteStep::Flush, errno};
    }
    if (auto failed = step(WriteStep::Flush, [&] { return errnoOf(temporary.close()); })) {
        return failed;
    }
    // A link fails when the name is taken, where a rename replaces the file of that name.
    if (auto failed = step(WriteStep::Rename, [&] {
            return options.placing == Placing::Replace
                       ? errnoOf(::renameat(folder, temporary.name().c_str(), folder, name.c_str()))
                       : errnoOf(
                             ::linkat(folder, temporary.name().c_str(), folder, name.c_str(), 0));
        })) {
        return failed;
    }
    if (options.placing == Placing::Replace) {
        temporary.renamed();
    }
    return step(WriteStep::FlushDirectory, [&] { return errnoOf(::fsync(folder)); });
}

}  // namespace quorvane::formats

#endif
