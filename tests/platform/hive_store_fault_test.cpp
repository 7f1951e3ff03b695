// The hive store under faults that ordinary use does not show: a writer killed mid-write, two
// processes writing at once, a failing file layer, and a wineserver holding the prefix; and both
// kinds of hive file (Wine's text, Windows' binary) under the same faults where they share a rule.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/hive_io.h"
#include "platform/hive_store.h"
#include "platform/wineserver_probe.h"
#include "tests/platform/platform_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix.h"

namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;
using namespace quorvane::testing;

constexpr const char* kKeyPath = "Software\\QuorvaneFault";

// A forked process running `body`; killed and reaped when the test leaves, however it leaves.
// The body must not use GoogleTest: its exit code is its verdict.
class Child {
public:
    explicit Child(const std::function<int()>& body) {
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            int code = 100;
            try {
                code = body();
            } catch (const std::exception& error) {
                std::fprintf(stderr, "child: %s\n", error.what());
            }
            ::_exit(code);
        }
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool running() {
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
        }
        return pid_ > 0;
    }
    // The exit code, or 128 + the signal that ended it.
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int kill() {
        ::kill(pid_, SIGKILL);
        return wait();
    }

private:
    pid_t pid_ = -1;
};

// Both ends of a pipe, closed when it goes: end 0 reads, end 1 writes.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (::pipe(fd) != 0) {
            throw std::runtime_error("pipe");
        }
    }
    ~Pipe() { close(0), close(1); }
    void close(int end) {
        if (fd[end] >= 0) {
            ::close(fd[end]);
            fd[end] = -1;
        }
    }
};

// Takes the write lock a wineserver holds on its lock file for its whole life; as `user`, when
// given, once the file is open.
bool takeServerLock(const fs::path& file, uid_t user = ::getuid()) {
    const int fd = ::open(file.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;
    return fd >= 0 && (user == ::getuid() || (::setgid(user) == 0 && ::setuid(user) == 0)) &&
           ::fcntl(fd, F_SETLK, &lock) == 0;
}

// Everything in a directory, by name, to show that nothing was written there.
std::map<std::string, std::string> snapshot(const fs::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        files[entry.path().filename().string()] =
            entry.is_regular_file() ? readFile(entry.path()) : "<not a file>";
    }
    return files;
}

// A child that acknowledges every value once setValue has returned: from then on it is meant
// to be on disk, so SIGKILL at any moment must not lose it.
TEST(HiveStoreFaultTest, KilledWriterLosesNoAcknowledgedValue) {
    TempDir dir;
    { HiveStore created(dir.path(), HiveStore::Creation::CreateIfMissing); }

    std::vector<std::pair<std::string, std::uint32_t>> acknowledged;
    // Several rounds, killed after different times, and each round opens what the killed writer
    // before it left behind.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const auto prefix = "r" + std::to_string(round) + "v";
        Pipe acks;
        Child writer([&] {
            acks.close(0);
            HiveStore store(dir.path());
            KeyHandle key = 0;
            if (store.createKey(kLocalMachine, kKeyPath, key) != kSuccess) {
                return 1;
            }
            for (std::uint32_t i = 0;; ++i) {
                if (set(store, key, prefix + std::to_string(i), dword(i)) != kSuccess) {
                    std::fprintf(stderr, "write %u: %s\n", i, store.lastFailure().c_str());
                    return 2;
                }
                if (::write(acks.fd[1], &i, sizeof i) != sizeof i) {
                    return 3;
                }
            }
        });
        acks.close(1);

        const auto receive = [&] {
            std::uint32_t i = 0;
            const bool got = ::read(acks.fd[0], &i, sizeof i) == sizeof i;
            if (got) {
                acknowledged.emplace_back(prefix + std::to_string(i), i);
            }
            return got;
        };
        // The clock starts at the first acknowledgement, so that a slow start on a busy machine
        // does not end a round before it wrote anything.
        ASSERT_TRUE(receive()) << "the writer stored nothing, exit " << writer.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(10 + 30 * round));
        ASSERT_EQ(writer.kill(), 128 + SIGKILL) << "the writer stopped by itself";
        while (receive()) {
        }
    }

    HiveStore reopened(dir.path());
    for (const auto& [name, value] : acknowledged) {
        ASSERT_EQ(stored(reopened, kLocalMachine, kKeyPath, name), dword(value)) << name;
    }
}

