#include "formats/whole_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quorvane::formats {

namespace {

namespace fs = std::filesystem;

FaultHook faultHook = nullptr;

constexpr const char* kTemporaryMark = ".quorvane-";

bool holds(const fs::path& file, std::string_view bytes) {
    std::ifstream in(file, std::ios::binary);
    std::string content(bytes.size() + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    return !in.bad() && static_cast<std::size_t>(in.gcount()) == bytes.size() &&
           std::string_view(content.data(), bytes.size()) == bytes;
}

// A name that is there and is no regular file (links included): the writer leaves it alone.
bool takenByOther(const fs::path& file) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(file, error);
    return !error && fs::exists(status) && !fs::is_regular_file(status);
}

}  // namespace

void setFaultHook(FaultHook hook) {
    faultHook = hook;
}

int injectedFault(WriteStep step, const std::string& fileName) {
    return faultHook != nullptr ? faultHook(step, fileName) : 0;
}

std::string stepAction(WriteStep step) {
    switch (step) {
        case WriteStep::Lock:
            return "cannot lock";
        case WriteStep::Create:
            return "cannot create a new version of";
        case WriteStep::Write:
            return "cannot write";
        case WriteStep::Flush:
            return "cannot flush";
        case WriteStep::Rename:
            return "cannot replace";
        case WriteStep::FlushDirectory:
            break;
    }
    return "cannot flush the directory of";
}

#ifdef _WIN32

Result<void> writeWholeFile(const fs::path& file, std::string_view bytes, Placing placing) {
    if (takenByOther(file)) {
        return failure("it is no regular file");
    }
    const std::u8string utf8 = file.filename().u8string();
    const std::string name(utf8.begin(), utf8.end());
    std::random_device random;
    fs::path temporary =
        file.parent_path() / ("." + name + kTemporaryMark + std::to_string(GetCurrentProcessId()) +
                              "-" + std::to_string(random() % 1000000000));
    const auto stepFailed = [&](long status, std::string cause) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return failure(status, std::move(cause));
    };
    const auto systemFailed = [&] {
        const DWORD error = GetLastError();
        const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
        return stepFailed(taken ? kNameTaken : static_cast<long>(error),
                          std::system_category().message(static_cast<int>(error)));
    };
    for (const WriteStep step : {WriteStep::Create, WriteStep::Write, WriteStep::Flush}) {
        if (const int error = injectedFault(step, name); error != 0) {
            return stepFailed(0, describeError(error));
        }
    }
    const HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return systemFailed();
    }
    DWORD written = 0;
    const bool wrote =
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    const bool flushed = wrote && FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!flushed) {
        SetLastError(error);
        return systemFailed();
    }
    if (const int injected = injectedFault(WriteStep::Rename, name); injected != 0) {
        return stepFailed(0, describeError(injected));
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    const DWORD flags =
        MOVEFILE_WRITE_THROUGH | (placing == Placing::Replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temporary.c_str(), file.c_str(), flags)) {
        return systemFailed();
    }
    if (!holds(file, bytes)) {
        return failure("it does not hold what was written to it");
    }
    return {};
}

#else

namespace {

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

bool isTemporaryName(std::string_view name) {
    const auto mark = name.find(kTemporaryMark);
    return name.size() > 1 && name.front() == '.' && mark != std::string_view::npos && mark > 1;
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

Result<void> writeWholeFile(const fs::path& file, std::string_view bytes, Placing placing) {
    if (takenByOther(file)) {
        return failure("it is no regular file");
    }
    const fs::path parent = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const int folder = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return failure(describeError(errno));
    }
    PlaceOptions options;
    options.placing = placing;
    const auto failed = placeFileAt(folder, file.filename().string(), bytes, options);
    ::close(folder);
    if (failed) {
        const bool taken = failed->step == WriteStep::Rename && failed->error == EEXIST;
        return failure(taken ? kNameTaken : 0, describeError(failed->error));
    }
    if (!holds(file, bytes)) {
        return failure("it does not hold what was written to it");
    }
    return {};
}

#endif

}  // namespace quorvane::formats
