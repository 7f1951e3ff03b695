// The diagnosis on the registry each build has: the hive store natively; under Wine the real
// Win32 registry with the computer's own folders (system folder, Startup folders, policy caches)
// found as Windows finds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "diagnosis/diagnosis.h"
#include "restrictions/catalogue.h"
#include "tests/support/fake_toolkit.h"
#include "tests/support/registry_target.h"

namespace quorvane::diagnosis {
namespace {

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kEntry = "QuorvaneRelock";

TEST(DiagnosisOnTheRegistry, FindsARunEntryAndTheStateOfItsRestriction) {
    const auto target = testing::makeRegistryTarget();
    platform::RegistryApi& registry = target->registry();
    testing::put(registry, platform::kCurrentUser, kRunKey, kEntry,
                 testing::sz(testing::relock("NoBrowserClose")));
    testing::put(registry, platform::kCurrentUser, restrictions::kRestrictionsKey, "NoBrowserClose",
                 testing::dword(1));
    testing::RecordingMessageBox messages;
    registry::General2 general(registry, messages);
#ifdef _WIN32
    const Places places = thisComputer();
    ASSERT_FALSE(places.systemFolder.empty()) << places.missing;
    EXPECT_TRUE(std::filesystem::is_directory(places.systemFolder)) << places.systemFolder;
    EXPECT_FALSE(places.startupFolders.empty());
#else
    Places places;
    places.description = "a hive store";
    places.missing = "a hive store of a test has no folders";
#endif

    // The target takes the Run entry away again.
    const Report report = diagnose(registry, general, places, {});
    const auto found = std::find_if(report.returning.begin(), report.returning.end(),
                                    [](const Finding& finding) { return finding.item == kEntry; });
    ASSERT_NE(found, report.returning.end()) << formatReport(report);
    EXPECT_EQ(found->restrictions, std::vector<int>{4});
    EXPECT_EQ(found->where, std::string("HKEY_CURRENT_USER\\") + kRunKey);
    ASSERT_EQ(report.states.size(), 1u) << formatReport(report);
    EXPECT_EQ(report.states[0].number, 4);
    EXPECT_TRUE(report.states[0].inForce);
    ASSERT_TRUE(report.states[0].currentUser);
    EXPECT_EQ(report.states[0].currentUser->describe(), "1");
    EXPECT_FALSE(report.states[0].localMachine);
}

}  // namespace
}  // namespace quorvane::diagnosis
