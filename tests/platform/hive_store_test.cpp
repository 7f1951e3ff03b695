// What the hive store adds to the registry functions: where the hives live, how writes reach
// the files, how it shares them with other programs, and what a store that only reads loads.
#include "platform/hive_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>

#include "platform/hive_io.h"
#include "platform/registry_location.h"
#include "tests/platform/platform_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/registry_model.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::platform {
namespace {

namespace fs = std::filesystem;
using testing::contains;
using testing::copyFixtureHives;
using testing::dword;
using testing::kNobody;
using testing::readFile;
using testing::refusalOf;
using testing::stored;
using testing::sz;
using testing::TempDir;
using testing::write;
using testing::writeFile;
using testing::model::listTree;

const std::string kPolicies = "Software\\Policies\\Microsoft\\Internet Explorer\\Restrictions";

ino_t inodeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0);
    return info.st_ino;
}

class HiveStoreTest : public ::testing::Test {
protected:
    HiveStoreTest() { copyFixtureHives(dir_.path()); }

    fs::path hive(const char* name) const { return dir_.path() / name; }

    TempDir dir_;
};

TEST_F(HiveStoreTest, AMachineHiveWithoutWriteBitsIsReadOnly) {
    ASSERT_EQ(::chmod(hive("system.reg").c_str(), 0444), 0);
    const std::string machine = readFile(hive("system.reg"));
    HiveStore store(dir_.path());

    KeyHandle key = 0;
    EXPECT_EQ(store.openKey(kLocalMachine, "Software", kKeyWrite, key), kAccessDenied);
    EXPECT_EQ(store.openKey(kLocalMachine, "Software", 0x3F, key), kAccessDenied);
    EXPECT_EQ(store.createKey(kLocalMachine, kPolicies, key), kAccessDenied);
    EXPECT_EQ(store.deleteKey(kLocalMachine, "Software\\Wine\\Ports"), kAccessDenied);
    EXPECT_EQ(testing::set(store, kLocalMachine, "X", dword(1)), kAccessDenied);
    EXPECT_TRUE(contains(store.lastFailure(), "system.reg"));
    EXPECT_EQ(store.openKey(kLocalMachine, "Software\\Missing", kKeyRead, key), kFileNotFound);
    EXPECT_EQ(store.lastFailure(), "") << "a reason of an earlier failure";
    // Existing keys still open for reading, also through createKey.
    ASSERT_EQ(store.createKey(kLocalMachine, "Software\\Microsoft", key), kSuccess);
    EXPECT_EQ(testing::set(store, key, "X", dword(1)), kAccessDenied);
    store.closeKey(key);
    // (The user's hive goes on taking changes: the command test's refused machine hive.)
    EXPECT_EQ(readFile(hive("system.reg")), machine);
}

// A lock file that others could hold (another mode, a second name from a `cp -al` backup) is
// replaced while it is free, and refused at once, naming itself, while it is held; one that is
// not the owner's is refused, naming itself, never as missing access to the hive.
struct LockFileCase {
    const char* what;
    std::function<void(const fs::path& lock)> spoil;
    bool held;  // by a process that is not the store's
    bool written;
    const char* problem;  // in the reason when not written
};
class LockFileProblem : public HiveStoreTest, public ::testing::WithParamInterface<LockFileCase> {};