TEST(HiveStoreFaultTest, TwoProcessesWritingAtOnceLoseNoUpdate) {
    TempDir dir;
    { HiveStore created(dir.path(), HiveStore::Creation::CreateIfMissing); }
    constexpr int kPerWriter = 500;
    Pipe start;  // writers go when it closes, so that their writes interleave
    auto writer = [&](char id) {
        return [&, id] {
            start.close(1);
            HiveStore store(dir.path());
            KeyHandle key = 0;
            if (store.createKey(kLocalMachine, kKeyPath, key) != kSuccess) {
                return 1;
            }
            char ignored;
            if (::read(start.fd[0], &ignored, 1) != 0) {
                return 2;
            }
            for (int i = 0; i < kPerWriter; ++i) {
                if (set(store, key, id + std::to_string(i), dword(i)) != kSuccess) {
                    std::fprintf(stderr, "%c%d: %s\n", id, i, store.lastFailure().c_str());
                    return 3;
                }
            }
            return 0;
        };
    };
    Child first(writer('a'));
    Child second(writer('b'));
    start.close(1);
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);

    HiveStore reopened(dir.path());
    int missing = 0;
    for (char id : {'a', 'b'}) {
        for (int i = 0; i < kPerWriter; ++i) {
            missing +=
                stored(reopened, kLocalMachine, kKeyPath, id + std::to_string(i)) != dword(i);
        }
    }
    EXPECT_EQ(missing, 0);
}

// Failures of the user hive's write, injected at each step of the file layer, for both kinds of
// hive file; the machine hive, written after it in the same batch, is stored. The loss is reported
// for the user hive with its cause, that file stays as it was with nothing left beside it, and the
// registry still shows the user hive as it is.
using Step = quorvane::formats::WriteStep;
struct InjectedFault {
    const char* what;
    Hives::Kind kind;
    Step step;
    int error;
    Status status;
    const char* cause;
};

InjectedFault injected;
int locksTaken = 0;
int failUserHive(Step step, const std::string& fileName) {
    if (step != injected.step) {
        return 0;
    }
    // The hive store's lock file serves both hives; user.reg is stored first and takes it first.
    const bool user =
        step == Step::Lock ? locksTaken++ == 0 : fileName == "user.reg" || fileName == "NTUSER.DAT";
    return user ? injected.error : 0;
}

class FailedWrite : public ::testing::TestWithParam<InjectedFault> {
protected:
    ~FailedWrite() override { quorvane::formats::setFaultHook(nullptr); }
};

TEST_P(FailedWrite, LosesOnlyTheUserHiveAndSaysWhy) {
    const Hives hives(GetParam().kind);
    put(*hives.registry(), kCurrentUser, kKeyPath, "Old", dword(1));
    const std::string user = readFile(hives.user());
    const std::set<std::string> names = hives.names();
    const auto registry = hives.registry();
    injected = GetParam();
    locksTaken = 0;
    quorvane::formats::setFaultHook(failUserHive);

    BatchScope batch(*registry);
    put(*registry, kCurrentUser, kKeyPath, "Lost", dword(1));
    put(*registry, kLocalMachine, kKeyPath, "Kept", dword(2));
    const StoreFailures failures = batch.finish();
    quorvane::formats::setFaultHook(nullptr);

    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].root, kCurrentUser);
    EXPECT_EQ(failures[0].status, GetParam().status);
    EXPECT_TRUE(contains(failures[0].reason, GetParam().cause)) << failures[0].reason;
    // The file refused: the user hive, or the lock file beside it.
    const fs::path refused = GetParam().step == Step::Lock
                                 ? hives.user().parent_path() / ".quorvane-lock"
                                 : hives.user();
    EXPECT_TRUE(contains(failures[0].reason, refused.string())) << failures[0].reason;
    EXPECT_EQ(registry->lastFailure(), failures[0].reason) << "cleared by the stored machine hive";
    EXPECT_TRUE(unchanged(hives.user(), user));
    EXPECT_EQ(hives.names(), names) << "nothing left beside the hives";
    EXPECT_EQ(stored(*registry, kCurrentUser, kKeyPath, "Lost"), std::nullopt);
    EXPECT_EQ(stored(*registry, kCurrentUser, kKeyPath, "Old"), dword(1));
    EXPECT_EQ(stored(*hives.registry(), kLocalMachine, kKeyPath, "Kept"), dword(2));
}

