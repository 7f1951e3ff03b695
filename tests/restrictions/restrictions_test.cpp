// Detection, switching, remove-all and the page reset on the registry each build has (hive store
// natively, Win32 under Wine), checked by what the registry holds afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/restrictions/restriction_rig.h"
#include "tests/support/case_name.h"
#include "tests/support/contains.h"
#include "tests/support/registry_target.h"
#include "toolkit/application.h"

namespace quorvane::testing {
namespace {

using platform::kCurrentUser;
using platform::KeyHandle;
using platform::kLocalMachine;
using toolkit::kChecked;
using toolkit::kUnchecked;
using KeyList = std::vector<std::pair<KeyHandle, std::string>>;

// In the order in which they must be made.
const KeyList kPolicyKeys = {
    {kCurrentUser, kRestrictionsKey},  {kCurrentUser, kControlPanelKey},
    {kLocalMachine, kToolbarsKey},     {kLocalMachine, kRestrictionsKey},
    {kLocalMachine, kControlPanelKey}, {kCurrentUser, kToolbarsKey},
    {kCurrentUser, kSystemKey},        {kLocalMachine, kSystemKey},
};

class RestrictionsTest : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }

    // A registry in its starting state and a rig on it.
    void fresh(toolkit::Configuration configuration = {}) {
        rig.reset();
        target.reset();  // the old one's clean-up must not run after the new one's set-up
        target = makeRegistryTarget();
        rig = std::make_unique<Rig>(target->registry(), configuration);
    }

    platform::RegistryApi& base() { return target->registry(); }
    std::optional<Stored> value(KeyHandle root, const std::string& subKey,
                                const std::string& name) {
        return stored(base(), root, subKey, name);
    }
    std::optional<Stored> marker() { return value(kCurrentUser, kPresetsKey, "Keys"); }

    KeyList policyKeysCreated() const {
        KeyList created;
        for (const RegistryCall& call : rig->recorder.of(RegistryCall::Create)) {
            if (call.name != kPresetsKey) {
                created.emplace_back(call.key, call.name);
            }
        }
        return created;
    }

    std::unique_ptr<RegistryTarget> target;
    std::unique_ptr<Rig> rig;
};

template <class Case>
class RestrictionsCase : public RestrictionsTest, public ::testing::WithParamInterface<Case> {};

// Only positive DWORD data in the per-user hive puts a restriction in force; the in-force case is
// the next test's.
struct IgnoredData {
    const char* what;
    const char* subKey;
    const char* name;
    std::optional<Stored> user;
    std::optional<Stored> machine;
};
using DetectionIgnores = RestrictionsCase<IgnoredData>;

TEST_P(DetectionIgnores, RowsWithoutPositivePerUserData) {
    const IgnoredData& c = GetParam();
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        if (const auto& data = root == kCurrentUser ? c.user : c.machine) {
            put(base(), root, c.subKey, c.name, *data);
        }
    }
    rig->manager.RefreshRestrictionStates();
    EXPECT_EQ(rig->checkedBoxes(), std::vector<int>{});
    EXPECT_EQ(rig->recorder.changeRequests(), 0u);
    EXPECT_EQ(value(kCurrentUser, c.subKey, c.name), c.user);
    EXPECT_EQ(value(kLocalMachine, c.subKey, c.name), c.machine);
}

INSTANTIATE_TEST_SUITE_P(
    Data, DetectionIgnores,
    ::testing::Values(
        IgnoredData{"data 0", kToolbarsKey, "NoToolbarOptions", dword(0), dword(1)},
        IgnoredData{"data -1", kSystemKey, "DisableRegistryTools", dword(0xFFFFFFFF), {}},
        IgnoredData{"machine hive only", kRestrictionsKey, "NoNavButtons", {}, dword(1)},
        IgnoredData{"eight bytes",
                    kToolbarsKey,
                    "NoAddressBar",
                    Stored{platform::kRegQword, std::string(8, '\x01')},
                    {}},
        IgnoredData{"key missing", kRestrictionsKey, "AlwaysPromptWhenDownload", {}, {}}),
    CaseName());