TEST_P(LockFileProblem, IsMendedOrNamed) {
    const LockFileCase& c = GetParam();
    const fs::path lock = dir_.path() / ".quorvane-lock";
    {
        HiveStore first(dir_.path());
        ASSERT_EQ(write(first, kCurrentUser, kPolicies, "First", dword(1)), kSuccess);
    }
    c.spoil(lock);
    const int holder = ::open(lock.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    if (c.held) {
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    HiveStore store(dir_.path());
    const auto started = std::chrono::steady_clock::now();
    const Status status = write(store, kCurrentUser, kPolicies, "Second", dword(1));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
        << "refused at once, not after the lock's time-out";
    ::close(holder);
    if (c.written) {
        EXPECT_EQ(status, kSuccess) << store.lastFailure();
        struct stat info {};
        ASSERT_EQ(::stat(lock.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(info.st_nlink, 1u);
        return;
    }
    EXPECT_EQ(status, kRegistryIoFailed);
    EXPECT_TRUE(contains(store.lastFailure(), lock.string() + " " + c.problem));
}

const LockFileCase kLockFileCases[] = {
    {"second name",
     [](const fs::path& lock) { fs::create_hard_link(lock, lock.parent_path() / "backup-lock"); },
     false, true, ""},
    {"mode 0644", [](const fs::path& lock) { ::chmod(lock.c_str(), 0644); }, false, true, ""},
    {"mode 0644 and held", [](const fs::path& lock) { ::chmod(lock.c_str(), 0644); }, true, false,
     "has mode 0644, so other users can hold it, and it is held now"},
    {"not a regular file",
     [](const fs::path& lock) {
         fs::remove(lock);
         ::mkfifo(lock.c_str(), 0600);
     },
     false, false, "is not a lock file of the directory's owner"},
};
INSTANTIATE_TEST_SUITE_P(Cases, LockFileProblem, ::testing::ValuesIn(kLockFileCases),
                         testing::CaseName());

// A hive that is no regular file is refused at once, without waiting for a writer that never
// comes; a link leads to its target as in Wine, a file's link to its file and a key's link (the
// 32-bit view of the classes) to its key, also the classes root.
TEST_F(HiveStoreTest, OnlyRegularFilesAreHivesAndLinksLeadToTheirTargets) {
    fs::remove(hive("user.reg"));
    ASSERT_EQ(::mkfifo(hive("user.reg").c_str(), 0644), 0);
    EXPECT_THROW(HiveStore store(dir_.path()), StoreError);
    fs::remove(hive("user.reg"));
    fs::create_directory(hive("user.reg"));
    EXPECT_THROW(HiveStore store(dir_.path()), StoreError);
    fs::remove(hive("user.reg"));

    const fs::path target = dir_.path() / "elsewhere" / "my-user.reg";
    fs::create_directory(target.parent_path());
    fs::copy_file(testing::fixtureDirectory() / "user.reg", target);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("elsewhere/my-user.reg", hive("user.reg"));
    HiveStore store(dir_.path());
    ASSERT_EQ(write(store, kCurrentUser, kPolicies, "NoPrinting", dword(1)), kSuccess);
    EXPECT_TRUE(fs::is_symlink(hive("user.reg")));
    EXPECT_TRUE(contains(readFile(target), "\"NoPrinting\"=dword:00000001"));
    // The 32-bit view of the classes is a link into the classes key.
    ASSERT_EQ(write(store, kLocalMachine, "Software\\Wow6432Node\\Classes\\QuorvaneLinked", "L",
                    dword(5)),
              kSuccess);
    EXPECT_EQ(stored(store, kLocalMachine, "Software\\Classes\\Wow6432Node\\QuorvaneLinked", "L"),
              dword(5));
    EXPECT_EQ(stored(store, kClassesRoot, "Wow6432Node\\QuorvaneLinked", "L"), dword(5));
    // Read through the link by a store that has read nothing yet: a link on the way loads all.
    HiveStore reader(dir_.path(), HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
    EXPECT_EQ(stored(reader, kLocalMachine, "Software\\Wow6432Node\\Classes\\QuorvaneLinked", "L"),
              dword(5));
    KeyHandle key = 0;
    EXPECT_EQ(store.openKey(kUsers, "", kKeyRead, key), kInvalidHandle);
    EXPECT_EQ(store.openKey(kCurrentConfig, "", kKeyRead, key), kInvalidHandle);
}

// Root working on the prefix of another user (nobody) is not led by that user's links to read
// or replace a file that user could not, nor into a directory of root's by the path it is given.
// (Links and directories swapped while the store works: tests/cli/root_attack_test.cpp.)
TEST_F(HiveStoreTest, RootIsNotLedAstrayByAUsersPrefix) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the prefix must belong to another user";
    }
    TempDir outside;
    const fs::path secret = outside.path() / "secret";
    writeFile(secret, "WINE REGISTRY Version 2\n;; root's own\n");
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path prefix = dir_.path() / "prefix";
    fs::create_directory(prefix);
    fs::copy_file(hive("system.reg"), prefix / "system.reg");
    for (const auto& file : {prefix, prefix / "system.reg"}) {
        ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), 0);
    }
    fs::create_symlink(secret, prefix / "user.reg");
    EXPECT_TRUE(contains(refusalOf([&] { HiveStore{prefix}; }), "belongs to another user"));
    // Nor through a second name (a hard link) of root's file.
    fs::remove(prefix / "user.reg");
    fs::create_hard_link(secret, prefix / "user.reg");
    EXPECT_THROW(HiveStore{prefix}, StoreError);
    EXPECT_EQ(readFile(secret), "WINE REGISTRY Version 2\n;; root's own\n");
    fs::remove(prefix / "user.reg");
    for (const auto& entry : fs::directory_iterator(prefix)) {
        EXPECT_FALSE(contains(readFile(entry.path()), "root's own")) << entry.path();
    }

    // The path the user gives is the user's link: to the user's prefix it leads, to root's own
    // directory it does not, however deep the link lies.
    const fs::path userLink = dir_.path() / "link";
    TempDir rootsHome;
    const fs::path rootsOwn = rootsHome.path() / "own-prefix";
    fs::create_directory(rootsOwn);
    const auto linkTo = [&](const fs::path& target) {
        fs::remove(userLink);
        fs::create_directory_symlink(target, userLink);
        ASSERT_EQ(::lchown(userLink.c_str(), kNobody, kNobody), 0);
    };
    linkTo(prefix);
    EXPECT_NO_THROW(HiveStore{userLink});
    const std::pair<fs::path, fs::path> throughLinks[] = {
        {rootsOwn, userLink}, {rootsHome.path(), userLink / "own-prefix"}};
    for (const auto& [target, path] : throughLinks) {
        linkTo(target);
        EXPECT_TRUE(contains(refusalOf([&] {
                                 HiveStore{path, HiveStore::Creation::CreateIfMissing};
                             }),
                             "as root Quorvane follows no such link"))
            << "root followed a user's link into its own directory " << path;
    }
    EXPECT_TRUE(fs::is_empty(rootsOwn));
}

TEST_F(HiveStoreTest, AHiveDamagedWhileOpenIsLeftAloneAndReported) {
    HiveStore store(dir_.path());
    const std::string damaged = "garbage\n" + readFile(hive("user.reg"));
    writeFile(hive("user.reg"), damaged);
    EXPECT_EQ(write(store, kCurrentUser, kPolicies, "NoPrinting", dword(1)), kRegistryIoFailed);
    EXPECT_TRUE(contains(store.lastFailure(), "user.reg"));
    EXPECT_EQ(readFile(hive("user.reg")), damaged);
    EXPECT_EQ(write(store, kLocalMachine, kPolicies, "NoPrinting", dword(1)), kSuccess)
        << "the other hive goes on working";

    // Wine ignores such a hive and never saves it again; the store does not make it anew either.
    EXPECT_TRUE(
        contains(refusalOf([&] { HiveStore(dir_.path(), HiveStore::Creation::CreateIfMissing); }),
                 hive("user.reg").string()));
    EXPECT_EQ(readFile(hive("user.reg")), damaged);
}

// The own store, where none is configured and no Wine prefix given: reading it creates nothing
// (the window's load, a command that reads); the first write makes the directory and both hives,
// which get what the umask leaves of 0666, as Wine's hives do. Other directories must exist.
TEST(HiveStoreLocationTest, ConfiguredDirectoryThenWinePrefixThenOwnStoreMadeOnFirstWrite) {
    TempDir dir;
    std::map<std::string, std::string> environment = {{"HOME", "/home/ann"},
                                                      {"WINEPREFIX", "/srv/prefix"}};
    const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
        const auto it = environment.find(name);
        return it == environment.end() ? std::nullopt : std::optional(it->second);
    };
    RegistryLocation location = locateRegistry("/etc/hives", lookup);
    EXPECT_EQ(location.kind, RegistryLocation::Kind::Configured);
    EXPECT_EQ(location.directory, "/etc/hives");
    location = locateRegistry("", lookup);
    EXPECT_EQ(location.kind, RegistryLocation::Kind::WinePrefix);
    EXPECT_EQ(location.directory, "/srv/prefix");
    environment.erase("WINEPREFIX");
    EXPECT_EQ(locateRegistry("", lookup).directory, "/home/ann/.local/share/Quorvane/registry");
    environment["XDG_DATA_HOME"] = dir.path().string();
    location = locateRegistry("", lookup);
    EXPECT_EQ(location.kind, RegistryLocation::Kind::OwnStore);
    const fs::path own = dir.path() / "Quorvane" / "registry";
    EXPECT_EQ(location.directory, own);

    auto registry = openRegistry(location);
    EXPECT_EQ(stored(*registry, kCurrentUser, kPolicies, "NoPrinting"), std::nullopt);
    EXPECT_FALSE(fs::exists(dir.path() / "Quorvane"));
    const mode_t oldMask = ::umask(027);
    EXPECT_EQ(write(*registry, kCurrentUser, kPolicies, "NoPrinting", dword(1)), kSuccess);
    ::umask(oldMask);
    EXPECT_EQ(fs::status(own / "system.reg").permissions(), static_cast<fs::perms>(0640));
    EXPECT_EQ(stored(*registry, kCurrentUser, kPolicies, "NoPrinting"), dword(1));
    EXPECT_EQ(readFile(own / "system.reg"),
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
              "#arch=win64\n");
    EXPECT_EQ(readFile(own / "user.reg")
                  .rfind("WINE REGISTRY Version 2\n;; All keys relative to "
                         "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n",
                         0),
              0u);

    EXPECT_THROW(openRegistry({RegistryLocation::Kind::Configured, dir.path() / "missing"}),
                 StoreError);
    // A prefix without a user hive yet: it starts empty and is made on the first write.
    const fs::path prefix = dir.path() / "prefix";
    fs::create_directory(prefix);
    HiveStore store(prefix);
    EXPECT_EQ(stored(store, kCurrentUser, kPolicies, "NoPrinting"), std::nullopt);
    EXPECT_FALSE(fs::exists(prefix / "user.reg"));
    EXPECT_EQ(write(store, kCurrentUser, kPolicies, "NoPrinting", dword(1)), kSuccess);
    EXPECT_EQ(readFile(prefix / "user.reg").rfind("WINE REGISTRY Version 2\n", 0), 0u);
    EXPECT_FALSE(fs::exists(prefix / "system.reg"));
}

