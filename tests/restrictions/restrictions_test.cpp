// Detection, switching, remove-all and the page reset on the registry each build has (hive store
// natively, Win32 under Wine), checked by what the registry holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/little_endian.h"
#include "tests/restrictions/restriction_rig.h"
#include "tests/support/contains.h"
#include "tests/support/property.h"
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

KeyList policyKeysCreated(const Rig& rig) {
    KeyList created;
    for (const RegistryCall& call : rig.recorder.of(RegistryCall::Create)) {
        if (call.name != kPresetsKey) {
            created.emplace_back(call.key, call.name);
        }
    }
    return created;
}

// Values a registry may hold where a restriction's value lives.
const Stored kDrawnData[] = {dword(0),
                             dword(1),
                             dword(7),
                             dword(0x7FFFFFFF),
                             dword(0x80000000),
                             dword(0xFFFFFFFF),
                             Stored{platform::kRegQword, std::string(8, '\1')},
                             sz("Kiosk"),
                             sz("Errors"),
                             sz("error"),
                             sz("eRRor"),
                             sz(""),
                             sz(std::string(254, 't')),
                             sz(std::string(255, 't'))};

struct Seeded {
    KeyHandle root;
    int row;  // 0 to 23, the restriction's index in the catalogue
    Stored value;
};

Seeded drawSeeded(const Pick& pick) {
    const int row = pick(4) == 0 ? 23 : pick(23);  // the title often: it has rules of its own
    // Restriction values as tools write them: numbers for the DWORD rows, texts for the title.
    const int first = row == 23 ? 7 : 0;
    return {pick(2) == 0 ? kCurrentUser : kLocalMachine, row, kDrawnData[first + pick(7)]};
}

// A DWORD restriction is in force when the per-user hive holds a number above 0; the title when
// the machine hive holds one that is not empty, not "error" in any case, and shorter than 255.
bool inForce(const std::map<std::pair<KeyHandle, int>, Stored>& held, int row) {
    const auto value = held.find({row == 23 ? kLocalMachine : kCurrentUser, row});
    if (value == held.end()) {
        return false;
    }
    const std::string& bytes = value->second.bytes;
    if (row == 23) {
        std::string text = bytes.substr(0, bytes.size() - 1);
        std::transform(text.begin(), text.end(), text.begin(), ::tolower);
        return !text.empty() && text.size() < 255 && text != "error";
    }
    return value->second.type == platform::kRegDword &&
           static_cast<std::int32_t>(*formats::readDword(bytes)) > 0;
}

// Refuses creating the machine's toolbar key.
platform::Status refuseToolbarsKey(const RegistryCall& call) {
    return call.kind == RegistryCall::Create && call.key == kLocalMachine &&
                   call.name == kToolbarsKey
               ? platform::kAccessDenied
               : platform::kSuccess;
}

// Refuses writing the marker.
platform::Status refuseMarker(const RegistryCall& call) {
    return call.kind == RegistryCall::Set && call.name == "Keys" ? platform::kAccessDenied
                                                                 : platform::kSuccess;
}

