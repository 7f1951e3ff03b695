#include "journal/file_change.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "formats/file_access.h"
#include "formats/user_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane::journal {

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kFileLimit = 64u << 20;

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

Result<void> rewriteFile(const fs::path& file, std::string_view bytes) {
#ifdef _WIN32
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error))) {
        return quorvane::failure("it is no regular file");
    }
    return formats::writeWholeFile(file, bytes);
#else
    struct stat info {};
    struct stat folder {};
    if (::lstat(file.c_str(), &info) != 0) {
        return quorvane::failure(describeError(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return quorvane::failure("it is no regular file");
    }
    const fs::path parent = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (::stat(parent.c_str(), &folder) != 0) {
        return quorvane::failure(describeError(errno));
    }
    if (::geteuid() == 0 && !ownerMayChange(info, folder)) {
        return quorvane::failure(
            "its owner could not change it, and Quorvane does not as root either");
    }
    if (auto written = formats::writeWholeFile(file, bytes); !written) {
        return written;
    }
    // The new file is the writer's: give it back to the old one's owner, with its permissions.
    if (::geteuid() == 0 && ::lchown(file.c_str(), info.st_uid, info.st_gid) != 0) {
        return quorvane::failure("its owner cannot be kept: " + describeError(errno));
    }
    if (::chmod(file.c_str(), info.st_mode & 07777) != 0) {
        return quorvane::failure("its permissions cannot be kept: " + describeError(errno));
    }
    const Result<std::string> back = formats::readUserFile(file, kFileLimit, parent);
    if (!back || *back != bytes) {
        return quorvane::failure("it does not hold the new content when read back");
    }
    return {};
#endif
}

Result<void> moveFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(from, error))) {
        return quorvane::failure("it is no regular file");
    }
    if (fs::exists(fs::symlink_status(to, error))) {
        return quorvane::failure(to.string() + " exists already");
    }
    fs::create_directories(to.parent_path(), error);
    if (error) {
        return quorvane::failure("the folder " + to.parent_path().string() +
                                 " cannot be made: " + describeError(error));
    }
#ifndef _WIN32
    // A hard link takes the name only when it is free; the original goes once the link is there.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) != 0) {
            const int failure = errno;
            ::unlink(to.c_str());
            return quorvane::failure(describeError(failure));
        }
        return {};
    }
    if (errno == EEXIST) {
        return quorvane::failure(to.string() + " exists already");
    }
#endif
    // Another file system (or Windows): a copy, read back, then the original goes.
    const Result<std::string> read = formats::readUserFile(from, kFileLimit, from.parent_path());
    if (!read) {
        return read.failure();
    }
    if (const auto written = formats::writeWholeFile(to, *read, formats::Placing::NewName);
        !written) {
        return written;
    }
    fs::remove(from, error);
    if (error) {
        fs::remove(to, error);
        return quorvane::failure("it cannot be removed from its folder");
    }
    return {};
}

}  // namespace quorvane::journal
