// The names of the folders Quorvane gives an offline installation and its users: one file name
// each, its own. (Where the folders lie, belonging to the installation and user whatever path the
// disk is mounted at: tests/cli/offline_cli_test.cpp.)
#include <gtest/gtest.h>

#include <set>

#include "platform/offline_hive_file.h"
#include "tests/support/case_name.h"

namespace quorvane::journal {
namespace {

using platform::offline::fileNameOf;

struct Named {
    const char* what;
    std::string text;
    std::string name;
};
class FolderName : public ::testing::TestWithParam<Named> {};

TEST_P(FolderName, IsOneFileNameOfItsOwn) {
    EXPECT_EQ(fileNameOf(GetParam().text), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Offline, FolderName,
    ::testing::Values(Named{"a SID", "S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1001"},
                      Named{"a slash", "a/b\\c", "a%2Fb%5Cc"},
                      Named{"spaces and other bytes", "Win 10 \xC3\xA9", "Win%2010%20%C3%A9"},
                      Named{"letters beyond ASCII", "\xC5\x81ukasz", "%C5%81ukasz"},
                      Named{"another such letter", "\xC5\xBBukasz", "%C5%BBukasz"},
                      Named{"never a dot folder", "..", "%2E."}, Named{"nothing", "", "%"}),
    testing::CaseName());

TEST(FolderName, ALongPathIsShortenedAndStillItsOwn) {
    const std::string base(300, 'x');
    std::set<std::string> names{fileNameOf(base + "a"), fileNameOf(base + "b")};
    EXPECT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        EXPECT_LE(name.size(), 200u);
    }
}

}  // namespace
}  // namespace quorvane::journal