// Another program changes a hive after its [path] lines were found and before its sections are
// read: the reader notices, rather than reading bytes of another version at the old places (or
// faulting on a file cut short, as a mapping of it would). A hive replaced within one tick, or
// written in place with its time set back: the test after this one, through the store.
struct ChangeCase {
    const char* what;
    bool holding;  // the descriptor still open from the search, else opened again for the read
    std::function<void(const fs::path&)> change;
};

void truncateToHalf(const fs::path& file) {
    fs::resize_file(file, fs::file_size(file) / 2);
}

class ChangedWhileReadTest : public HiveStoreTest,
                             public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangedWhileReadTest, IsNoticedAtTheNextRead) {
    const fs::path file = hive("system.reg");
    const std::string text = readFile(file);
    const formats::Folder directory = hive::openDirectory(dir_.path());
    auto reader = hive::HiveReader::open(directory, "system.reg");
    ASSERT_TRUE(reader);
    std::string bytes(4096, '\0');
    const std::size_t offset = text.size() - bytes.size();
    reader->read(offset, bytes.data(), bytes.size());
    EXPECT_EQ(bytes, text.substr(offset));
    if (!GetParam().holding) {
        reader->close();
        reader->read(offset, bytes.data(), bytes.size());  // unchanged: opened again and read
        EXPECT_EQ(bytes, text.substr(offset));
        reader->close();
    }
    GetParam().change(file);
    EXPECT_THROW(reader->read(offset, bytes.data(), bytes.size()), hive::FileChanged);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedWhileReadTest,
    ::testing::Values(ChangeCase{"cut short while held", true, truncateToHalf},
                      ChangeCase{"cut short", false, truncateToHalf},
                      ChangeCase{"replaced by rename", false,
                                 [](const fs::path& file) {
                                     writeFile(file.string() + ".new", readFile(file));
                                     fs::rename(file.string() + ".new", file);
                                 }},
                      ChangeCase{"removed", false, [](const fs::path& file) { fs::remove(file); }}),
    testing::CaseName());

