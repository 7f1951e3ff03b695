// An offline Windows installation: finding its users beyond ASCII; and no change ever damages a
// hive: unclean hives, pending logs, mounts that refuse writes and failed writes leave the file as
// it was, and say why. That the generated empty hive is clean and whole every test here shows
// (the registry opens no other hive); that two independent readers read it and what is written
// into it, the offline command test shows.
#include "platform/offline_registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <hivex.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "journal/registry_snapshot.h"
#include "platform/hive_io.h"
#include "platform/offline_hive_file.h"
#include "platform/regf_header.h"
#include "platform/windows_installation.h"
#include "tests/platform/platform_rig.h"
#include "tests/support/contains.h"
#include "tests/support/empty_hive.h"
#include "tests/support/fake_installation.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;

const std::string kFarKey = "Software\\Far";

// HKEY_LOCAL_MACHINE\Software is the SOFTWARE hive's root (as the independent readers of the
// command test see it); nothing else of the machine is here.
TEST(OfflineRoots, OnlySoftwareAndTheUserAreThere) {
    Hives hives;
    {
        auto registry = hives.open();
        KeyHandle key = 0;
        for (const auto& [root, subKey] :
             {std::pair{kClassesRoot, ""}, std::pair{kUsers, ".DEFAULT"},
              std::pair{kLocalMachine, "SYSTEM\\CurrentControlSet"},
              std::pair{kCurrentConfig, "Software"}}) {
            EXPECT_EQ(registry->createKey(root, subKey, key), kInvalidHandle) << subKey;
        }
        EXPECT_EQ(registry->deleteKey(kLocalMachine, "Software"), kAccessDenied);
    }
    OfflineHives machineOnly = hives.hives();
    machineOnly.user.reset();
    OfflineRegistry registry(machineOnly);
    KeyHandle key = 0;
    EXPECT_EQ(registry.openKey(kCurrentUser, "Software", kKeyRead, key), kInvalidHandle);
    EXPECT_TRUE(contains(registry.lastFailure(), "NTUSER.DAT"));
}

struct Damage {
    const char* name;
    void (*inflict)(const fs::path& hive);
    const char* reason;
};

class DamagedHive : public ::testing::TestWithParam<Damage> {};