// The first and the last row, and one of each other key, in force: all are rewritten into both
// hives, and the policy keys are made once, not once per row.
TEST_F(RestrictionsTest, DetectionRewritesEveryRestrictionFoundInForce) {
    const std::pair<const char*, const char*> rows[] = {{kControlPanelKey, "HomePage"},
                                                        {kRestrictionsKey, "NoViewSource"},
                                                        {kToolbarsKey, "NoToolBar"},
                                                        {kSystemKey, "DisableRegistryTools"}};
    std::uint32_t data = 2;
    for (const auto& [subKey, name] : rows) {
        put(base(), kCurrentUser, subKey, name, dword(data++));
    }
    put(base(), kLocalMachine, kControlPanelKey, "HomePage", dword(7));
    put(base(), kLocalMachine, kMainKey, "Window Title", sz("Kiosk"));

    rig->manager.RefreshRestrictionStates();

    EXPECT_EQ(rig->checkedBoxes(), (std::vector{1, 17, 21, 23, 24}));
    EXPECT_EQ(marker(), sz("1"));
    for (const auto& [subKey, name] : rows) {
        EXPECT_EQ(value(kCurrentUser, subKey, name), dword(1)) << name;
        EXPECT_EQ(value(kLocalMachine, subKey, name), dword(1)) << name;
    }
    EXPECT_EQ(value(kLocalMachine, kMainKey, "Window Title"), sz("Kiosk"));
    EXPECT_EQ(policyKeysCreated(), kPolicyKeys);
}

struct TitleCase {
    const char* what;
    std::optional<Stored> machine;
    std::optional<Stored> user;
    bool inForce;
};
using DetectionOfTheTitle = RestrictionsCase<TitleCase>;

