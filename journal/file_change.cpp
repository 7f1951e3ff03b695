#include "journal/file_change.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "formats/whole_file.h"
#include "journal/whole_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kFileLimit = 64u << 20;

std::optional<std::string> failureText(const Result<void>& written) {
    return written ? std::nullopt : std::optional(written.failure().reason);
}

#ifndef _WIN32
// Whether the owner of `info` may write into the folder `folder` by its permission bits.
bool ownerMayChange(const struct stat& info, const struct stat& folder) {
    if (folder.st_uid == info.st_uid) {
        return (folder.st_mode & S_IWUSR) != 0;
    }
    if (folder.st_gid == info.st_gid && (folder.st_mode & S_IWGRP) != 0) {
        return true;
    }
    return (folder.st_mode & S_IWOTH) != 0;
}
#endif

}  // namespace

std::optional<std::string> rewriteFile(const fs::path& file, std::string_view bytes) {
#ifdef _WIN32
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error))) {
        return std::string("it is no regular file");
    }
    return failureText(formats::writeWholeFile(file, bytes));
#else
    struct stat info {};
    struct stat folder {};
    if (::lstat(file.c_str(), &info) != 0) {
        return std::system_category().message(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return std::string("it is no regular file");
    }
    const fs::path parent = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (::stat(parent.c_str(), &folder) != 0) {
        return std::system_category().message(errno);
    }
    if (::geteuid() == 0 && !ownerMayChange(info, folder)) {
        return std::string("its owner could not change it, and Quorvane does not as root either");
    }
    if (auto failure = failureText(formats::writeWholeFile(file, bytes))) {
        return failure;
    }
    // The new file is the writer's: give it back to the old one's owner, with its permissions.
    if (::geteuid() == 0 && ::lchown(file.c_str(), info.st_uid, info.st_gid) != 0) {
        return "its owner cannot be kept: " + std::system_category().message(errno);
    }
    if (::chmod(file.c_str(), info.st_mode & 07777) != 0) {
        return "its permissions cannot be kept: " + std::system_category().message(errno);
    }
    const FileRead back = readUserFile(file, kFileLimit, parent);
    if (!back.bytes || *back.bytes != bytes) {
        return std::string("it does not hold the new content when read back");
    }
    return std::nullopt;
#endif
}

std::optional<std::string> moveFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(from, error))) {
        return std::string("it is no regular file");
    }
    if (fs::exists(fs::symlink_status(to, error))) {
        return to.string() + " exists already";
    }
    fs::create_directories(to.parent_path(), error);
    if (error) {
        return "the folder " + to.parent_path().string() + " cannot be made: " + error.message();
    }
#ifndef _WIN32
    // A hard link takes the name only when it is free; the original goes once the link is there.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) != 0) {
            const int failure = errno;
            ::unlink(to.c_str());
            return std::system_category().message(failure);
        }
        return std::nullopt;
    }
    if (errno == EEXIST) {
        return to.string() + " exists already";
    }
#endif
    // Another file system (or Windows): a copy, read back, then the original goes.
    const FileRead read = readUserFile(from, kFileLimit, from.parent_path());
    if (!read.bytes) {
        return read.failure;
    }
    if (const auto written = formats::writeWholeFile(to, *read.bytes, formats::Placing::NewName);
        !written) {
        return written.failure().reason;
    }
    fs::remove(from, error);
    if (error) {
        fs::remove(to, error);
        return "it cannot be removed from its folder";
    }
    return std::nullopt;
}

}  // namespace quorvane::journal