// Damaged after another registry read it whole (as one user's registry starts from what finding
// the installation's users read): the version read before serves no more.
TEST_P(DamagedHive, IsRefusedWithTheFileAndReason) {
    Hives hives;
    OfflineHives given = hives.hives();
    given.software.read = hives.open()->softwareRead();
    GetParam().inflict(hives.software());
    // A second later, as another program's change comes: within one tick of the clock the
    // file's times cannot tell it.
    fs::last_write_time(hives.software(),
                        fs::last_write_time(hives.software()) + std::chrono::seconds(1));
    const std::string refusal = refusalOf([&] { OfflineRegistry{given}; });
    EXPECT_TRUE(contains(refusal, hives.software().string()));
    EXPECT_TRUE(contains(refusal, GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(
    Offline, DamagedHive,
    ::testing::Values(Damage{"ChecksumWrong",
                             [](const fs::path& hive) {
                                 std::string bytes = readFile(hive);
                                 bytes[0x30] ^= 1;
                                 writeFile(hive, bytes);
                             },
                             offline::kNotShutDown},
                      Damage{"RootListOutOfRange",
                             [](const fs::path& hive) {
                                 hive_h* h = hivex_open(hive.c_str(), HIVEX_OPEN_WRITE);
                                 ASSERT_NE(hivex_node_add_child(h, hivex_root(h), "Software"), 0u);
                                 ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
                                 const hive_node_h root = hivex_root(h);
                                 hivex_close(h);
                                 setField(hive, root + 0x20, kOutOfRange);
                             },
                             "is damaged: its root key cannot be read"},
                      Damage{"CutShort", [](const fs::path& hive) { fs::resize_file(hive, 4100); },
                             "cannot be read as a Windows registry hive"},
                      Damage{"NotAHive",
                             [](const fs::path& hive) { writeFile(hive, "REGEDIT4\r\n"); },
                             "cannot be read as a Windows registry hive"},
                      Damage{"Fifo",
                             [](const fs::path& hive) {
                                 fs::remove(hive);
                                 ASSERT_EQ(::mkfifo(hive.c_str(), 0600), 0);
                             },
                             "is not a regular file"}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Operation { SetValue, DeleteValue, ReadBelow, ListValues, KeepForUndo };

struct Harm {
    const char* name;
    void (*inflict)(const fs::path& hive);
    Operation operation;
    Status status;
    const char* reason;
};

class DamagedKey : public ::testing::TestWithParam<Harm> {};

// A hive damaged where hivex would read or free cells: whatever the change, nothing reaches
// hivex's assertions, nothing is dropped, nothing is written, and the reason names the damage.
TEST_P(DamagedKey, IsNamedAndNothingIsWritten) {
    Hives hives;
    {
        auto registry = hives.open();
        BatchScope batch(*registry);
        put(*registry, kCurrentUser, kRestrictionsKey, "Before", dword(1));
        put(*registry, kCurrentUser, kRestrictionsKey, "Neighbour",
            {kRegBinary, std::string(64, 'n')});
        makeKey(*registry, kCurrentUser, std::string(kRestrictionsKey) + "\\Child");
        put(*registry, kCurrentUser, kFarKey, "Far", {kRegBinary, std::string(64, 'f')});
    }
    GetParam().inflict(hives.user());
    const std::string before = readFile(hives.user());
    auto registry = hives.open();
    Status status = kSuccess;
    KeyHandle key = 0;
    switch (GetParam().operation) {
        case Operation::SetValue:
            status = write(*registry, kCurrentUser, kRestrictionsKey, "After", dword(1));
            break;
        case Operation::DeleteValue:
            status = registry->openKey(kCurrentUser, kRestrictionsKey, kKeyAllAccess, key);
            status = status == kSuccess ? registry->deleteValue(key, "Before") : status;
            break;
        case Operation::ReadBelow:
            status = registry->openKey(
                kCurrentUser, std::string(kRestrictionsKey) + "\\Restrictions\\Restrictions",
                kKeyRead, key);
            break;
        case Operation::ListValues:
            status = registry->openKey(kCurrentUser, kRestrictionsKey, kKeyRead, key);
            for (std::uint32_t i = 0; status == kSuccess; ++i) {
                std::string name;
                Stored listed;
                status = registry->enumValue(key, i, name, listed.type, listed.bytes);
            }
            break;
        case Operation::KeepForUndo:
            status = journal::snapshot(*registry,
                                       {registry::kHiveCurrentUser, kRestrictionsKey, std::nullopt})
                         ? kSuccess
                         : kRegistryIoFailed;
            break;
    }
    EXPECT_EQ(status, GetParam().status);
    EXPECT_TRUE(contains(registry->lastFailure(), GetParam().reason)) << registry->lastFailure();
    EXPECT_TRUE(contains(registry->lastFailure(), hives.user().string()));
    EXPECT_TRUE(unchanged(hives.user(), before));
    EXPECT_TRUE(registry->backups().empty());
}

void neighbourOutOfRange(const fs::path& hive) {
    dataOutOfRange(hive, kRestrictionsKey, "Neighbour");
}
void keyListsItself(const fs::path& hive) {
    listItself(hive, kRestrictionsKey);
}

const Harm kHarms[] = {
    {"NeighbourOutOfRange", neighbourOutOfRange, Operation::SetValue, kWriteProtected,
     "\"Neighbour\": its data lies outside"},
    {"DeleteBesideADamagedNeighbour", neighbourOutOfRange, Operation::DeleteValue,
     kRegistryIoFailed, "\"Neighbour\": its data lies outside"},
    {"ListedBesideADamagedNeighbour", neighbourOutOfRange, Operation::ListValues, kRegistryIoFailed,
     "Restrictions (its value \"Neighbour\": its data lies outside"},
    {"DamageOutsideTheKeysTouched",
     [](const fs::path& hive) { dataOutOfRange(hive, kFarKey, "Far"); }, Operation::SetValue,
     kWriteProtected, "the key Software\\Far ("},
    {"KeyListingItself", keyListsItself, Operation::ReadBelow, kRegistryIoFailed, "lists itself"},
    // The undo entry's read of the key with everything below it: a key it cannot read is no
    // missing key.
    {"UndoEntryOfAKeyListingItself", keyListsItself, Operation::KeepForUndo, kRegistryIoFailed,
     "lists itself"},
    {"ALargeNeighbourHivexWouldStoreWrongly",
     [](const fs::path& hive) {
         hive_h* h = hivex_open(hive.c_str(), HIVEX_OPEN_WRITE);
         std::string name = "Large";
         std::string data(20000, 'l');
         const hive_set_value large{name.data(), hive_t_REG_BINARY, data.size(), data.data()};
         ASSERT_EQ(hivex_node_set_value(h, keyOffset(hive, kRestrictionsKey), &large, 0), 0);
         ASSERT_EQ(hivex_commit(h, nullptr, 0), 0);
         hivex_close(h);
     },
     Operation::SetValue, kRegistryIoFailed, "larger than 16 KB"},
};
INSTANTIATE_TEST_SUITE_P(Offline, DamagedKey, ::testing::ValuesIn(kHarms),
                         [](const auto& info) { return std::string(info.param.name); });

// A hive changed by another program after it was read is not written over: replaced (its size
// and time changed), or then damaged in place with its size and time kept, which its inode's
// change time gives away. It is read again as it is now: a key that the other program deleted
// meanwhile is missing, not listed as an empty one.
TEST(OfflineWrite, AHiveChangedAfterItWasReadIsNotOverwritten) {
    Hives hives;
    Hives elsewhere;
    put(*elsewhere.open(), kCurrentUser, kRestrictionsKey, "Theirs", dword(2));
    auto registry = hives.open();
    {
        BatchScope batch(*registry);
        put(*registry, kCurrentUser, kRestrictionsKey, "Mine", dword(1));
        fs::copy_file(elsewhere.user(), hives.user(), fs::copy_options::overwrite_existing);
        const std::string theirs = readFile(hives.user());
        const StoreFailures failures = batch.finish();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].status, kBusy);
        EXPECT_TRUE(contains(failures[0].reason, "changed by another program"));
        EXPECT_TRUE(unchanged(hives.user(), theirs));
    }
    EXPECT_EQ(stored(*registry, kCurrentUser, kRestrictionsKey, "Theirs"), dword(2));
    KeyHandle key = 0;
    ASSERT_EQ(registry->openKey(kCurrentUser, kRestrictionsKey, kKeyRead, key), kSuccess);
    ASSERT_EQ(hives.open()->deleteKey(kCurrentUser, kRestrictionsKey), kSuccess);
    std::string name;
    EXPECT_EQ(registry->enumKey(key, 0, name), kFileNotFound);
    const auto time = fs::last_write_time(hives.user());
    const int fd = ::open(hives.user().c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(fd, "\x55", 1, 0x1FC), 1);  // the header's checksum
    ::close(fd);
    fs::last_write_time(hives.user(), time);
    const std::string damaged = readFile(hives.user());
    EXPECT_EQ(write(*registry, kCurrentUser, kRestrictionsKey, "After", dword(1)),
              kRegistryIoFailed);
    EXPECT_TRUE(contains(registry->lastFailure(), "checksum is wrong")) << registry->lastFailure();
    EXPECT_TRUE(unchanged(hives.user(), damaged));
}

int fillTheDiskForTheUserHive(formats::WriteStep step, const std::string& fileName) {
    return step == formats::WriteStep::Write && fileName == "NTUSER.DAT" ? ENOSPC : 0;
}

// Each session that writes keeps a copy of a hive before its first change. The first copy ever
// (the hive before Quorvane first changed it) stays, and the newest two; a write that fails
// (the disk full) keeps no copy and pushes none out. Beside the hive, non-empty logs newer than
// it, as Windows 8.1 and later leave beside a hive they wrote back completely: a clean hive's
// header says it holds everything, whatever the logs' times, and it is written. (One that Windows
// did not write back is never written: the offline command test's unclean hives.) A session's
// second change is made by a batch still open when the registry goes: it is stored then, not lost.
TEST(OfflineWrite, KeepsTheFirstAndTheNewestTwoCopiesAndNoneOfAFailedWrite) {
    Hives hives;
    for (const char* log : {".LOG1", ".log2"}) {
        const fs::path file = hives.user().string() + log;
        writeFile(file, "log");
        fs::last_write_time(file, fs::last_write_time(hives.user()) + std::chrono::seconds(60));
    }
    // The copy of another user whose name begins with this one's stays.
    const fs::path others = hives.backups() / "ann-x-20000101T000000.000000000Z.hive";
    fs::create_directories(hives.backups());
    writeFile(others, "another user's copy");
    std::vector<std::string> written;  // the hive before each session that wrote
    for (int session = 0; session < 7; ++session) {
        const bool fails = session >= 1 && session <= 3;
        const std::string before = readFile(hives.user());
        formats::setFaultHook(fails ? fillTheDiskForTheUserHive : nullptr);
        auto registry = hives.open();
        EXPECT_EQ(write(*registry, kCurrentUser, kRestrictionsKey, "Session", dword(session)),
                  fails ? kRegistryIoFailed : kSuccess);
        formats::setFaultHook(nullptr);
        if (!fails) {
            registry->beginBatch();
            put(*registry, kCurrentUser, kRestrictionsKey, "Again", dword(session));
        }
        ASSERT_EQ(registry->backups().size(), fails ? 0u : 1u) << "one copy per hive and session";
        if (!fails) {
            written.push_back(before);
        }
    }
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(hives.backups())) {
        if (entry.path() != others) {
            copies.push_back(entry.path());
        }
    }
    std::sort(copies.begin(), copies.end());
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_TRUE(unchanged(copies[0], written.front())) << "the hive before the first change";
    EXPECT_TRUE(unchanged(copies[1], written[written.size() - 2]));
    EXPECT_TRUE(unchanged(copies[2], written.back()));
    EXPECT_TRUE(fs::exists(others));
    EXPECT_EQ(stored(*hives.open(), kCurrentUser, kRestrictionsKey, "Again"), dword(6));
}

// A hive is read whole into memory of Quorvane's own: cut short while open, or while being
// read, it gives a clear refusal, never a signal; what is read is one whole version.
TEST(OfflineRead, AHiveCutShortWhileOpenOrWhileReadIsRefusedNeverAFault) {
    Hives hives;
    put(*hives.open(), kCurrentUser, kRestrictionsKey, "Before", dword(1));
    const std::string whole = readFile(hives.user());
    {
        auto registry = hives.open();
        fs::resize_file(hives.user(), regf::kBaseBlockSize);
        KeyHandle key = 0;
        EXPECT_EQ(registry->openKey(kCurrentUser, kRestrictionsKey, kKeyRead, key),
                  kRegistryIoFailed);
        EXPECT_TRUE(contains(registry->lastFailure(), hives.user().string()));
        EXPECT_NE(write(*registry, kCurrentUser, kRestrictionsKey, "After", dword(1)), kSuccess);
    }
    std::atomic<bool> stop{false};
    std::thread cutter([&] {
        while (!stop) {
            fs::resize_file(hives.user(), 2 * regf::kBaseBlockSize);
            writeFile(hives.user(), whole);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    int opened = 0;
    for (int round = 0; round < 200; ++round) {
        try {
            OfflineRegistry registry(hives.hives());
            // Read now, or refused naming the file when it changed since.
            const auto value = stored(registry, kCurrentUser, kRestrictionsKey, "Before");
            EXPECT_TRUE(value ? *value == dword(1)
                              : contains(registry.lastFailure(), hives.user().string()));
            ++opened;
        } catch (const StoreError& error) {
            EXPECT_TRUE(contains(error.what(), hives.user().string())) << error.what();
        }
    }
    stop = true;
    cutter.join();
    std::cout << opened << " of 200 opens read a whole version\n";
}

// The new version is written through the descriptor Quorvane made, never by name: a link the
// folder's owner puts at its name once it exists (here right before hivex writes) leads nothing
// elsewhere, and the hive is not replaced.
fs::path victim;
fs::path hiveFolder;
int swapNewVersionForLink(formats::WriteStep step, const std::string& fileName) {
    if (step == formats::WriteStep::Write && fileName == "NTUSER.DAT") {
        for (const auto& entry : fs::directory_iterator(hiveFolder)) {
            if (entry.path().filename().string().starts_with(".NTUSER.DAT.quorvane-")) {
                fs::remove(entry.path());
                fs::create_symlink(victim, entry.path());
            }
        }
    }
    return 0;
}

TEST(OfflineWrite, ALinkPutAtTheNewVersionsNameNeverLeadsTheWriteElsewhere) {
    Hives hives;
    TempDir outside;
    victim = outside.path() / "victim";
    hiveFolder = hives.user().parent_path();
    writeFile(victim, "not a hive");
    const std::string before = readFile(hives.user());
    auto registry = hives.open();
    formats::setFaultHook(swapNewVersionForLink);
    const Status status = write(*registry, kCurrentUser, kRestrictionsKey, "After", dword(1));
    formats::setFaultHook(nullptr);
    EXPECT_EQ(readFile(victim), "not a hive");
    EXPECT_EQ(status, kBusy) << registry->lastFailure();
    EXPECT_TRUE(unchanged(hives.user(), before));
}

// On mounts that refuse writes: a read-only mount (as ntfs-3g mounts a hibernated Windows) and a
// full disk. Each case gets a small tmpfs of its own in a private mount namespace (a user
// namespace too when not run as root); where the system allows neither, the cases are skipped.
bool writeText(const char* file, const std::string& text) {
    std::ofstream out(file);
    return static_cast<bool>(out << text);
}

// A mount namespace of this process's own, so that its mounts are seen by nobody else and go
// with it. ctest runs each case in a process of its own.
bool privateMounts() {
    static const bool done = [] {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (uid != 0) {
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
                !writeText("/proc/self/setgroups", "deny") ||
                !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
                return false;
            }
        } else if (::unshare(CLONE_NEWNS) != 0) {
            return false;
        }
        return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }();
    return done;
}

std::string fillKey(std::size_t number) {
    return std::string(kRestrictionsKey) + "\\Fill" + std::to_string(number);
}

class SmallMount : public ::testing::Test {
protected:
    void SetUp() override {
        if (!privateMounts()) {
            GTEST_SKIP() << "no mount namespace here: " << std::strerror(errno);
        }
        ASSERT_EQ(::mount("tmpfs", mount_.path().c_str(), "tmpfs", 0, "size=64k"), 0)
            << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2(mount_.path().c_str(), MNT_DETACH);
        }
    }

    // The user's hive on the small mount, already holding `fill` bytes of values; SOFTWARE and
    // the backups stay outside it.
    OfflineHives hives(std::size_t fill) {
        {
            // In values of one cell each, as Windows keeps values of up to 16 KB.
            const auto registry = elsewhere_.open();
            for (std::size_t done = 0; done < fill; done += 8000) {
                put(*registry, kCurrentUser, fillKey(done / 8000), "Data",
                    {kRegBinary, std::string(std::min<std::size_t>(fill - done, 8000), 'f')});
            }
        }
        fs::copy_file(elsewhere_.user(), mount_.path() / "NTUSER.DAT");
        OfflineHives result = elsewhere_.hives();
        result.user->file = mount_.path() / "NTUSER.DAT";
        return result;
    }

    TempDir mount_;
    Hives elsewhere_;
    bool mounted_ = false;
};

// The new version does not fit beside the old one: the disk fills while hivex writes it. Then the
// mount is made read-only.
TEST_F(SmallMount, AFullDiskOrAReadOnlyMountLeavesTheHiveAsItWasAndSaysWhy) {
    const OfflineHives installation = hives(36 * 1024);
    const std::string before = readFile(installation.user->file);
    {
        OfflineRegistry registry(installation);
        EXPECT_EQ(write(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1)),
                  kRegistryIoFailed);
        EXPECT_TRUE(contains(registry.lastFailure(), "disk full"));
        EXPECT_TRUE(readFile(installation.user->file) == before);
        EXPECT_EQ(std::distance(fs::directory_iterator(mount_.path()), {}), 1)
            << "no new version left behind";
        EXPECT_EQ(stored(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), std::nullopt);
    }
    ASSERT_EQ(::mount(nullptr, mount_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);
    OfflineRegistry registry(installation);
    EXPECT_EQ(stored(registry, kCurrentUser, fillKey(0), "Data")->bytes.size(), 8000u);
    EXPECT_EQ(write(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1)),
              kWriteProtected);
    EXPECT_TRUE(contains(registry.lastFailure(), "read-only mount"));
    EXPECT_TRUE(contains(registry.lastFailure(), offline::kShutDownAdvice));
    EXPECT_TRUE(readFile(installation.user->file) == before);
    EXPECT_TRUE(registry.backups().empty());
}

// Names compare as Windows compares them, beyond ASCII too: a profile whose registered path
// differs from its folder in a letter's case is found, and two names that differ in a letter
// are two users, each with copies of their own. A profile path may end in a backslash; its last
// folder is still the user's. The fake installation has these profiles in its list too, each a
// folder under Users with a hive.
TEST(WindowsInstallation, ProfileFoldersAreFoundAsWindowsNamesThem) {
    struct Profile {
        const char* sid;
        std::string imagePath;  // the profile's registered path, its NUL included
        const char* folder;
    };
    const Profile profiles[] = {
        {"S-1-5-21-1-2-3-1004", std::string("C:\\Users\\\xC5\x81UKASZ") + '\0', "\xC5\x81ukasz"},
        {"S-1-5-21-1-2-3-1005", std::string("C:\\Users\\\xC5\xBBukasz") + '\0', "\xC5\xBCukasz"},
        {"S-1-5-21-1-2-3-1003", std::string("C:\\Users\\cy\\\0", 13), "cy"}};
    TempDir root;
    const FakeInstallation made = makeFakeInstallation(root.path());
    {
        OfflineRegistry registry({{made.software, "SOFTWARE"}, std::nullopt, root.path() / "b"});
        for (const Profile& profile : profiles) {
            put(registry, kLocalMachine,
                std::string("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
                    profile.sid,
                "ProfileImagePath", {kRegExpandSz, profile.imagePath});
        }
    }
    for (const Profile& profile : profiles) {
        fs::create_directories(root.path() / "users" / profile.folder);
        fs::copy_file(made.ann, root.path() / "users" / profile.folder / "NTUSER.DAT");
    }
    const WindowsInstallation found = findWindowsInstallation(root.path());
    const WindowsUser* lukasz = findUser(found, "\xC5\x82ukasz");
    const WindowsUser* zukasz = findUser(found, "\xC5\xBBUKASZ");
    ASSERT_NE(lukasz, nullptr);
    ASSERT_NE(zukasz, nullptr);
    EXPECT_EQ(lukasz->sid, "S-1-5-21-1-2-3-1004");
    EXPECT_EQ(zukasz->sid, "S-1-5-21-1-2-3-1005");
    EXPECT_NE(hivesOf(found, *lukasz, "b").user->label, hivesOf(found, *zukasz, "b").user->label);
    ASSERT_NE(findUser(found, "cy"), nullptr);
    EXPECT_EQ(findUser(found, "cy")->sid, "S-1-5-21-1-2-3-1003");
}

}  // namespace
}  // namespace quorvane::testing