TEST_P(DetectionOfTheTitle, ReadsTheMachineHiveOnly) {
    const TitleCase& c = GetParam();
    if (c.machine) {
        put(base(), kLocalMachine, kMainKey, "Window Title", *c.machine);
    }
    if (c.user) {
        put(base(), kCurrentUser, kMainKey, "Window Title", *c.user);
    }
    rig->manager.RefreshRestrictionStates();
    EXPECT_EQ(rig->checkedBoxes(), c.inForce ? std::vector{24} : std::vector<int>{});
    EXPECT_EQ(rig->recorder.changeRequests(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, DetectionOfTheTitle,
    ::testing::Values(TitleCase{"a title", sz("Kiosk"), {}, true},
                      TitleCase{"a title longer than error", sz("Errors"), {}, true},
                      TitleCase{"error", sz("error"), {}, false},
                      TitleCase{"eRRor mixed case", sz("eRRor"), {}, false},
                      TitleCase{"empty", sz(""), {}, false},
                      TitleCase{"255 characters", sz(std::string(255, 't')), {}, false},
                      TitleCase{"missing", {}, {}, false},
                      TitleCase{"per-user title only", {}, sz("Kiosk"), false}),
    CaseName());

// Refuses creating the machine's toolbar key.
platform::Status refuseToolbarsKey(const RegistryCall& call) {
    return call.kind == RegistryCall::Create && call.key == kLocalMachine &&
                   call.name == kToolbarsKey
               ? platform::kAccessDenied
               : platform::kSuccess;
}

struct MarkerCase {
    const char* what;
    std::optional<std::string> marker;
    bool makesKeys;
    bool refuseAKey;
    std::optional<Stored> markerAfter;
};
using TheMarker = RestrictionsCase<MarkerCase>;

TEST_P(TheMarker, DecidesWhetherThePolicyKeysAreMadeAndSaysOnlyWhatIsTrue) {
    const MarkerCase& c = GetParam();
    if (c.marker) {
        put(base(), kCurrentUser, kPresetsKey, "Keys", sz(*c.marker));
        for (const auto& [root, subKey] : kPolicyKeys) {
            if (root == kCurrentUser) {
                makeKey(base(), root, subKey);
            }
        }
    }
    if (c.refuseAKey) {
        rig->recorder.refuse = refuseToolbarsKey;
    }
    rig->boxes.assign(4, kChecked);
    EXPECT_EQ(marker(), c.markerAfter);
    const KeyList madeByImposing = {{kLocalMachine, kRestrictionsKey}};
    EXPECT_EQ(policyKeysCreated(), c.makesKeys ? kPolicyKeys : madeByImposing);
    EXPECT_EQ(value(kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
    EXPECT_EQ(value(kLocalMachine, kRestrictionsKey, "NoBrowserClose"), dword(1));
    EXPECT_EQ(rig->checkedBoxes(), std::vector{4});
    EXPECT_TRUE(rig->messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Markers, TheMarker,
    ::testing::Values(
        MarkerCase{"no marker", {}, true, false, sz("1")},
        // As a crash or a full disk between the two hive files leaves it: the marker and the
        // per-user keys stored, the machine keys not. Imposing makes the key it needs.
        MarkerCase{"marker 1 without the machine keys", "1", false, false, sz("1")},
        MarkerCase{"marker 0", "0", true, false, sz("1")},
        MarkerCase{"marker with blanks", " 1 ", true, false, sz("1")},
        MarkerCase{"a key that cannot be made", {}, true, true, {}}),
    CaseName());

// The marker lives in the managed registry; a write of it that is refused says so with the
// registry's status, and the switch that could not keep it makes the keys again next time.
TEST_F(RestrictionsTest, AMarkerThatCannotBeKeptIsReportedAndTriedAgain) {
    rig->recorder.refuse = [](const RegistryCall& call) {
        return call.kind == RegistryCall::Set && call.name == "Keys" ? platform::kAccessDenied
                                                                     : platform::kSuccess;
    };
    const Result<void> kept =
        rig->settings.write(toolkit::kApplicationTitle, "Presets", "Keys", "1");
    ASSERT_FALSE(kept);
    EXPECT_EQ(kept.failure().status, platform::kAccessDenied);
    EXPECT_NE(kept.failure().reason.find("Keys"), std::string::npos) << kept.failure().reason;

    rig->boxes.assign(4, kChecked);
    EXPECT_EQ(marker(), std::nullopt);
    EXPECT_EQ(policyKeysCreated(), kPolicyKeys);
    EXPECT_TRUE(rig->messages.shown.empty());

    rig->recorder.refuse = nullptr;
    rig->recorder.calls.clear();
    rig->boxes.assign(4, kUnchecked);
    EXPECT_EQ(marker(), sz("1"));
    EXPECT_EQ(policyKeysCreated(), kPolicyKeys);
    EXPECT_EQ(value(kCurrentUser, kRestrictionsKey, "NoBrowserClose"), std::nullopt);
}

struct SwitchedRow {
    const char* what;
    int number;
    const char* subKey;
};
using Switching = RestrictionsCase<SwitchedRow>;

TEST_P(Switching, ImposesAndLiftsInBothHives) {
    const SwitchedRow& c = GetParam();
    rig->boxes.assign(c.number, kChecked);
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(value(root, c.subKey, c.what), dword(1));
    }
    rig->boxes.assign(c.number, kUnchecked);
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(value(root, c.subKey, c.what), std::nullopt);
        EXPECT_TRUE(keyExists(base(), root, c.subKey));
    }
    EXPECT_TRUE(rig->messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, Switching,
                         ::testing::Values(SwitchedRow{"HomePage", 1, kControlPanelKey},
                                           SwitchedRow{"NoViewSource", 17, kRestrictionsKey},
                                           SwitchedRow{"NoToolBar", 21, kToolbarsKey},
                                           SwitchedRow{"DisableRegistryTools", 23, kSystemKey}),
                         CaseName());

TEST_F(RestrictionsTest, TheWindowTitleIsOnlyEverLifted) {
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        put(base(), root, kMainKey, "Window Title", sz("Kiosk"));
    }
    rig->recorder.calls.clear();
    rig->boxes.assign(24, kChecked);
    EXPECT_EQ(rig->recorder.changeRequests(), 0u);
    rig->boxes.assign(24, kUnchecked);
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(value(root, kMainKey, "Window Title"), std::nullopt);
        EXPECT_TRUE(keyExists(base(), root, kMainKey));
    }
    EXPECT_EQ(policyKeysCreated(), KeyList{});
    EXPECT_EQ(marker(), std::nullopt);
    EXPECT_EQ(rig->events.calls, 0);
}

TEST_F(RestrictionsTest, TheBoxIsReadAfterPendingEventsHaveRun) {
    // Waiting when box 4 is checked: a click on box 9, then one that unchecks box 4 again.
    rig->events.post([&] { rig->boxes.assign(9, kChecked); });
    rig->events.post([&] { rig->boxes.assign(4, kUnchecked); });
    rig->boxes.assign(4, kChecked);

    EXPECT_EQ(rig->checkedBoxes(), std::vector{9});
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(value(root, kRestrictionsKey, "NoFileNew"), dword(1));
        EXPECT_EQ(value(root, kRestrictionsKey, "NoBrowserClose"), std::nullopt);
    }
    for (const RegistryCall& call : rig->recorder.of(RegistryCall::Set)) {
        EXPECT_NE(call.name, "NoBrowserClose");
    }
}

struct RemoveAllCase {
    const char* what;
    std::vector<KeyHandle> registryEditorIn;
    std::optional<std::string> machineTitle;
    std::optional<std::string> userTitle;
    bool strayValues;
    const char* markerAfter;
    bool keysAfter;
};
using RemoveAll = RestrictionsCase<RemoveAllCase>;

TEST_P(RemoveAll, LiftsEverythingAndSaysSo) {
    const RemoveAllCase& c = GetParam();
    const ShownMessage removed{
        std::string("All Restrictions have been removed!\r\n\r\n") + kStartupHint, 64,
        "Restrictions Removed"};
    for (KeyHandle root : c.registryEditorIn) {
        put(base(), root, kSystemKey, "DisableRegistryTools", dword(1));
    }
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        if (const auto& title = root == kCurrentUser ? c.userTitle : c.machineTitle) {
            put(base(), root, kMainKey, "Window Title", sz(*title));
        }
    }
    // Not in force, so they show only whether their keys were emptied.
    if (c.strayValues) {
        put(base(), kCurrentUser, kRestrictionsKey, "NoPrinting", dword(0));
        put(base(), kLocalMachine, kToolbarsKey, "NoLinksBar", dword(0));
    }
    rig->manager.RefreshRestrictionStates();
    rig->manager.RemoveAllRestrictions();

    EXPECT_EQ(rig->messages.shown, std::vector{removed});
    EXPECT_EQ(rig->checkedBoxes(), std::vector<int>{});
    EXPECT_EQ(marker(), sz(c.markerAfter));
    for (const auto& [root, subKey] : kPolicyKeys) {
        if (subKey != kSystemKey) {  // remove-all deletes only its value there
            EXPECT_EQ(keyExists(base(), root, subKey), c.keysAfter) << subKey;
        }
    }
    EXPECT_EQ(value(kCurrentUser, kRestrictionsKey, "NoPrinting"), std::nullopt);
    EXPECT_EQ(value(kLocalMachine, kToolbarsKey, "NoLinksBar"), std::nullopt);
    if (c.strayValues) {
        EXPECT_TRUE(keyExists(base(), kLocalMachine,
                              "Software\\Policies\\Microsoft\\Internet Explorer\\Toolbars"));
    }
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        EXPECT_EQ(value(root, kSystemKey, "DisableRegistryTools"), std::nullopt);
        EXPECT_EQ(value(root, kMainKey, "Window Title"), std::nullopt);
        EXPECT_TRUE(keyExists(base(), root, kMainKey));
    }
    EXPECT_TRUE(keyExists(base(), kLocalMachine, kSystemKey));
}

