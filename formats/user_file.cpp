#include "formats/user_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "formats/result.h"
#include "formats/user_database.h"

namespace quorvane::formats {

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

// Whose eyes a file is opened with: the owner of the place it was found in.
struct ReadAs {
    uid_t uid;
    gid_t gid;
};

// Opens `file` for reading without blocking. With `as`, the opening (every folder on the way and
// every link followed) is checked with that user's file-system identity, which this thread takes
// only for the call: root reads no further than the user could.
int openAs(const fs::path& file, const std::optional<ReadAs>& as, int& error) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (!as) {
        const int fd = ::open(file.c_str(), kFlags);
        error = errno;
        return fd;
    }
    const int previousGid = ::setfsgid(as->gid);
    const int previousUid = ::setfsuid(as->uid);
    const int fd = ::open(file.c_str(), kFlags);
    error = errno;
    ::setfsuid(static_cast<uid_t>(previousUid));
    ::setfsgid(static_cast<gid_t>(previousGid));
    return fd;
}

// Whether the permission bits let `as` read the opened file; the supplementary groups of root
// stay in force through setfsuid, so the groups are checked here once more.
bool readableBy(const struct stat& info, const ReadAs& as) {
    if (info.st_uid == as.uid) {
        return (info.st_mode & S_IRUSR) != 0;
    }
    if (info.st_mode & S_IROTH) {
        return true;
    }
    if ((info.st_mode & S_IRGRP) == 0) {
        return false;
    }
    if (info.st_gid == as.gid) {
        return true;
    }
    const auto groups = groupsOf(as.uid, as.gid);
    return groups && std::find(groups->begin(), groups->end(), info.st_gid) != groups->end();
}

#endif

}  // namespace

Result<std::string> readUserFile(const fs::path& file, std::uintmax_t limit,
                                 const fs::path& place) {
#ifdef _WIN32
    (void)place;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error) {
        return failure("cannot be read: " + describeError(error));
    }
    if (!fs::is_regular_file(status)) {
        return failure("is not a regular file");
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return failure("cannot be opened");
    }
    std::string bytes(static_cast<std::size_t>(limit) + 1, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) {
        return failure("cannot be read");
    }
    bytes.resize(static_cast<std::size_t>(in.gcount()));
#else
    std::optional<ReadAs> as;
    if (::geteuid() == 0) {
        struct stat owner {};
        if (::stat(place.c_str(), &owner) != 0) {
            return failure("cannot be read: its folder " + place.string() + ": " +
                           describeError(errno));
        }
        if (owner.st_uid != 0) {
            as = ReadAs{owner.st_uid, owner.st_gid};
        }
    }
    // Looked at before it is opened: opening a device may do something by itself.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return failure("cannot be read: " + describeError(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return failure("is not a regular file");
    }
    int error = 0;
    const int fd = openAs(file, as, error);
    if (fd < 0) {
        return failure("cannot be read: " + describeError(error));
    }
    std::string bytes;
    std::string refusal;
    if (::fstat(fd, &info) != 0) {
        refusal = "cannot be read: " + describeError(errno);
    } else if (!S_ISREG(info.st_mode)) {
        refusal = "is not a regular file";
    } else if (static_cast<std::uintmax_t>(info.st_size) > limit) {
        refusal = "is larger than " + std::to_string(limit) + " bytes";
    } else if (as && !readableBy(info, *as)) {
        refusal = "cannot be read: " + describeError(EACCES);
    } else {
        // Up to one byte past the bound, so that a file that grew since fstat is still caught.
        char chunk[65536];
        while (bytes.size() <= limit) {
            const ssize_t count = ::read(fd, chunk, sizeof chunk);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                refusal = "cannot be read: " + describeError(errno);
                break;
            }
            if (count == 0) {
                break;
            }
            bytes.append(chunk, static_cast<std::size_t>(count));
        }
    }
    ::close(fd);
    if (!refusal.empty()) {
        return failure(refusal);
    }
#endif
    if (bytes.size() > limit) {
        return failure("is larger than " + std::to_string(limit) + " bytes");
    }
    return bytes;
}

}  // namespace quorvane::formats
