// An offline installation on mounts that refuse writes: a read-only mount (as ntfs-3g mounts a
// hibernated Windows) and a full disk. Each case gets a small tmpfs of its own in a private mount
// namespace (a user namespace too when not run as root); where the system allows neither, the
// cases are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/offline_hive_file.h"
#include "platform/offline_registry.h"
#include "tests/support/contains.h"
#include "tests/support/empty_hive.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace quorvane::platform;

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
        const fs::path user = elsewhere_.path() / "NTUSER.DAT";
        writeEmptyHive(elsewhere_.path() / "SOFTWARE");
        writeEmptyHive(user, {.fileName = u"NTUSER.DAT"});
        OfflineHives result{{elsewhere_.path() / "SOFTWARE", "SOFTWARE"},
                            OfflineHive{user, "ann"},
                            elsewhere_.path() / "backups"};
        {
            // In values of one cell each, as Windows keeps values of up to 16 KB.
            OfflineRegistry registry(result);
            for (std::size_t done = 0; done < fill; done += 8000) {
                put(registry, kCurrentUser, fillKey(done / 8000), "Data",
                    {kRegBinary, std::string(std::min<std::size_t>(fill - done, 8000), 'f')});
            }
        }
        fs::copy_file(user, mount_.path() / "NTUSER.DAT");
        result.user->file = mount_.path() / "NTUSER.DAT";
        return result;
    }

    TempDir mount_;
    TempDir elsewhere_;
    bool mounted_ = false;
};

TEST_F(SmallMount, AReadOnlyMountIsRefusedWithTheReason) {
    const OfflineHives installation = hives(1000);
    const std::string before = readFile(installation.user->file);
    ASSERT_EQ(::mount(nullptr, mount_.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);

    OfflineRegistry registry(installation);
    EXPECT_EQ(stored(registry, kCurrentUser, fillKey(0), "Data")->bytes.size(), 1000u);
    EXPECT_EQ(write(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1)),
              kWriteProtected);
    EXPECT_TRUE(contains(registry.lastFailure(), "read-only mount"));
    EXPECT_TRUE(contains(registry.lastFailure(), offline::kShutDownAdvice));
    EXPECT_TRUE(readFile(installation.user->file) == before);
    EXPECT_TRUE(registry.backups().empty());
}

// The new version does not fit beside the old one: the disk fills while hivex writes it.
TEST_F(SmallMount, AFullDiskLeavesTheHiveAsItWasAndSaysSo) {
    const OfflineHives installation = hives(36 * 1024);
    const std::string before = readFile(installation.user->file);

    OfflineRegistry registry(installation);
    EXPECT_EQ(write(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose", dword(1)),
              kRegistryIoFailed);
    EXPECT_TRUE(contains(registry.lastFailure(), "disk full"));
    EXPECT_TRUE(readFile(installation.user->file) == before);
    EXPECT_EQ(std::distance(fs::directory_iterator(mount_.path()), {}), 1)
        << "no new version left behind";
    EXPECT_EQ(stored(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), std::nullopt);
}

}  // namespace
}  // namespace quorvane::testing