constexpr auto kText = Hives::Kind::Text;
constexpr auto kBinary = Hives::Kind::Binary;
// The text hive is written by the file layer, whose own test fails each step: here, what the hive
// store makes of a failure (the same for every step but the lock), and how it tells a refusal
// (EPERM) from another failure.
const InjectedFault kInjectedFaults[] = {
    {"text write EDQUOT", kText, Step::Write, EDQUOT, kRegistryIoFailed, "disk full"},
    {"text rename EPERM", kText, Step::Rename, EPERM, kAccessDenied, "permission denied"},
    {"text lock ENOLCK", kText, Step::Lock, ENOLCK, kRegistryIoFailed, "no locks available"},
    {"binary create ENOSPC", kBinary, Step::Create, ENOSPC, kRegistryIoFailed, "disk full"},
    {"binary write ENOSPC", kBinary, Step::Write, ENOSPC, kRegistryIoFailed, "disk full"},
    {"binary flush EIO", kBinary, Step::Flush, EIO, kRegistryIoFailed, "cannot flush"},
    {"binary rename EIO", kBinary, Step::Rename, EIO, kRegistryIoFailed, "cannot replace"},
    // A refusal of the file system is one of access.
    {"binary read-only mount", kBinary, Step::Create, EROFS, kAccessDenied,
     "read-only file system"},
};
INSTANTIATE_TEST_SUITE_P(Steps, FailedWrite, ::testing::ValuesIn(kInjectedFaults), CaseName());

constexpr Hives::Kind kBothKinds[] = {kText, kBinary};
class BothKinds : public ::testing::TestWithParam<Hives::Kind> {};

// What a killed writer left beside a hive, under Quorvane's own names, goes with the next write,
// not with opening; anything else there (another name, a link) stays.
// Root rewriting a hive gives it back to its owner, whoever owns the folder (a user's hive in
// root's folder, root's own hive in a user's), with its mode and, as Windows keeps it, the time
// it was last read (Wine does not keep that).
TEST_P(BothKinds, TheNextWriteRemovesWhatAKilledWriterLeftAndKeepsTheHivesOwnerAndMode) {
    const Hives hives(GetParam());
    const fs::path folder = hives.user().parent_path();
    const std::string ours = "." + hives.user().filename().string() + ".quorvane-";
    writeFile(folder / (ours + "4242-17"), "half a hive");
    writeFile(folder / (ours + "notes"), "someone's own file");
    fs::create_symlink(hives.software(), folder / (ours + "4242-18"));
    const auto registry = hives.registry();
    EXPECT_TRUE(fs::exists(folder / (ours + "4242-17"))) << "opening only reads";
    put(*registry, kCurrentUser, kKeyPath, "After", dword(1));
    EXPECT_FALSE(fs::exists(folder / (ours + "4242-17")));
    EXPECT_TRUE(fs::exists(folder / (ours + "notes")));
    EXPECT_TRUE(fs::is_symlink(folder / (ours + "4242-18")));
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the owner needs root: the hive must belong to another user";
    }
    for (const auto& [folderOwner, hiveOwner] :
         {std::pair<uid_t, uid_t>{0, kNobody}, std::pair<uid_t, uid_t>{kNobody, 0}}) {
        ASSERT_EQ(::chown(folder.c_str(), folderOwner, folderOwner), 0);
        fs::remove(folder / ".quorvane-lock");  // the lock file of the folder's last owner
        ASSERT_EQ(::chown(hives.user().c_str(), hiveOwner, hiveOwner), 0);
        ASSERT_EQ(::chmod(hives.user().c_str(), 0604), 0);  // no umask gives it
        const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, hives.user().c_str(), times, 0), 0);
        put(*hives.registry(), kCurrentUser, kKeyPath, "Owner", dword(hiveOwner));
        struct stat info {};
        ASSERT_EQ(::stat(hives.user().c_str(), &info), 0);
        EXPECT_EQ(std::pair(info.st_uid, info.st_gid), std::pair(hiveOwner, hiveOwner));
        EXPECT_EQ(info.st_mode & 07777, 0604u);
        EXPECT_GT(info.st_mtim.tv_sec, 1000000000);
        if (GetParam() == kBinary) {
            EXPECT_EQ(info.st_atim.tv_sec, 1000000000);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hives, BothKinds, ::testing::ValuesIn(kBothKinds),
                         [](const auto& info) { return info.param == kText ? "Text" : "Binary"; });

