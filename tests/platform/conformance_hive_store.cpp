#include "platform/hive_store.h"
#include "tests/platform/registry_conformance.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {

namespace {

// Quorvane's own store, made on first use in a directory that does not exist yet.
class HiveStoreTarget final : public ConformanceTarget {
public:
    platform::RegistryApi& registry() override { return store_; }

private:
    TempDir directory_;
    platform::HiveStore store_{directory_.path() / "registry",
                               platform::HiveStore::Creation::CreateIfMissing};
};

}  // namespace

std::unique_ptr<ConformanceTarget> makeConformanceTarget() {
    return std::make_unique<HiveStoreTarget>();
}

}  // namespace quorvane::testing
