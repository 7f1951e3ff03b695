// Reading files that someone else may have put where Quorvane looks: what is refused, and that
// root reads no further than the user whose folder the file lies in.
#include "formats/user_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using formats::readUserFile;

constexpr uid_t kNobody = 65534;

// What was read, or the reason it was not, to compare in one expectation.
std::string outcome(const Result<std::string>& read) {
    return read ? "read: " + read.value() : "refused: " + read.failure().reason;
}

TEST(UserFile, ReadsARegularFileWithinItsBoundAndRefusesEverythingElse) {
    TempDir temp;
    writeFile(temp.path() / "small", "12345");
    EXPECT_EQ(outcome(readUserFile(temp.path() / "small", 5, temp.path())), "read: 12345");
    EXPECT_EQ(outcome(readUserFile(temp.path() / "small", 4, temp.path())),
              "refused: is larger than 4 bytes");

    // A FIFO with no writer would block a plain open or read for ever.
    ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0644), 0);
    fs::create_directory(temp.path() / "folder");
    for (const char* name : {"fifo", "folder"}) {
        EXPECT_EQ(outcome(readUserFile(temp.path() / name, 1024, temp.path())),
                  "refused: is not a regular file")
            << name;
    }
    EXPECT_EQ(outcome(readUserFile("/dev/zero", 1024, temp.path())),
              "refused: is not a regular file");
    EXPECT_EQ(outcome(readUserFile(temp.path() / "missing", 1024, temp.path())),
              "refused: cannot be read: no such file or directory");
}

TEST(UserFile, RootReadsOnlyWhatTheOwnerOfThePlaceCouldRead) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    TempDir temp;
    const fs::path place = temp.path() / "prefix";
    fs::create_directory(place);
    ASSERT_EQ(::chown(place.c_str(), kNobody, kNobody), 0);
    fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::others_exec);

    // The user's own file, and a link of theirs to a file they may read, are read.
    writeFile(place / "own.bat", "own");
    ASSERT_EQ(::chown((place / "own.bat").c_str(), kNobody, kNobody), 0);
    fs::permissions(place / "own.bat", fs::perms::owner_read);
    EXPECT_EQ(outcome(readUserFile(place / "own.bat", 64, place)), "read: own");
    writeFile(temp.path() / "public", "public");
    fs::permissions(temp.path() / "public", fs::perms::owner_read | fs::perms::others_read);
    fs::create_symlink(temp.path() / "public", place / "public.bat");
    EXPECT_EQ(outcome(readUserFile(place / "public.bat", 64, place)), "read: public");

    // Root's secrets stay unread: a file only root may read, and a readable file in a folder the
    // user cannot enter.
    writeFile(temp.path() / "secret", "secret");
    fs::permissions(temp.path() / "secret", fs::perms::owner_read);
    fs::create_symlink(temp.path() / "secret", place / "secret.bat");
    const fs::path closed = temp.path() / "closed";
    fs::create_directory(closed);
    fs::permissions(closed, fs::perms::owner_all);
    writeFile(closed / "inside", "inside");
    fs::permissions(closed / "inside", fs::perms::owner_read | fs::perms::others_read);
    fs::create_symlink(closed / "inside", place / "inside.bat");
    for (const char* name : {"secret.bat", "inside.bat"}) {
        EXPECT_EQ(outcome(readUserFile(place / name, 64, place)),
                  "refused: cannot be read: permission denied")
            << name;
    }
    // Root's own place is read as root reads.
    EXPECT_EQ(outcome(readUserFile(place / "secret.bat", 64, temp.path())), "read: secret");
}

}  // namespace
}  // namespace quorvane::testing