// A prefix laid out as Debian's Wine lays it out, with its server directory under a TMPDIR of
// the test's own, so that a forked child can stand in for the wineserver.
class WineserverLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(prefix_);
        copyFixtureHives(prefix_);
        writeFile(prefix_ / "wineserver", "wine-QvTest1\n");
        struct stat status {};
        ASSERT_EQ(::stat(prefix_.c_str(), &status), 0);
        std::ostringstream serverName;
        serverName << std::hex << "server-" << status.st_dev << '-' << status.st_ino;
        serverName_ = serverName.str();
        lockFile_ = makeLockFile(root_.path() / "tmp");
        otherLockFile_ = makeLockFile(root_.path() / "other");
    }

    // The server's lock file under `tmpdir`, as Wine makes it: the server refuses directories
    // others can enter.
    fs::path makeLockFile(const fs::path& tmpdir) const {
        const fs::path serverDir = tmpdir / "wine-QvTest1" / serverName_;
        fs::create_directories(serverDir);
        fs::permissions(serverDir.parent_path(), fs::perms::owner_all);
        fs::permissions(serverDir, fs::perms::owner_all);
        writeFile(serverDir / "lock", "");
        return serverDir / "lock";
    }

    // Takes the write lock a wineserver holds for its whole life, working in its server
    // directory as a server does, and keeps it until killed.
    std::unique_ptr<Child> startFakeServer(const fs::path& lockFile, uid_t user = ::getuid()) {
        Pipe ready;
        auto server = std::make_unique<Child>([&] {
            if (::chdir(lockFile.parent_path().c_str()) != 0 || !takeServerLock(lockFile, user) ||
                ::write(ready.fd[1], "x", 1) != 1) {
                return 1;
            }
            ::pause();
            return 0;
        });
        ready.close(1);
        char byte;
        if (::read(ready.fd[0], &byte, 1) != 1) {
            ADD_FAILURE() << "the stand-in server did not take the lock";
        }
        return server;
    }

    TempDir root_;
    ScopedEnvironment tmpdir_{"TMPDIR", (root_.path() / "tmp").string()};
    fs::path prefix_ = root_.path() / "prefix";
    std::string serverName_;
    fs::path lockFile_;
    fs::path otherLockFile_;  // where a server started with another TMPDIR takes its lock
};

// The prefix's wineserver file names one folder: a path there is neither followed nor made, and a
// blank file names none.
TEST_F(WineserverLockTest, NoServerIsFoundWhereNoneRunsNorWhereAPathLeads) {
    const auto before = snapshot(root_.path() / "tmp");
    EXPECT_FALSE(findRunningWineserver(prefix_));  // a server directory left behind, unlocked
    EXPECT_FALSE(findRunningWineserver(root_.path() / "no-prefix"));
    for (const char* named : {"../made", "..", " \n"}) {
        writeFile(prefix_ / "wineserver", named);
        EXPECT_FALSE(WineserverStartLock(prefix_).running()) << named;
    }
    fs::remove(prefix_ / "wineserver");
    EXPECT_FALSE(findRunningWineserver(prefix_));
    EXPECT_EQ(snapshot(root_.path() / "tmp"), before);
    for (const char* made : {"no-prefix", "made"}) {
        EXPECT_FALSE(fs::exists(root_.path() / made)) << made;
    }
    EXPECT_FALSE(fs::exists(root_.path() / serverName_));
}

// Anyone may make a directory of a server's name in a shared temporary folder and hold a lock
// there: only a server directory of the prefix's owner counts.
TEST_F(WineserverLockTest, ALockInAServerDirectoryOfAnotherUserIsNoServer) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root: the squatter must be another user";
    }
    for (const fs::path& lockFile : {lockFile_, otherLockFile_}) {
        SCOPED_TRACE(lockFile);
        for (const fs::path& path :
             {lockFile.parent_path().parent_path(), lockFile.parent_path(), lockFile}) {
            ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
        }
        const auto squatter = startFakeServer(lockFile, kNobody);
        EXPECT_FALSE(findRunningWineserver(prefix_));
        HiveStore store(prefix_);
        EXPECT_EQ(write(store, kCurrentUser, kKeyPath, "Squatted", dword(1)), kSuccess)
            << store.lastFailure();
    }
}

