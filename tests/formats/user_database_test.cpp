// Another user's groups as Quorvane finds them (formats/user_database.h), against the system's
// own answers: the C library's name services read the same /etc/passwd and /etc/group here, so
// the static build's reading of the files alone must agree with them for every user.
#include "formats/user_database.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>

#include <algorithm>
#include <set>

namespace quorvane::formats {
namespace {

TEST(UserDatabase, AgreesWithTheSystemsOwnLookupsForEveryUser) {
    int users = 0;
    ::setpwent();
    while (const passwd* user = ::getpwent()) {
        ++users;
        EXPECT_EQ(primaryGroupOf(user->pw_uid), user->pw_gid) << user->pw_name;
        int count = 256;
        std::vector<gid_t> expected(static_cast<std::size_t>(count));
        ASSERT_GE(::getgrouplist(user->pw_name, user->pw_gid, expected.data(), &count), 0);
        expected.resize(static_cast<std::size_t>(count));
        const auto groups = groupsOf(user->pw_uid, user->pw_gid);
        ASSERT_TRUE(groups.has_value()) << user->pw_name;
        EXPECT_EQ(std::set<gid_t>(groups->begin(), groups->end()),
                  std::set<gid_t>(expected.begin(), expected.end()))
            << user->pw_name;
    }
    ::endpwent();
    EXPECT_GT(users, 1) << "root and nobody at least";
    // A user the database does not know has no groups, rather than a guess.
    uid_t unknown = 4000000000u;
    EXPECT_EQ(primaryGroupOf(unknown), std::nullopt);
    EXPECT_EQ(groupsOf(unknown, 0), std::nullopt);
}

}  // namespace
}  // namespace quorvane::formats