TEST(Marker, DecidesWhetherThePolicyKeysAreMadeAndSaysOnlyWhatIsTrue) {
    const struct {
        const char* what;
        std::optional<std::string> marker;
        bool makesKeys;
        platform::Status (*refuse)(const RegistryCall&);
        std::optional<Stored> markerAfter;
    } cases[] = {
        {"no marker", {}, true, nullptr, sz("1")},
        // As a crash or a full disk between the two hive files leaves it: the marker and the
        // per-user keys stored, the machine keys not. Imposing makes the key it needs.
        {"marker 1 without the machine keys", "1", false, nullptr, sz("1")},
        {"marker 0", "0", true, nullptr, sz("1")},
        {"marker with blanks", " 1 ", true, nullptr, sz("1")},
        {"a key that cannot be made", {}, true, refuseToolbarsKey, {}},
        {"a marker that cannot be kept", {}, true, refuseMarker, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto target = makeRegistryTarget();
        platform::RegistryApi& registry = target->registry();
        Rig rig(registry);
        if (c.marker) {
            put(registry, kCurrentUser, kPresetsKey, "Keys", sz(*c.marker));
            for (const auto& [root, subKey] : kPolicyKeys) {
                if (root == kCurrentUser) {
                    makeKey(registry, root, subKey);
                }
            }
        }
        rig.recorder.refuse = c.refuse;
        rig.boxes.assign(4, kChecked);
        EXPECT_EQ(stored(registry, kCurrentUser, kPresetsKey, "Keys"), c.markerAfter);
        const KeyList madeByImposing = {{kLocalMachine, kRestrictionsKey}};
        EXPECT_EQ(policyKeysCreated(rig), c.makesKeys ? kPolicyKeys : madeByImposing);
        EXPECT_EQ(stored(registry, kCurrentUser, kRestrictionsKey, "NoBrowserClose"), dword(1));
        EXPECT_EQ(stored(registry, kLocalMachine, kRestrictionsKey, "NoBrowserClose"), dword(1));
        EXPECT_EQ(rig.checkedBoxes(), std::vector{4});
        EXPECT_TRUE(rig.messages.shown.empty());
        if (!c.markerAfter) {
            // Without its marker, the next switch makes the keys again and keeps it.
            rig.recorder.refuse = nullptr;
            rig.recorder.calls.clear();
            rig.boxes.assign(4, kUnchecked);
            EXPECT_EQ(stored(registry, kCurrentUser, kPresetsKey, "Keys"), sz("1"));
            EXPECT_EQ(policyKeysCreated(rig), kPolicyKeys);
        }
    }
}

// Any clicks on the boxes: each DWORD restriction whose box ends checked is 1 in both hives,
// every other one is in neither (its key stays); the title, there in both hives at first, is only
// ever lifted, when its box goes from checked to unchecked.
TEST(Switching, BothHivesHoldWhatTheBoxesShow) {
    using Click = std::pair<int, int>;  // box, state
    checkListProperty<Click>(
        12,
        [](const Pick& pick) {
            return Click{1 + pick(24), pick(2)};
        },
        [](const std::vector<Click>& clicks) {
            const auto target = makeRegistryTarget();
            putInBoth(target->registry(), kMainKey, "Window Title", sz("Kiosk"));
            Rig rig(target->registry());
            bool titleLifted = false;
            bool imposed = false;  // the policy keys are made at the first imposing
            for (const auto& [box, state] : clicks) {
                imposed = imposed || (box < 24 && state == kChecked);
                titleLifted = titleLifted ||
                              (box == 24 && state == kUnchecked && rig.boxes.state(24) == kChecked);
                rig.boxes.assign(box, state);
            }
            std::string wrong;
            for (const auto& restriction : restrictions::kCatalogue) {
                const bool checked = rig.boxes.state(restriction.number) == kChecked;
                const auto want = restriction.number == 24
                                      ? (titleLifted ? std::nullopt : std::optional(sz("Kiosk")))
                                  : checked ? std::optional(dword(1))
                                            : std::nullopt;
                for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
                    if (stored(target->registry(), root, restriction.subKey,
                               restriction.valueName) != want ||
                        (imposed && !keyExists(target->registry(), root, restriction.subKey))) {
                        wrong += std::string(" ") + restriction.valueName;
                    }
                }
            }
            return wrong.empty() && rig.messages.shown.empty()
                       ? std::optional<std::string>()
                       : std::optional<std::string>("wrong:" + wrong);
        });
}