// Beside a running server a store that would write is refused, naming the server and how to stop
// it; a command that only reads reads, says once that the server may hold newer changes, and
// writes nothing. The server may also start after the store opened; a write must then be refused
// too, since the server would overwrite it. Where the store's TMPDIR puts the server, and where a
// server started with another TMPDIR runs.
TEST_F(WineserverLockTest, ARunningServerRefusesWritersAndIsNotedByReaders) {
    for (const fs::path& lockFile : {lockFile_, otherLockFile_}) {
        SCOPED_TRACE(lockFile);
        HiveStore store(prefix_);
        KeyHandle key = 0;
        ASSERT_EQ(store.createKey(kCurrentUser, kKeyPath, key), kSuccess);
        ASSERT_EQ(set(store, key, "Read", dword(3)), kSuccess);
        const auto before = snapshot(prefix_);
        const auto server = startFakeServer(lockFile);
        const auto found = findRunningWineserver(prefix_);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->lockFile, lockFile);
        EXPECT_EQ(found->pid, server->pid());
        EXPECT_EQ(set(store, key, "late", dword(1)), kBusy);
        EXPECT_TRUE(contains(store.lastFailure(), std::to_string(server->pid())));
        const std::string refusal = refusalOf([&] { HiveStore{prefix_}; });
        for (const auto& part :
             {prefix_.string(), std::to_string(server->pid()), std::string("wineserver -k")}) {
            EXPECT_TRUE(contains(refusal, part)) << refusal;
        }
        HiveStore reader(prefix_, HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly);
        if (lockFile == lockFile_) {  // a reader looks only in Wine's own places
            EXPECT_TRUE(contains(reader.readingNote(), "(process " + std::to_string(server->pid()) +
                                                           ") is running for the Wine prefix " +
                                                           prefix_.string() +
                                                           "; it may hold changes newer than"));
        }
        EXPECT_EQ(stored(reader, kCurrentUser, kKeyPath, "Read"), dword(3));
        EXPECT_EQ(write(reader, kCurrentUser, kKeyPath, "Written", dword(1)), kAccessDenied);
        EXPECT_TRUE(contains(reader.lastFailure(), "opened for reading only"))
            << reader.lastFailure();
        EXPECT_EQ(snapshot(prefix_), before);
        server->kill();
        EXPECT_TRUE(HiveStore(prefix_, HiveStore::Creation::UseExisting, HiveStore::Use::ReadOnly)
                        .readingNote()
                        .empty());
        EXPECT_EQ(set(store, key, "late", dword(1)), kSuccess);
        ASSERT_EQ(store.deleteValue(key, "late"), kSuccess);
    }
}

// While the store writes, a wineserver must not be able to start, yet other Quorvane processes
// must not take the store's hold for a running server.
// A server the store cannot hold off (one under another TMPDIR) that starts while a hive is
// written may have read the old hive: the write must not count as done.
std::function<void()> duringRename;

TEST_F(WineserverLockTest, AServerStartedDuringAWriteMakesItCountAsFailed) {
    HiveStore store(prefix_);
    KeyHandle key = 0;
    ASSERT_EQ(store.createKey(kCurrentUser, kKeyPath, key), kSuccess);
    std::unique_ptr<Child> server;
    duringRename = [&] { server = startFakeServer(otherLockFile_); };
    quorvane::formats::setFaultHook([](quorvane::formats::WriteStep step, const std::string&) {
        if (step == quorvane::formats::WriteStep::Rename && duringRename) {
            std::exchange(duringRename, nullptr)();
        }
        return 0;
    });
    const Status status = set(store, key, "raced", dword(1));
    quorvane::formats::setFaultHook(nullptr);
    ASSERT_TRUE(server);
    EXPECT_EQ(status, kBusy);
    EXPECT_TRUE(contains(store.lastFailure(),
                         "started for this prefix (pid " + std::to_string(server->pid())));
}