// Another program rewrites a hive in place, with the same size and its time set back, after a
// store found its [path] lines: the store reads the new version whole, not the new bytes at the
// places of the old one. Then the hive is replaced by another file of the same size, mode and time
// (a clock too coarse to tell them apart): that is another file, and is read again. Between
// operations a store holds no descriptor of a hive: none stays open behind a message box, and a
// hive replaced meanwhile is not kept alive.
TEST_F(HiveStoreTest, AHiveRewrittenOrReplacedUnderTheSameTimeIsReadAsItIsNow) {
    const auto hivesOpen = [] {
        int open = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            std::error_code error;
            const std::string target = fs::read_symlink(entry.path(), error).string();
            open += target.ends_with("system.reg") || target.ends_with("user.reg");
        }
        return open;
    };
    const fs::path file = hive("system.reg");
    HiveStore writer(dir_.path());
    ASSERT_EQ(write(writer, kLocalMachine, kPolicies, "NoBrowserClose", dword(1)), kSuccess);
    EXPECT_EQ(hivesOpen(), 0) << "after a write";
    // The new version: a line more before every section, the value changed, as long as before.
    std::string text = readFile(file);
    const std::string value = "\"NoBrowserClose\"=dword:0000000";
    const std::size_t at = text.find(value + "1");
    ASSERT_NE(at, std::string::npos);
    text[at + value.size()] = '2';
    const std::size_t firstSection = text.find("\n[");
    const std::string padding = ";; moved\n";
    text.insert(firstSection + 1, padding);
    const std::size_t lastLine = text.rfind('\n', text.size() - 2);
    ASSERT_EQ(text.substr(lastLine + 1, padding.size()).find('['), std::string::npos);
    text.erase(text.size() - padding.size() - 1, padding.size());

    HiveStore reader(dir_.path());
    // A store that only reads keeps the version it read, but not past a read of more of it.
    HiveStore command(dir_.path(), HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
    EXPECT_EQ(hivesOpen(), 0) << "after the search for [path] lines";
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    writeFile(file, text);  // in place: the same file, of the same size
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_EQ(inodeOf(file), before.st_ino);
    EXPECT_EQ(stored(reader, kLocalMachine, kPolicies, "NoBrowserClose"), dword(2));
    EXPECT_EQ(stored(command, kLocalMachine, kPolicies, "NoBrowserClose"), dword(2));
    EXPECT_EQ(hivesOpen(), 0) << "after reading sections";

    text[text.find(value) + value.size()] = '3';
    writeFile(hive("new.reg"), text);
    ASSERT_EQ(::chmod(hive("new.reg").c_str(), before.st_mode & 07777), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, hive("new.reg").c_str(), times, 0), 0);
    fs::rename(hive("new.reg"), file);
    EXPECT_EQ(stored(reader, kLocalMachine, kPolicies, "NoBrowserClose"), dword(3));
}