INSTANTIATE_TEST_SUITE_P(
    States, RemoveAll,
    ::testing::Values(
        RemoveAllCase{"nothing in force", {}, {}, {}, false, "0", false},
        RemoveAllCase{
            "only the registry editor", {kCurrentUser, kLocalMachine}, {}, {}, true, "1", true},
        // Not in force, so no lifting action deletes it: remove-all itself must.
        RemoveAllCase{
            "registry editor in the machine hive only", {kLocalMachine}, {}, {}, false, "0", false},
        RemoveAllCase{"only the window title", {}, "Kiosk", "Kiosk", true, "0", false},
        RemoveAllCase{"a title whose box is unchecked", {}, "error", "Kiosk", true, "0", false}),
    CaseName());

// Each of the eight policy keys holds a restriction in force and another program's value:
// remove-all deletes the key with both, or in the System key Quorvane's value alone, and says so
// only when a read-back finds them gone.
struct StrayCase {
    const char* what;
    KeyHandle root;
    const char* subKey;
    const char* restrictionValue;
};
using RemoveAllWithStray = RestrictionsCase<StrayCase>;

TEST_P(RemoveAllWithStray, EmptiesEveryPolicyKey) {
    const StrayCase& c = GetParam();
    put(base(), c.root, c.subKey, c.restrictionValue, dword(1));
    put(base(), c.root, c.subKey, "Other tool's", dword(1));
    rig->manager.RefreshRestrictionStates();
    const restrictions::Outcome outcome = rig->manager.RemoveAllRestrictions();

    EXPECT_TRUE(outcome.allDone());
    ASSERT_EQ(rig->messages.shown.size(), 1u);
    EXPECT_EQ(rig->messages.shown[0].title, "Restrictions Removed");
    EXPECT_EQ(value(c.root, c.subKey, c.restrictionValue), std::nullopt);
    const bool keyDeleted = std::string(c.subKey) != kSystemKey;
    EXPECT_EQ(value(c.root, c.subKey, "Other tool's").has_value(), !keyDeleted);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RemoveAllWithStray,
    ::testing::Values(
        StrayCase{"user restrictions", kCurrentUser, kRestrictionsKey, "NoPrinting"},
        StrayCase{"user control panel", kCurrentUser, kControlPanelKey, "HomePage"},
        StrayCase{"user toolbars", kCurrentUser, kToolbarsKey, "NoToolBar"},
        StrayCase{"user system", kCurrentUser, kSystemKey, "DisableRegistryTools"},
        StrayCase{"machine restrictions", kLocalMachine, kRestrictionsKey, "NoPrinting"},
        StrayCase{"machine control panel", kLocalMachine, kControlPanelKey, "HomePage"},
        StrayCase{"machine toolbars", kLocalMachine, kToolbarsKey, "NoToolBar"},
        StrayCase{"machine system", kLocalMachine, kSystemKey, "DisableRegistryTools"}),
    CaseName());

