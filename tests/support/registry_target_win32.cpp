#include <windows.h>

#include "platform/win32_registry.h"
#include "tests/support/registry_target.h"

namespace quorvane::testing {

namespace {

HKEY toHkey(platform::KeyHandle root) {
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<std::uint32_t>(root))));
}

void deleteValues(HKEY root, const char* subKey, std::initializer_list<const char*> names) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    for (const char* name : names) {
        RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
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
            deleteValues(root, kSystemKey, {"DisableRegistryTools"});
            deleteValues(root, kMainKey, {"Window Title", "Search Page", "Start Page"});
        }
        // A fresh prefix has no per-user System policy key; the policy-key set-up makes one.
        RegDeleteTreeA(HKEY_CURRENT_USER, kSystemKey);
    }

    platform::Win32Registry registry_;
};

}  // namespace

std::unique_ptr<RegistryTarget> makeRegistryTarget() {
    return std::make_unique<Win32Target>();
}

}  // namespace quorvane::testing