// A store reads a hive in part: the keys asked for and what lies below them. That this gives
// what the whole hive gives, the registry model's readers and the document's pieces test show.
// A write after such reads changes only its key's section, every other byte kept, damaged lines
// too; a key whose only sub-key goes keeps a section of its own, or it would go with it.
// That each write outside a batch is stored when the call returns, and a batch when its outermost
// scope ends, the registry model checks; that a batch stores nothing before, the restrictions
// over the store check for each operation; that another writer's changes are read before each
// operation and kept beside pending ones, the rewritten hive below and the two writers of the
// fault test. What none of them shows, this test does too: someone holding a lock on the
// directory itself blocks no write, and storing what is there already writes nothing. (The store
// locks a file of its own instead: that nobody but the directory's owner can open it, the lock
// file table shows, which wants it mended to 0600; what a killed writer left, the fault test, for
// both kinds.)
TEST_F(HiveStoreTest, AWriteAfterReadsInPartChangesOnlyItsSection) {
    const fs::path file = hive("system.reg");
    const std::string currentVersion = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    writeFile(file, readFile(file) + "\n[Software\\\\Broken\n\"x\"=dword:zz\n");
    const std::string before = readFile(file);
    HiveStore store(dir_.path());
    EXPECT_EQ(stored(store, kLocalMachine, kPolicies, "NoPrinting"), std::nullopt);
    EXPECT_EQ(stored(store, kLocalMachine, currentVersion, "Quorvane"), std::nullopt);
    const int directory = ::open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(directory, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(write(store, kLocalMachine, currentVersion, "Quorvane", dword(0)), kSuccess);
    ::close(directory);
    const ino_t written = inodeOf(file);
    EXPECT_EQ(write(store, kLocalMachine, currentVersion, "quorvane", dword(0)), kSuccess);
    EXPECT_EQ(inodeOf(file), written) << "stored what was there already";
    const std::string after = readFile(file);
    const std::size_t same =
        std::mismatch(before.begin(), before.end(), after.begin(), after.end()).first -
        before.begin();
    const std::size_t sameEnd =
        std::mismatch(before.rbegin(), before.rend() - same, after.rbegin(), after.rend() - same)
            .first -
        before.rbegin();
    // Only the section of CurrentVersion differs, and every other byte is kept.
    const std::string was = before.substr(same, before.size() - same - sameEnd);
    const std::string is = after.substr(same, after.size() - same - sameEnd);
    EXPECT_EQ(was.find("\n["), std::string::npos) << was;
    EXPECT_EQ(is.find("\n["), std::string::npos) << is;
    EXPECT_TRUE(before.substr(before.rfind("\n[", same))
                    .starts_with("\n[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion]"));
    EXPECT_EQ(stored(store, kLocalMachine, currentVersion, "Quorvane"), dword(0));
    ASSERT_EQ(store.deleteKey(kLocalMachine, "Software\\Microsoft\\Notepad\\DefaultFonts"),
              kSuccess);
    HiveStore fresh(dir_.path(), HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
    EXPECT_EQ(listTree(fresh, kLocalMachine, "Software\\Microsoft"),
              listTree(store, kLocalMachine, "Software\\Microsoft"));
    EXPECT_TRUE(testing::keyExists(fresh, kLocalMachine, "Software\\Microsoft\\Notepad"));
}

}  // namespace
}  // namespace quorvane::platform
