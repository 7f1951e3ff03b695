// Detection, switching, remove-all and the page reset on the registry each build has (hive store
// natively, Win32 under Wine), checked by what the registry holds afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "restrictions/failure_mode.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/registry_target.h"

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

// Only positive DWORD data in the per-user hive puts a restriction in force; the in-force case is
// the next test's.
TEST_F(RestrictionsTest, DetectionLeavesRowsWithoutPositivePerUserDataAlone) {
    const struct {
        const char* what;
        const char* subKey;
        const char* name;
        std::optional<Stored> user;
        std::optional<Stored> machine;
    } cases[] = {
        {"data 0", kToolbarsKey, "NoToolbarOptions", dword(0), dword(1)},
        {"data -1", kSystemKey, "DisableRegistryTools", dword(0xFFFFFFFF), std::nullopt},
        {"machine hive only", kRestrictionsKey, "NoNavButtons", std::nullopt, dword(1)},
        {"eight bytes", kToolbarsKey, "NoAddressBar",
         Stored{platform::kRegQword, std::string(8, '\x01')}, std::nullopt},
        {"key missing", kRestrictionsKey, "AlwaysPromptWhenDownload", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
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
}

TEST_F(RestrictionsTest, DetectionRewritesEveryRestrictionFoundInForce) {
    std::vector<std::pair<const char*, const char*>> rows = {{kControlPanelKey, "HomePage"}};
    for (const char* name :
         {"AlwaysPromptWhenDownload", "NoBrowserBars", "NoBrowserClose", "NoBrowserContextMenu",
          "NoBrowserOptions", "NoBrowserSaveAs", "NoFavorites", "NoFileNew", "NoFileOpen",
          "NoFindFiles", "NoNavButtons", "NoOpeninNewWnd", "NoPrinting", "NoSelectDownloadDir",
          "NoTheaterMode", "NoViewSource", "RestGoMenu"}) {
        rows.emplace_back(kRestrictionsKey, name);
    }
    for (const char* name : {"NoToolbarOptions", "NoAddressBar", "NoToolBar", "NoLinksBar"}) {
        rows.emplace_back(kToolbarsKey, name);
    }
    rows.emplace_back(kSystemKey, "DisableRegistryTools");
    for (std::uint32_t i = 0; i < rows.size(); ++i) {
        put(base(), kCurrentUser, rows[i].first, rows[i].second, dword(i + 1));
    }
    put(base(), kLocalMachine, kControlPanelKey, "HomePage", dword(7));
    put(base(), kLocalMachine, kMainKey, "Window Title", sz("Kiosk"));

    rig->manager.RefreshRestrictionStates();

    EXPECT_EQ(rig->checkedBoxes().size(), 24u);
    EXPECT_EQ(marker(), sz("1"));
    for (const auto& [subKey, name] : rows) {
        EXPECT_EQ(value(kCurrentUser, subKey, name), dword(1)) << name;
        EXPECT_EQ(value(kLocalMachine, subKey, name), dword(1)) << name;
    }
    EXPECT_EQ(value(kLocalMachine, kMainKey, "Window Title"), sz("Kiosk"));
    EXPECT_EQ(policyKeysCreated(), kPolicyKeys);  // once, not once per row
}

TEST_F(RestrictionsTest, DetectionChecksTheWindowTitleFromTheMachineHiveOnly) {
    const struct {
        const char* what;
        std::optional<Stored> machine;
        std::optional<Stored> user;
        bool inForce;
    } cases[] = {
        {"a title", sz("Kiosk"), std::nullopt, true},
        {"a title longer than error", sz("Errors"), std::nullopt, true},
        {"error", sz("error"), std::nullopt, false},
        {"ERROR", sz("ERROR"), std::nullopt, false},
        {"eRRor", sz("eRRor"), std::nullopt, false},
        {"empty", sz(""), std::nullopt, false},
        {"255 characters", sz(std::string(255, 't')), std::nullopt, false},
        {"missing", std::nullopt, std::nullopt, false},
        {"per-user title only", std::nullopt, sz("Kiosk"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
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
}

// Refuses creating the machine's toolbar key.
platform::Status refuseToolbarsKey(const RegistryCall& call) {
    return call.kind == RegistryCall::Create && call.key == kLocalMachine &&
                   call.name == kToolbarsKey
               ? platform::kAccessDenied
               : platform::kSuccess;
}

TEST_F(RestrictionsTest, TheMarkerDecidesWhetherThePolicyKeysAreMadeAndSaysOnlyWhatIsTrue) {
    const struct {
        const char* what;
        std::optional<std::string> marker;
        bool makesKeys;
        bool refuseAKey;
        std::optional<Stored> markerAfter;
    } cases[] = {
        {"no marker", std::nullopt, true, false, sz("1")},
        // As a crash or a full disk between the two hive files leaves it: the marker and the
        // per-user keys stored, the machine keys not. Imposing makes the key it needs.
        {"marker 1 without the machine keys", "1", false, false, sz("1")},
        {"marker 0", "0", true, false, sz("1")},
        {"marker with blanks", " 1 ", true, false, sz("1")},
        {"a key that cannot be made", std::nullopt, true, true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
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
}

TEST_F(RestrictionsTest, SwitchingImposesAndLiftsInBothHives) {
    const struct {
        int number;
        const char* subKey;
        const char* name;
    } cases[] = {
        {1, kControlPanelKey, "HomePage"},
        {17, kRestrictionsKey, "NoViewSource"},
        {21, kToolbarsKey, "NoToolBar"},
        {23, kSystemKey, "DisableRegistryTools"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig->boxes.assign(c.number, kChecked);
        for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
            EXPECT_EQ(value(root, c.subKey, c.name), dword(1));
        }
        rig->boxes.assign(c.number, kUnchecked);
        for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
            EXPECT_EQ(value(root, c.subKey, c.name), std::nullopt);
            EXPECT_TRUE(keyExists(base(), root, c.subKey));
        }
    }
    // Row 23 names its key in upper case, and finds the one the set-up made in mixed case.
    int upperCaseWrites = 0;
    for (const RegistryCall& call : rig->recorder.of(RegistryCall::Open)) {
        upperCaseWrites +=
            call.name == "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System" &&
            call.access == platform::kKeyWrite;
    }
    EXPECT_EQ(upperCaseWrites, 2);
    EXPECT_TRUE(rig->messages.shown.empty());
}

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

TEST_F(RestrictionsTest, RemoveAllLiftsEverythingAndSaysSo) {
    const struct {
        const char* what;
        bool registryEditor;
        std::optional<std::string> machineTitle;
        std::optional<std::string> userTitle;
        bool strayValues;
        const char* markerAfter;
        bool keysAfter;
    } cases[] = {
        {"nothing in force", false, std::nullopt, std::nullopt, false, "0", false},
        {"only the registry editor", true, std::nullopt, std::nullopt, true, "1", true},
        {"only the window title", false, "Kiosk", "Kiosk", true, "0", false},
        {"a title whose box is unchecked", false, "error", "Kiosk", true, "0", false},
    };
    const KeyList removedKeys = {
        {kCurrentUser, kRestrictionsKey},  {kCurrentUser, kControlPanelKey},
        {kLocalMachine, kRestrictionsKey}, {kLocalMachine, kControlPanelKey},
        {kLocalMachine, kToolbarsKey},     {kCurrentUser, kToolbarsKey},
    };
    const ShownMessage removed{
        std::string("All Restrictions have been removed!\r\n\r\n") + kStartupHint, 64,
        "Restrictions Removed"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
            if (c.registryEditor) {
                put(base(), root, kSystemKey, "DisableRegistryTools", dword(1));
            }
            const auto& title = root == kCurrentUser ? c.userTitle : c.machineTitle;
            if (title) {
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
        for (const auto& [root, subKey] : removedKeys) {
            EXPECT_EQ(keyExists(base(), root, subKey), c.keysAfter) << subKey;
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
}

TEST_F(RestrictionsTest, PageResetWritesTheDefaultPagesWhereTheMainKeyIs) {
    const struct {
        const char* what;
        std::string vendor;  // empty: the default hosts
        std::string portal;
        std::optional<KeyHandle> missingMainKey;
    } cases[] = {
        {"default hosts", "", "", std::nullopt},
        {"configured hosts", "vendor.example", "portal.example", std::nullopt},
        {"no per-user Main key", "", "", kCurrentUser},
    };
    const ShownMessage restored{
        std::string("Home and/or Search Page has been restored to the originals!\r\n\r\n") +
            kStartupHint,
        64, "Home/Search Page Restored"};
    const ShownMessage notRestored{
        std::string("Home and/or Search Page has not been restored everywhere!\r\n\r\n"
                    "Not done in HKEY_CURRENT_USER (its key does not exist):\r\n"
                    "  set Search Page\r\n  set Start Page\r\n\r\n") +
            kStartupHint,
        48, "Home/Search Page Restored"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
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
            EXPECT_EQ(value(root, kMainKey, "Start Page"),
                      sz(root == kCurrentUser ? portal : home));
        }
        EXPECT_EQ(rig->messages.shown, std::vector{c.missingMainKey ? notRestored : restored});
        EXPECT_EQ(rig->checkedBoxes(), std::vector{1});
        EXPECT_EQ(value(kCurrentUser, kControlPanelKey, "HomePage"), dword(1));
        EXPECT_EQ(marker(), sz("1"));
    }
}

// A registry that refuses part of an action: the action's warning, under the title its success
// text would have, says what was not done, in which hive and why; the boxes show what is there.
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
        EXPECT_NE(shown.text.find(part), std::string::npos) << part << " in " << shown.text;
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
                "Restrictions Removed",
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
        // Load-time detection rewrites what it finds in force.
        Refusal{[](Rig& rig, platform::RegistryApi& registry) {
                    put(registry, kCurrentUser, kRestrictionsKey, "NoViewSource", dword(2));
                    rig.recorder.refuse = RecordingRegistry::deniesWrites(kLocalMachine);
                },
                [](Rig& rig) { rig.manager.RefreshRestrictionStates(); },
                "Quorvane",
                {"Not every change took effect!\r\n\r\n" + kNoMachineAccess +
                 "\r\n  impose NoViewSource"},
                {17}}));

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

TEST(SkipOnFailure, SkipsFailuresOfTheSystemButNotFaultsOfTheProgram) {
    using restrictions::skipOnFailure;
    EXPECT_EQ(skipOnFailure([] { throw std::runtime_error("disk full"); }), "disk full");
    EXPECT_EQ(skipOnFailure([] {}), std::nullopt);
    EXPECT_THROW(skipOnFailure([] { std::vector<int>().at(1); }), std::out_of_range);
    EXPECT_THROW(skipOnFailure([] { throw std::logic_error("no such box"); }), std::logic_error);
}

}  // namespace
}  // namespace quorvane::testing
