// Reaching files beneath a folder: what is refused, the same whether the kernel's openat2 or the
// walk of single names resolves the names; a change or removal refused when its file changed
// since it was read, whatever took its place; root acting as the owner of a user's folder; and
// the folder's lock, taken again by the thread that holds it and waited for by others. And
// another user's groups as Quorvane finds them (formats/user_database.h), against the system's
// own answers: the C library's name services read the same /etc/passwd and /etc/group here, so
// the static build's reading of the files alone must agree with them for every user.
#include "formats/file_access.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "formats/user_database.h"
#include "tests/support/temp_dir.h"

namespace quorvane::formats {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::writeFile;

constexpr uid_t kNobody = 65534;

std::string outcome(const Result<FileContent>& read) {
    return read ? "read: " + read->bytes : "refused: " + read.failure().reason;
}

// Each case runs with openat2 and with the walk that stands in for it.
class Beneath : public ::testing::TestWithParam<bool> {
protected:
    Beneath() {
        setOpenat2Missing(GetParam());
        fs::create_directories(place() / "sub");
        writeFile(place() / "sub" / "file", "inside");
        writeFile(place() / "big", std::string(100, 'x'));
        writeFile(outside(), "outside");
        ::mkfifo((place() / "fifo").c_str(), 0644);
        fs::create_symlink("file", place() / "sub" / "link");
        fs::create_directory_symlink("sub", place() / "linked");
        fs::create_directory_symlink(dir_.path(), place() / "out");
    }
    ~Beneath() override {
        setOpenat2Missing(false);
        setFaultHook(nullptr);
    }

    fs::path place() const { return dir_.path() / "place"; }
    fs::path outside() const { return dir_.path() / "outside"; }
    Folder folder() const { return Folder::open(place()).value(); }

