#include "tests/support/registry_target.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32_registry.h"
#else
#include "platform/hive_store.h"
#include "platform/offline_registry.h"
#include "tests/support/empty_hive.h"
#include "tests/support/temp_dir.h"
#endif

namespace quorvane::testing {

namespace {

#ifdef _WIN32

HKEY toHkey(platform::KeyHandle root) {
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(root))));
}

// The registry of the Wine prefix the test runs in. Cleared before as well as after, so that an
// earlier test that failed half-way cannot leak into the next one.
class Win32Target final : public RegistryTarget {
public:
    Win32Target() {
        clear();
        makeBaselineKeys(registry_);
    }
    ~Win32Target() override { clear(); }

    platform::RegistryApi& registry() override { return registry_; }

    void removeTree(platform::KeyHandle root, const std::string& subKey) override {
        ASSERT_EQ(RegDeleteTreeA(toHkey(root), subKey.c_str()), ERROR_SUCCESS) << subKey;
    }

private:
    static void clear() {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            RegDeleteTreeA(root, "Software\\Policies");
            RegDeleteTreeA(root, "Software\\Quorvane");
            RegDeleteKeyValueA(root, kSystemKey, "DisableRegistryTools");
            for (const char* name : {"Window Title", "Search Page", "Start Page"}) {
                RegDeleteKeyValueA(root, kMainKey, name);
            }
        }
        // A fresh prefix has no per-user System policy key; the policy-key set-up makes one.
        RegDeleteTreeA(HKEY_CURRENT_USER, kSystemKey);
        // Nor per-user startup values: the diagnosis tests put some there.
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    }

    platform::Win32Registry registry_;
};

}  // namespace

std::unique_ptr<RegistryTarget> makeRegistryTarget() {
    return std::make_unique<Win32Target>();
}

std::vector<RegistryKind> registryKinds() {
    return {{"Win32", &makeRegistryTarget}};
}

#else

// Quorvane's own store in a directory of its own: nothing to clean, it goes with the test.
class HiveStoreTarget final : public RegistryTarget {
public:
    HiveStoreTarget() { makeBaselineKeys(store_); }

    platform::RegistryApi& registry() override { return store_; }

    std::unique_ptr<platform::RegistryApi> reopened() override {
        return std::make_unique<platform::HiveStore>(store_.directory(),
                                                     platform::HiveStore::Creation::UseExisting,
                                                     platform::HiveStore::Use::ReadOnly);
    }

private:
    TempDir directory_;
    platform::HiveStore store_{directory_.path() / "registry",
                               platform::HiveStore::Creation::CreateIfMissing};
};

// An offline installation's SOFTWARE and NTUSER.DAT, made empty, with the same baseline keys.
class OfflineTarget final : public RegistryTarget {
public:
    OfflineTarget() { makeBaselineKeys(*registry_); }

    platform::RegistryApi& registry() override { return *registry_; }

    std::unique_ptr<platform::RegistryApi> reopened() override {
        return std::make_unique<platform::OfflineRegistry>(hivesIn(directory_.path()));
    }

private:
    static platform::OfflineHives hivesIn(const std::filesystem::path& directory) {
        return {{directory / "SOFTWARE", "SOFTWARE"},
                platform::OfflineHive{directory / "NTUSER.DAT", "user"},
                directory / "backups"};
    }
    static platform::OfflineHives emptyHives(const std::filesystem::path& directory) {
        writeEmptyHive(directory / "SOFTWARE");
        writeEmptyHive(directory / "NTUSER.DAT", {.fileName = u"NTUSER.DAT"});
        return hivesIn(directory);
    }

    TempDir directory_;
    std::unique_ptr<platform::OfflineRegistry> registry_ =
        std::make_unique<platform::OfflineRegistry>(emptyHives(directory_.path()));
};

}  // namespace

std::unique_ptr<RegistryTarget> makeRegistryTarget() {
    return std::make_unique<HiveStoreTarget>();
}

std::vector<RegistryKind> registryKinds() {
    return {{"HiveStore", &makeRegistryTarget},
            {"OfflineHives", [] { return std::unique_ptr<RegistryTarget>(new OfflineTarget()); }}};
}

#endif

}  // namespace quorvane::testing
