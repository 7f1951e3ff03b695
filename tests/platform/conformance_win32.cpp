#include <windows.h>

#include "platform/win32_registry.h"
#include "tests/platform/registry_conformance.h"

namespace quorvane::testing {

namespace {

// The real registry of the Wine prefix (or Windows machine) the test runs in. The scratch keys
// are cleared before as well as after, so that an aborted earlier run cannot leak into a test.
class Win32Target final : public ConformanceTarget {
public:
    Win32Target() { clear(); }
    ~Win32Target() override { clear(); }

    platform::RegistryApi& registry() override { return registry_; }

private:
    static void clear() {
        RegDeleteTreeA(HKEY_CURRENT_USER, kConformanceKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kConformanceKey);
    }

    platform::Win32Registry registry_;
};

}  // namespace

std::unique_ptr<ConformanceTarget> makeConformanceTarget() {
    return std::make_unique<Win32Target>();
}

}  // namespace quorvane::testing
