#include "platform/hive_store.h"
#include "tests/support/registry_target.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {

namespace {

// Quorvane's own store in a directory of its own: nothing to clean, it goes with the test.
class HiveStoreTarget final : public RegistryTarget {
public:
    HiveStoreTarget() { makeBaselineKeys(store_); }

    platform::RegistryApi& registry() override { return store_; }

    // The tests' keys in a hive store have no sub-keys: those of a fresh Windows are not there.
    void removeTree(platform::KeyHandle root, const std::string& subKey) override {
        ASSERT_EQ(store_.deleteKey(root, subKey), platform::kSuccess) << subKey;
    }

private:
    TempDir directory_;
    platform::HiveStore store_{directory_.path() / "registry",
                               platform::HiveStore::Creation::CreateIfMissing};
};

}  // namespace

std::unique_ptr<RegistryTarget> makeRegistryTarget() {
    return std::make_unique<HiveStoreTarget>();
}

}  // namespace quorvane::testing