// Any values where the restrictions live, and another program's values beside them. At load the
// boxes show those in force, each is written as 1 into both hives (the policy keys made once, in
// order), and nothing else changes. Then remove-all leaves no restriction in either hive, deletes
// the other values with their policy keys (in the System and browser keys it deletes Quorvane's
// values alone), unchecks every box, and says so. Lifting a restriction that was in force (the
// registry editor's too) makes the policy keys again, and the marker says whether they are there.
TEST(DetectionThenRemoveAll, ShowWhatIsInForceThenLeaveNoneAndSaySo) {
    const ShownMessage removed{
        std::string("All Restrictions have been removed!\r\n\r\n") + kStartupHint, 64,
        "Restrictions Removed"};
    checkListProperty<std::pair<Seeded, bool>>(
        8, [](const Pick& pick) { return std::pair(drawSeeded(pick), pick(3) == 0); },
        [&](const std::vector<std::pair<Seeded, bool>>& seeds) {
            const auto target = makeRegistryTarget();
            std::map<std::pair<KeyHandle, int>, Stored> held;
            for (const auto& [seed, other] : seeds) {
                const auto& restriction = restrictions::kCatalogue[seed.row];
                put(target->registry(), seed.root, restriction.subKey,
                    other ? "Other tool's" : restriction.valueName, seed.value);
                if (!other) {
                    held[{seed.root, seed.row}] = seed.value;
                }
            }
            Rig rig(target->registry());
            rig.manager.RefreshRestrictionStates();
            std::vector<int> expected;
            std::string wrong;
            const auto check = [&wrong](bool right, const std::string& what) {
                wrong += right ? "" : " " + what;
            };
            for (int row = 0; row < 24; ++row) {
                const auto& restriction = restrictions::kCatalogue[row];
                const bool rewritten = row != 23 && inForce(held, row);
                if (inForce(held, row)) {
                    expected.push_back(row + 1);
                }
                for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
                    const auto was = held.find({root, row});
                    const auto want = rewritten           ? std::optional(dword(1))
                                      : was != held.end() ? std::optional(was->second)
                                                          : std::nullopt;
                    check(stored(target->registry(), root, restriction.subKey,
                                 restriction.valueName) == want,
                          restriction.valueName);
                }
            }
            const KeyList created = policyKeysCreated(rig);
            check(rig.checkedBoxes() == expected,
                  "checked at load " + ::testing::PrintToString(rig.checkedBoxes()));
            check(created.empty() || created == kPolicyKeys, "the policy keys made at load");

            rig.manager.RemoveAllRestrictions();
            for (const auto& [seed, other] : seeds) {
                const auto& restriction = restrictions::kCatalogue[seed.row];
                const bool kept = other && seed.row >= 22;
                check(stored(target->registry(), seed.root, restriction.subKey,
                             other ? "Other tool's" : restriction.valueName)
                              .has_value() == kept,
                      std::string(restriction.valueName) + (other ? " (other)" : ""));
            }
            bool lifted = false;
            for (int row = 0; row < 23; ++row) {
                lifted = lifted || inForce(held, row);
            }
            for (const auto& [root, subKey] : kPolicyKeys) {
                check(subKey == kSystemKey || keyExists(target->registry(), root, subKey) == lifted,
                      "key " + subKey);
            }
            check(stored(target->registry(), kCurrentUser, kPresetsKey, "Keys") ==
                      sz(lifted ? "1" : "0"),
                  "the marker");
            for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
                check(keyExists(target->registry(), root, kMainKey), "the browser's key");
            }
            check(keyExists(target->registry(), kLocalMachine, kSystemKey),
                  "the machine's System key");
            check(rig.messages.shown == std::vector{removed},
                  "shown " + ::testing::PrintToString(rig.messages.shown));
            check(rig.checkedBoxes().empty(),
                  "checked " + ::testing::PrintToString(rig.checkedBoxes()));
            return wrong.empty() ? std::optional<std::string>()
                                 : std::optional<std::string>("wrong:" + wrong);
        });
}

TEST(PageReset, WritesTheDefaultPagesWhereTheMainKeyIs) {
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
    const struct {
        const char* what;
        std::string vendor;  // empty: the default hosts
        std::string portal;
        std::optional<KeyHandle> missingMainKey;
    } cases[] = {{"default hosts", "", "", {}},
                 {"configured hosts", "vendor.example", "portal.example", {}},
                 {"no per-user Main key", "", "", kCurrentUser}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        toolkit::Configuration configuration;
        if (!c.vendor.empty()) {
            configuration.vendorHost = c.vendor;
            configuration.portalHost = c.portal;
        }
        const auto target = makeRegistryTarget();
        platform::RegistryApi& registry = target->registry();
        Rig rig(registry, configuration);
        const std::string vendor = "http://" + (c.vendor.empty() ? "www.microsoft.com" : c.vendor);
        const std::string portal = "http://" + (c.portal.empty() ? "www.msn.com" : c.portal) + "/";
        const std::string home =
            vendor + "/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}&pver={SUB_PVER}&ar=home";
        put(registry, kCurrentUser, kMainKey, "Start Page", sz("http://old.example/"));
        if (c.missingMainKey) {
            target->removeTree(*c.missingMainKey, kMainKey);
        }
        // The restriction against changing the pages neither stops the reset nor changes.
        rig.boxes.assign(1, kChecked);

        rig.manager.ResetHomeSearchPages();

        for (KeyHandle root : {kCurrentUser, kLocalMachine}) {
            if (root == c.missingMainKey) {
                EXPECT_FALSE(keyExists(registry, root, kMainKey));
                continue;
            }
            EXPECT_EQ(stored(registry, root, kMainKey, "Search Page"),
                      sz(vendor + "/isapi/redir.dll?prd=ie&ar=iesearch"));
            EXPECT_EQ(stored(registry, root, kMainKey, "Start Page"),
                      sz(root == kCurrentUser ? portal : home));
        }
        EXPECT_EQ(rig.messages.shown, std::vector{c.missingMainKey ? notRestored : restored});
        EXPECT_EQ(rig.checkedBoxes(), std::vector{1});
        EXPECT_EQ(stored(registry, kCurrentUser, kControlPanelKey, "HomePage"), dword(1));
        EXPECT_EQ(stored(registry, kCurrentUser, kPresetsKey, "Keys"), sz("1"));
    }
}