// Also when no server ran since the machine started, or the prefix was moved: then the lock file
// does not exist yet, and the hold makes it as the server would.
TEST_F(WineserverLockTest, StartLockKeepsServersOutButNotOtherStores) {
    for (const bool lockFileExists : {true, false}) {
        SCOPED_TRACE(lockFileExists ? "lock file there" : "no lock file yet");
        if (!lockFileExists) {
            fs::remove_all(root_.path() / "tmp" / "wine-QvTest1");
        }
        WineserverStartLock hold(prefix_);
        ASSERT_FALSE(hold.running());
        if (!lockFileExists) {
            struct stat lock {};
            ASSERT_EQ(::stat(lockFile_.c_str(), &lock), 0);
            EXPECT_EQ(lock.st_mode & 07777, 0600u);
            EXPECT_EQ(fs::status(lockFile_.parent_path()).permissions(), fs::perms::owner_all);
            struct stat prefix {};
            ASSERT_EQ(::stat(prefix_.c_str(), &prefix), 0);
            EXPECT_EQ(lock.st_uid, prefix.st_uid) << "the server's, who owns the prefix";
        }
        Child other([&] {
            if (takeServerLock(lockFile_)) {
                return 1;  // a server could start
            }
            return findRunningWineserver(prefix_) ? 2 : 0;
        });
        EXPECT_EQ(other.wait(), 0) << "1: a server could start, 2: the hold looked like a server";
    }
    const auto server = startFakeServer(lockFile_);
    WineserverStartLock refused(prefix_);
    ASSERT_TRUE(refused.running());
    EXPECT_EQ(refused.running()->pid, server->pid());
}

}  // namespace

namespace {

// Real Wine beside the store: `wine reg add` starts a wineserver, which loads user.reg, changes
// it and writes all of it back when it exits. Meanwhile the store writes into user.reg as fast
// as it can. Every write the store reports as done must be in the file once the last server
// exited. Rounds alternate: the server's lock file left from the round before, or none yet (as
// after a reboot or for a moved prefix); every fourth round the server runs under another
// TMPDIR, where the store cannot hold it off and must notice it instead.
int stressRounds() {
    const char* rounds = std::getenv("QUORVANE_STRESS_ROUNDS");
    return rounds != nullptr ? std::atoi(rounds) : 200;
}

TEST(WineserverStress, NoWriteReportedAsDoneIsLostToAStartingServer) {
    if (std::system("command -v wine >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "Wine is not installed";
    }
    WinePrefix wine;  // its TMPDIR is the store's
    ASSERT_TRUE(wine.booted()) << wine.bootLog();
    const fs::path prefix = wine.path();
    const fs::path tmp = std::getenv("TMPDIR");
    TempDir otherTmp;
    const auto underTmp = [&](const fs::path& tmpdir, const std::string& command) {
        return wine.run("TMPDIR='" + tmpdir.string() + "' " + command);
    };
    const std::string serverRoot = readFile(prefix / "wineserver");
    {
        HiveStore store(prefix);
        KeyHandle key = 0;
        ASSERT_EQ(store.createKey(kCurrentUser, kKeyPath, key), kSuccess);
    }

    std::vector<std::string> done;
    int refused = 0;
    for (int round = 0; round < stressRounds(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const fs::path serverTmp = round % 4 == 3 ? otherTmp.path() : tmp;
        if (round % 2 == 1) {
            fs::remove_all(serverTmp / serverRoot);
        }
        HiveStore store(prefix);
        KeyHandle key = 0;
        ASSERT_EQ(store.createKey(kCurrentUser, kKeyPath, key), kSuccess);
        const std::string command = "wine reg add 'HKCU\\" + std::string(kKeyPath) + "' /v w" +
                                    std::to_string(round) + " /d x /f";
        Child client([&] { return underTmp(serverTmp, command); });
        for (int i = 0; client.running(); ++i) {
            const std::string name = "r" + std::to_string(round) + "-" + std::to_string(i);
            if (set(store, key, name, dword(i)) == kSuccess) {
                done.push_back(name);
            } else {
                ++refused;
            }
            // Paced, so that the starting server finds the lock free now and then, as it
            // would beside a person using Quorvane.
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + i * 7 % 23));
        }
        underTmp(serverTmp, "wineserver -k");
        underTmp(serverTmp, "wineserver -w");
    }

    HiveStore reopened(prefix);
    std::vector<std::string> lost;
    for (const auto& name : done) {
        if (!stored(reopened, kCurrentUser, kKeyPath, name)) {
            lost.push_back(name);
        }
    }
    std::printf("%d rounds: %zu writes done, %d refused, %zu lost\n", stressRounds(), done.size(),
                refused, lost.size());
    EXPECT_TRUE(lost.empty()) << lost.size() << " lost, the first " << lost.front();
    EXPECT_GT(done.size(), static_cast<std::size_t>(stressRounds())) << "too few writes to judge";
}

}  // namespace