struct PageResetCase {
    const char* what;
    std::string vendor;  // empty: the default hosts
    std::string portal;
    std::optional<KeyHandle> missingMainKey;
};
using PageReset = RestrictionsCase<PageResetCase>;

TEST_P(PageReset, WritesTheDefaultPagesWhereTheMainKeyIs) {
    const PageResetCase& c = GetParam();
    const ShownMessage restored{
        std::string("Home and/or Search Page has been restored to the originals!\r\n\r\n") +
            kStartupHint,
        64, "Home/Search Page Restored"};
    const ShownMessage notRestored{
        std::string("Home and/or Search Page has not been restored everywhere!\r\n\r\n"
                    "Not done in HKEY_CURRENT_USER (its key does not exist):\r\n"
                    "  set Search Page\r\n  set Start Page\r\n\r\n") +
            kStartupHint,
        48, "Reset Home/Search Page not complete"};
    toolkit::Configuration configuration;
    if (!c.vendor.empty()) {
        configuration.vendorHost = c.vendor;
        configuration.portalHost = c.portal;
    }
    fresh(configuration);
    const std::string vendor = "http://" + (c.vendor.empty() ? "www.microsoft.com" : c.vendor);
    const std::string portal = "http://" + (c.portal.empty() ? "www.msn.com" : c.portal) + "/";
    const std::string home =
        vendor + "/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}&pver={SUB_PVER}&ar=home";
    put(base(), kCurrentUser, kMainKey, "Start Page", sz("http://old.example/"));
    if (c.missingMainKey) {
        target->removeTree(*c.missingMainKey, kMainKey);
    }
    // The restriction against changing the pages neither stops the reset nor changes.
    rig->boxes.assign(1, kChecked);

    rig->manager.ResetHomeSearchPages();

    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        if (root == c.missingMainKey) {
            EXPECT_FALSE(keyExists(base(), root, kMainKey));
            continue;
        }
        EXPECT_EQ(value(root, kMainKey, "Search Page"),
                  sz(vendor + "/isapi/redir.dll?prd=ie&ar=iesearch"));
        EXPECT_EQ(value(root, kMainKey, "Start Page"), sz(root == kCurrentUser ? portal : home));
    }
    EXPECT_EQ(rig->messages.shown, std::vector{c.missingMainKey ? notRestored : restored});
    EXPECT_EQ(rig->checkedBoxes(), std::vector{1});
    EXPECT_EQ(value(kCurrentUser, kControlPanelKey, "HomePage"), dword(1));
    EXPECT_EQ(marker(), sz("1"));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, PageReset,
    ::testing::Values(PageResetCase{"default hosts", "", "", {}},
                      PageResetCase{"configured hosts", "vendor.example", "portal.example", {}},
                      PageResetCase{"no per-user Main key", "", "", kCurrentUser}),
    CaseName());

