// What only the hive store can show of the registry module: the store's own words for why an
// operation did not take effect, for a refused change and for a hive file spoilt meanwhile.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/hive_store.h"
#include "registry/general2.h"
#include "tests/support/contains.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/temp_dir.h"

namespace quorvane::testing {
namespace {

using platform::HiveStore;

const std::string kPath = "HKEY_LOCAL_MACHINE\\Software\\Policies\\Quorvane Test";

struct Scene {
    Scene() { EXPECT_TRUE(general.CreateKey(kPath)); }

    TempDir temp;
    HiveStore store{temp.path(), HiveStore::Creation::CreateIfMissing};
    RecordingMessageBox messages;
    registry::General2 general{store, messages};
};

TEST(General2OnHiveStore, RefusalCarriesTheStoresReason) {
    Scene scene;
    HiveStore reading(scene.temp.path(), HiveStore::Creation::UseExisting,
                      HiveStore::Use::ReadOnly);
    registry::General2 general(reading, scene.messages);

    const Result<void> written = general.SetDwordValue(kPath, "v", 1);

    ASSERT_FALSE(written);
    EXPECT_EQ(written.failure().status, platform::kAccessDenied);
    EXPECT_TRUE(contains(written.failure().reason, "opened for reading only"))
        << written.failure().reason;
}

TEST(General2OnHiveStore, SpoiltHiveFileIsNamedInEachFailure) {
    Scene scene;
    std::ofstream(scene.temp.path() / "system.reg") << "not a registry\n";

    const registry::ReadResult read = scene.general.GetDwordValue(kPath, "v");
    const Result<void> written = scene.general.SetDwordValue(kPath, "v", 1);

    EXPECT_EQ(read, registry::ReadResult::error());
    for (const Result<void>& result : {read.status(), written}) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.failure().status, platform::kRegistryIoFailed);
        EXPECT_TRUE(contains(result.failure().reason, "system.reg")) << result.failure().reason;
    }
    EXPECT_TRUE(scene.messages.shown.empty());
}

}  // namespace
}  // namespace quorvane::testing