// A registry that refuses part of an action: the action's warning, under a warning title, says what
// was not done, in which hive and why; the boxes show what is there.
struct Refusal {
    std::function<void(Rig&, platform::RegistryApi&)> set;  // seeds and injects
    std::function<void(Rig&)> run;
    const char* title;
    std::vector<std::string> inText;  // the first one begins it
    std::vector<int> checkedAfter;
};

const std::string kNoMachineAccess =
    "Not done in HKEY_LOCAL_MACHINE (no write access to HKEY_LOCAL_MACHINE: run Quorvane as "
    "administrator):";

TEST(Refusals, AreReportedWithWhatWhereAndWhy) {
    const Refusal cases[] = {
        // Remove-all, with the lifting actions it runs nested in it; the machine's title is
        // still there, so its box shows it again.
        Refusal{[](Rig& rig, platform::RegistryApi& registry) {
                    putInBoth(registry, kSystemKey, "DisableRegistryTools", dword(1));
                    putInBoth(registry, kMainKey, "Window Title", sz("Kiosk"));
                    rig.manager.RefreshRestrictionStates();
                    rig.recorder.refuse = RecordingRegistry::deniesWrites(kLocalMachine);
                },
                [](Rig& rig) { rig.manager.RemoveAllRestrictions(); },
                "Remove all Restrictions not complete",
                {"Not all Restrictions have been removed!\r\n\r\n" + kNoMachineAccess,
                 "\r\n  delete Window Title\r\n", "\r\n  lift DisableRegistryTools\r\n",
                 std::string("\r\n\r\n") + kStartupHint},
                {24}},
        // A wineserver refuses both hives for the same reason: the warning says it once.
        Refusal{[](Rig& rig, platform::RegistryApi&) {
                    const std::string server =
                        "A wineserver (process 42) is running for the Wine prefix /p.";
                    rig.recorder.failNextStore = {{kCurrentUser, platform::kBusy, server},
                                                  {kLocalMachine, platform::kBusy, server}};
                },
                [](Rig& rig) { rig.boxes.assign(4, kChecked); },
                "Quorvane",
                {"Not every change took effect!\r\n\r\nNot done in HKEY_CURRENT_USER and "
                 "HKEY_LOCAL_MACHINE (A wineserver (process 42) is running for the Wine prefix "
                 "/p):\r\n  impose NoBrowserClose"},
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
        // of administrator rights is the window's to tell, quietly. A refused rewrite of what both
        // hives hold already (NoFileNew) refused nothing that mattered: every start without those
        // rights meets it.
        Refusal{[](Rig& rig, platform::RegistryApi& registry) {
                    put(registry, kCurrentUser, kRestrictionsKey, "NoViewSource", dword(2));
                    putInBoth(registry, kRestrictionsKey, "NoFileNew", dword(1));
                    rig.recorder.refuse = RecordingRegistry::deniesWrites();
                },
                [](Rig& rig) { rig.manager.RefreshRestrictionStates(); },
                "Quorvane",
                {"Not every change took effect!\r\n\r\nNot done in HKEY_CURRENT_USER (",
                 "):\r\n  impose NoViewSource"},
                {9, 17}}};
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.inText.front());
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

}  // namespace
}  // namespace quorvane::testing