// A registry that refuses part of an action: the action's warning, under a warning title, says what
// was not done, in which hive and why; the boxes show what is there.
struct Refusal {
    std::function<void(Rig&, platform::RegistryApi&)> set;  // seeds and injects
    std::function<void(Rig&)> run;
    const char* title;
    std::vector<std::string> inText;  // the first one begins it
    std::vector<int> checkedAfter;
};

class RefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, IsReportedWithWhatWhereAndWhy) {
    const Refusal& c = GetParam();
    const auto target = makeRegistryTarget();
    Rig rig(target->registry());
    c.set(rig, target->registry());

    c.run(rig);

    ASSERT_EQ(rig.messages.shown.size(), 1u);
    const ShownMessage& shown = rig.messages.shown.front();
    EXPECT_EQ(shown.style, toolkit::kExclamation);
    EXPECT_EQ(shown.title, c.title);
    EXPECT_EQ(shown.text.rfind(c.inText.front(), 0), 0u) << shown.text;
    for (const std::string& part : c.inText) {
        EXPECT_TRUE(contains(shown.text, part));
    }
    EXPECT_EQ(rig.checkedBoxes(), c.checkedAfter);
}

const std::string kNoMachineAccess =
    "Not done in HKEY_LOCAL_MACHINE (no write access to HKEY_LOCAL_MACHINE: run Quorvane as "
    "administrator):";

