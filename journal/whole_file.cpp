#include "journal/whole_file.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;

fs::path temporaryBeside(const fs::path& file) {
    std::random_device random;
    return file.parent_path() /
           (file.filename().string() + ".tmp-" + std::to_string(random() & 0xFFFFFF));
}

std::string systemMessage(int error) {
    return std::system_category().message(error);
}

#ifdef _WIN32

std::optional<std::string> writeAndFlush(const fs::path& file, std::string_view bytes) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return systemMessage(static_cast<int>(GetLastError()));
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return ok ? std::nullopt : std::optional(systemMessage(static_cast<int>(error)));
}

std::optional<std::string> replace(const fs::path& from, const fs::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return systemMessage(static_cast<int>(GetLastError()));
    }
    return std::nullopt;
}

#else

std::optional<std::string> writeAndFlush(const fs::path& file, std::string_view bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return systemMessage(errno);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const int error = count < 0 ? errno : ENOSPC;
            ::close(fd);
            return systemMessage(error);
        }
        done += static_cast<std::size_t>(count);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return systemMessage(error);
    }
    return ::close(fd) == 0 ? std::nullopt : std::optional(systemMessage(errno));
}

std::optional<std::string> replace(const fs::path& from, const fs::path& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return systemMessage(errno);
    }
    return std::nullopt;
}

#endif

bool holds(const fs::path& file, std::string_view bytes) {
    std::ifstream in(file, std::ios::binary);
    std::string content(bytes.size() + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    return !in.bad() && static_cast<std::size_t>(in.gcount()) == bytes.size() &&
           std::string_view(content.data(), bytes.size()) == bytes;
}

}  // namespace

std::optional<std::string> writeWholeFile(const fs::path& file, std::string_view bytes) {
    const fs::path temporary = temporaryBeside(file);
    auto failure = writeAndFlush(temporary, bytes);
    if (!failure) {
        failure = replace(temporary, file);
    }
    std::error_code ignored;
    fs::remove(temporary, ignored);
    if (failure) {
        return failure;
    }
    if (!holds(file, bytes)) {
        return "it does not hold what was written to it";
    }
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes.str();
}

}  // namespace quorvane::journal
