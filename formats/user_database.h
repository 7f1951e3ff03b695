// Who another user is, for root working on that user's files: the user's groups. POSIX only.
//
// A program linked statically must not load the system's name service modules at run time
// (they are libraries of the system's own C library, of another version on a rescue system), so
// the static build (QUORVANE_USER_DATABASE_FILES_ONLY) reads /etc/passwd and /etc/group alone;
// a user known only to a directory service (LDAP, SSSD) is then not known, and callers take
// the cautious way for a user they do not know.
#pragma once

#ifndef _WIN32

#include <sys/types.h>

#include <optional>
#include <vector>

namespace quorvane::formats {

// The primary group of the user `uid`; none when the user database does not know the user.
std::optional<gid_t> primaryGroupOf(uid_t uid);

// The groups of the user `uid`, whose primary group is `gid` (that one included); none when the
// user database does not know the user.
std::optional<std::vector<gid_t>> groupsOf(uid_t uid, gid_t gid);

}  // namespace quorvane::formats

#endif