INSTANTIATE_TEST_SUITE_P(
    Actions, RefusalTest,
    ::testing::Values(
        // Remove-all, with the lifting actions it runs nested in it; the machine's title is
        // still there, so its box shows it again.
        Refusal{[](Rig& rig, platform::RegistryApi& registry) {
                    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
                        put(registry, root, kSystemKey, "DisableRegistryTools", dword(1));
                        put(registry, root, kMainKey, "Window Title", sz("Kiosk"));
                    }
                    rig.manager.RefreshRestrictionStates();
                    rig.recorder.refuse = RecordingRegistry::deniesWrites(kLocalMachine);
                },
                [](Rig& rig) { rig.manager.RemoveAllRestrictions(); },
                "Remove all Restrictions not complete",
                {"Not all Restrictions have been removed!\r\n\r\n" + kNoMachineAccess,
                 "\r\n  delete Window Title\r\n", "\r\n  lift DisableRegistryTools\r\n",
                 std::string("\r\n\r\n") + kStartupHint},
                {24}},
        Refusal{[](Rig& rig, platform::RegistryApi&) {
                    rig.recorder.failNextStore = {
                        {kCurrentUser, platform::kBusy, "a wineserver started for this prefix"}};
                },
                [](Rig& rig) { rig.boxes.assign(4, kChecked); },
                "Quorvane",
                {"Not every change took effect!\r\n\r\nNot done in HKEY_CURRENT_USER (a "
                 "wineserver started for this prefix):\r\n  impose NoBrowserClose"},
                {4}},
        // Another program deletes the key between its opening and the write.
        Refusal{[](Rig& rig, platform::RegistryApi&) {
                    rig.recorder.refuse = [](const RegistryCall& call) {
                        return call.kind == RegistryCall::Set ? platform::kKeyDeleted
                                                              : platform::kSuccess;
                    };
                },
                [](Rig& rig) { rig.boxes.assign(4, kChecked); },
                "Quorvane",
                {"Not every change took effect!\r\n\r\nNot done in HKEY_CURRENT_USER and "
                 "HKEY_LOCAL_MACHINE (its key was deleted meanwhile):\r\n  impose NoBrowserClose"},
                {}},
        // A key that holds another one is not deleted, whatever the rights.
        Refusal{[](Rig&, platform::RegistryApi& registry) {
                    makeKey(registry, kCurrentUser, std::string(kRestrictionsKey) + "\\Other");
                },
                [](Rig& rig) { rig.manager.RemoveAllRestrictions(); },
                "Remove all Restrictions not complete",
                {"Not all Restrictions have been removed!\r\n\r\nNot done in HKEY_CURRENT_USER (it "
                 "has sub-keys):\r\n  delete key " +
                 std::string(kRestrictionsKey) + "\r\n\r\n"},
                {}},
        // Load-time detection rewrites what it finds in force; the machine half refused for want
        // of administrator rights is the window's to tell, quietly.
        Refusal{[](Rig& rig, platform::RegistryApi& registry) {
                    put(registry, kCurrentUser, kRestrictionsKey, "NoViewSource", dword(2));
                    rig.recorder.refuse = RecordingRegistry::deniesWrites();
                },
                [](Rig& rig) { rig.manager.RefreshRestrictionStates(); },
                "Quorvane",
                {"Not every change took effect!\r\n\r\nNot done in HKEY_CURRENT_USER (",
                 "\r\n  impose NoViewSource"},
                {17}}));

// A wineserver refuses both hives for the same reason: the warning says it once.
TEST(RefusedInBothHives, ForOneReasonSaysItOnce) {
    const auto target = makeRegistryTarget();
    Rig rig(target->registry());
    const std::string server = "A wineserver (process 42) is running for the Wine prefix /p.";
    rig.recorder.failNextStore = {{kCurrentUser, platform::kBusy, server},
                                  {kLocalMachine, platform::kBusy, server}};

    rig.boxes.assign(4, kChecked);

    ASSERT_EQ(rig.messages.shown.size(), 1u);
    EXPECT_EQ(rig.messages.shown[0].text,
              "Not every change took effect!\r\n\r\nNot done in HKEY_CURRENT_USER and "
              "HKEY_LOCAL_MACHINE (A wineserver (process 42) is running for the Wine prefix /p):"
              "\r\n  impose NoBrowserClose");
}

// The Win32 registry gives no reason of its own: the status is named instead.
TEST(RefusalReason, WithoutOneFromTheRegistryNamesTheStatus) {
    using restrictions::refusalReason;
    EXPECT_EQ(refusalReason(registry::kHiveCurrentUser, platform::kBusy, ""),
              "another program holds the registry");
    EXPECT_EQ(refusalReason(registry::kHiveCurrentUser, platform::kRegistryIoFailed, ""),
              "the registry could not be written");
    EXPECT_EQ(refusalReason(registry::kHiveCurrentUser, 1450, ""), "registry status 1450");
}

// Without administrator rights every start rewrites the restrictions in force; where the machine
// hive holds them already, nothing was refused that mattered.
TEST(RefusedRewrite, OfWhatIsThereAlreadyIsNoRefusal) {
    const auto target = makeRegistryTarget();
    Rig rig(target->registry());
    for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
        put(target->registry(), root, kRestrictionsKey, "NoViewSource", dword(1));
    }
    rig.recorder.refuse = RecordingRegistry::deniesWrites(kLocalMachine);

    EXPECT_TRUE(rig.manager.RefreshRestrictionStates().allDone());

    EXPECT_TRUE(rig.messages.shown.empty());
    EXPECT_EQ(rig.checkedBoxes(), std::vector{17});
}

}  // namespace
}  // namespace quorvane::testing