    testing::TempDir dir_;
};

TEST_P(Beneath, ReachesOnlyRegularFilesBeneathAndNoLink) {
    const std::string throughLink =
        "refused: is reached through a link, which Quorvane does not follow";
    const std::pair<const char*, std::string> cases[] = {
        {"sub/file", "read: inside"},
        {"./sub//file", "read: inside"},
        {"big", "refused: is larger than 64 bytes"},
        // A FIFO with no writer would block a plain open or read for ever.
        {"fifo", "refused: is not a regular file"},
        {"sub", "refused: is not a regular file"},
        {"sub/link", throughLink},
        {"linked/file", throughLink},
        {"out/outside", throughLink},
        {"../outside", "refused: is not a name beneath its folder"},
        {"sub/../big", "refused: is not a name beneath its folder"},
        {"/etc/passwd", "refused: is not a name beneath its folder"},
        {"missing", "refused: cannot be read: no such file or directory"},
        {"big/file", "refused: cannot be read: not a directory"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(outcome(folder().read(name, 64)), expected) << name;
    }
    EXPECT_FALSE(folder().folder("linked")) << "a folder reached through a link";
    EXPECT_FALSE(folder().list("out", 10)) << "a folder listed through a link";
    const auto listing = folder().list("", 10);
    ASSERT_TRUE(listing);
    std::string kinds;
    for (const Entry& entry : listing->entries) {
        kinds += entry.name + ":" + std::to_string(static_cast<int>(entry.kind)) + " ";
    }
    EXPECT_EQ(kinds, "big:0 fifo:3 linked:2 out:2 sub:1 ");
    EXPECT_TRUE(folder().examine("linked").value()->link());
    EXPECT_FALSE(folder().examine("sub/missing").value());
}

// What another program does to the file right before the change takes its name.
struct Meddling {
    const char* what;
    std::function<void(const fs::path& file, const fs::path& outside)> meddle;
};

std::function<void()> beforeCommit;

int runMeddler(WriteStep step, const std::string&) {
    if (step == WriteStep::Rename && beforeCommit) {
        beforeCommit();
    }
    return 0;
}

const Meddling kMeddlings[] = {
    {"rewritten in place",
     [](const fs::path& file, const fs::path&) { writeFile(file, "theirs"); }},
    {"replaced",
     [](const fs::path& file, const fs::path&) {
         writeFile(file.string() + ".new", "theirs");
         fs::rename(file.string() + ".new", file);
     }},
    {"removed", [](const fs::path& file, const fs::path&) { fs::remove(file); }},
    {"a link out",
     [](const fs::path& file, const fs::path& outside) {
         fs::remove(file);
         fs::create_symlink(outside, file);
     }},
    {"a fifo",
     [](const fs::path& file, const fs::path&) {
         fs::remove(file);
         ::mkfifo(file.c_str(), 0644);
     }},
};

TEST_P(Beneath, AChangeOrRemovalOfAFileThatChangedSinceItWasReadIsRefused) {
    const fs::path file = place() / "sub" / "file";
    ::chmod(file.c_str(), 0640);
    setFaultHook(runMeddler);
    for (const bool removing : {false, true}) {
        for (const Meddling& meddling : kMeddlings) {
            SCOPED_TRACE(std::string(meddling.what) + (removing ? ", removing" : ", writing"));
            fs::remove(file);
            writeFile(file, "read");
            const FileContent read = folder().read("sub/file", 64).value();
            fs::file_status left;
            beforeCommit = [&] {
                meddling.meddle(file, outside());
                left = fs::symlink_status(file);
            };
            if (removing) {
                beforeCommit();  // a removal has no step to run it at
            }
            WriteOptions options;
            options.expected = read.signature;
            const bool done = removing ? folder().remove("sub/file", read.signature).ok()
                                       : folder().write("sub/file", "ours", options).ok();
            beforeCommit = nullptr;
            EXPECT_FALSE(done);
            EXPECT_EQ(fs::symlink_status(file).type(), left.type());
            if (fs::is_regular_file(fs::symlink_status(file))) {
                EXPECT_EQ(readFile(file), "theirs");
            }
            EXPECT_EQ(readFile(outside()), "outside");
            fs::remove(file);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(place() / "sub"), fs::directory_iterator()),
                  1)
            << "a temporary file was left behind";
    }
    // Unchanged, the change is made and keeps the file's mode; the removal removes it.
    writeFile(file, "read");
    ::chmod(file.c_str(), 0640);
    WriteOptions options;
    options.expected = folder().read("sub/file", 64)->signature;
    const auto written = folder().write("sub/file", "ours", options);
    ASSERT_TRUE(written) << written.failure().reason;
    EXPECT_EQ(readFile(file), "ours");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
    EXPECT_TRUE(folder().remove("sub/file", *written));
    EXPECT_FALSE(fs::exists(file));
}

INSTANTIATE_TEST_SUITE_P(Resolution, Beneath, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Walk" : "Openat2"; });

TEST(FolderAsRoot, ActsAsTheOwnerOfAUsersFolderAndKeepsEachFilesOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the folder must belong to another user";
    }
    testing::TempDir dir;
    const fs::path place = dir.path() / "place";
    const fs::path closed = dir.path() / "closed";
    fs::create_directories(place);
    fs::create_directories(closed);
    fs::permissions(closed, fs::perms::owner_all);
    writeFile(closed / "secret", "secret");
    ASSERT_EQ(::chown(place.c_str(), kNobody, kNobody), 0);
    writeFile(place / "root-only", "root's");
    fs::permissions(place / "root-only", fs::perms::owner_read | fs::perms::owner_write);
    writeFile(place / "system.reg", "root's hive");
    fs::permissions(place / "system.reg", fs::perms(0644));

    const Folder folder = Folder::open(place).value();
    ASSERT_TRUE(folder.actingAs());
    EXPECT_EQ(folder.actingAs()->uid, kNobody);
    EXPECT_FALSE(Folder::open(dir.path()).value().actingAs()) << "root's own folder";
    // Root reads and reaches no further than the user could.
    EXPECT_EQ(outcome(folder.read("root-only", 64)), "refused: cannot be read: permission denied");
    EXPECT_FALSE(folder.follow(closed)) << "root's closed folder reached through a user's link";
    // What it makes is the user's; a file it replaces keeps its owner, root's hive included.
    ASSERT_TRUE(folder.write("new", "made"));
    ASSERT_TRUE(folder.makeFolder("made/below"));
    WriteOptions options;
    options.expected = folder.read("system.reg", 64)->signature;
    ASSERT_TRUE(folder.write("system.reg", "changed hive", options));
    struct stat info {};
    for (const auto& [name, owner] : {std::pair{"new", kNobody}, std::pair{"made/below", kNobody},
                                      std::pair{"system.reg", uid_t(0)}}) {
        ASSERT_EQ(::stat((place / name).c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, owner) << name;
    }
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(readFile(closed / "secret"), "secret");
}

TEST(FolderLock, IsTakenAgainByItsThreadAndWaitedForByAnother) {
    testing::TempDir dir;
    const Folder folder = Folder::open(dir.path()).value();
    auto outer = folder.lock(std::chrono::seconds(1)).value();
    auto inner = folder.lock(std::chrono::milliseconds(0)).value();
    ASSERT_TRUE(outer.held() && inner.held());
    bool heldElsewhere = true;
    std::thread([&] { heldElsewhere = folder.lock(std::chrono::milliseconds(50))->held(); }).join();
    EXPECT_FALSE(heldElsewhere);
    inner = FolderLock();
    std::thread([&] { heldElsewhere = folder.lock(std::chrono::milliseconds(50))->held(); }).join();
    EXPECT_FALSE(heldElsewhere) << "released by the inner lock while the outer one holds it";
    outer = FolderLock();
    std::thread([&] { heldElsewhere = folder.lock(std::chrono::milliseconds(50))->held(); }).join();
    EXPECT_TRUE(heldElsewhere);
}

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
