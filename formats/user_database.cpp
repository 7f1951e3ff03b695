#include "formats/user_database.h"

#ifndef _WIN32

#include <grp.h>
#include <pwd.h>

#include <cstdio>
#include <string>

namespace quorvane::formats {

namespace {

constexpr std::size_t kEntryBuffer = 16384;

// The name of the user `uid`, found as `primaryGroup` is.
std::optional<std::string> userNamed(uid_t uid, gid_t* primaryGroup) {
    std::vector<char> buffer(kEntryBuffer);
    passwd entry{};
    passwd* found = nullptr;
#ifdef QUORVANE_USER_DATABASE_FILES_ONLY
    std::FILE* file = std::fopen("/etc/passwd", "re");
    if (file == nullptr) {
        return std::nullopt;
    }
    while (::fgetpwent_r(file, &entry, buffer.data(), buffer.size(), &found) == 0 &&
           found->pw_uid != uid) {
    }
    std::fclose(file);
    if (found == nullptr || found->pw_uid != uid) {
        return std::nullopt;
    }
#else
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
#endif
    if (primaryGroup != nullptr) {
        *primaryGroup = found->pw_gid;
    }
    return std::string(found->pw_name);
}

}  // namespace

std::optional<gid_t> primaryGroupOf(uid_t uid) {
    gid_t group = 0;
    if (!userNamed(uid, &group)) {
        return std::nullopt;
    }
    return group;
}

std::optional<std::vector<gid_t>> groupsOf(uid_t uid, gid_t gid) {
    const auto name = userNamed(uid, nullptr);
    if (!name) {
        return std::nullopt;
    }
    std::vector<gid_t> groups{gid};
#ifdef QUORVANE_USER_DATABASE_FILES_ONLY
    std::FILE* file = std::fopen("/etc/group", "re");
    if (file == nullptr) {
        return groups;
    }
    std::vector<char> buffer(kEntryBuffer);
    group entry{};
    group* found = nullptr;
    while (::fgetgrent_r(file, &entry, buffer.data(), buffer.size(), &found) == 0) {
        for (char** member = found->gr_mem; *member != nullptr; ++member) {
            if (*name == *member && found->gr_gid != gid) {
                groups.push_back(found->gr_gid);
            }
        }
    }
    std::fclose(file);
#else
    int count = 64;
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(name->c_str(), gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(name->c_str(), gid, groups.data(), &count) < 0) {
            return std::nullopt;
        }
    }
    groups.resize(static_cast<std::size_t>(count));
#endif
    return groups;
}

}  // namespace quorvane::formats

#endif
