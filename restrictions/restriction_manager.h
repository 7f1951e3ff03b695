// Lifting and imposing the restrictions: detection into the check boxes, the switching action of
// each box, the one-time creation of the policy keys, remove-all and the page reset. Every
// top-level operation runs as one registry batch, and what it did is stored before any message
// says so.
#pragma once

#include <string>

#include "platform/registry_api.h"
#include "registry/general2.h"
#include "restrictions/catalogue.h"
#include "toolkit/check_boxes.h"
#include "toolkit/configuration.h"
#include "toolkit/event_pump.h"
#include "toolkit/message_box.h"
#include "toolkit/settings_store.h"

namespace quorvane::restrictions {

// The closing sentence of the remove-all and page-reset messages.
inline constexpr const char* kStartupHint =
    "If after restarting your PC a Restriction returns see the Help file for information about "
    "Startup items";
inline constexpr const char* kMarkerSection = "Presets";
inline constexpr const char* kMarkerKey = "Keys";

struct Services {
    platform::RegistryApi& platform;
    registry::General2& registry;
    toolkit::SettingsStore& settings;
    toolkit::EventPump& events;
    toolkit::MessageBox& messages;
    toolkit::CheckBoxes& boxes;
    toolkit::Configuration configuration;
};

// Whether `restriction` is in force, by the test detection uses: a DWORD restriction read from
// the per-user hive and greater than 0; the window title read from the machine hive, not empty
// and not "error" in any case.
bool isInForce(registry::General2& registry, const Restriction& restriction);

// The three default addresses the page reset writes.
struct DefaultPages {
    std::string search;
    std::string homeRedirect;
    std::string portal;
};
DefaultPages defaultPages(const toolkit::Configuration& configuration);

class RestrictionManager {
public:
    explicit RestrictionManager(Services services);

    // Sets every box to the state found in the registry.
    void RefreshRestrictionStates();
    // Unchecks every box of `form`.
    void clear_Check_controls(toolkit::CheckBoxes& form);
    // Creates the eight policy keys unless the marker says they were created.
    void EnsurePolicyKeys();
    // The click handling of box `number`: imposes or lifts that restriction in both hives.
    void SwitchRestriction(int number);
    void RemoveAllRestrictions();
    void ResetHomeSearchPages();

    // Why the last batch did not reach the registry; empty when it did.
    const std::string& lastStoreFailure() const { return lastStoreFailure_; }

private:
    void impose(const Restriction& restriction);
    void lift(const Restriction& restriction);
    void finishBatch(platform::BatchScope& batch);
    // Shows a closing message once everything done so far is stored, also when this operation
    // runs nested inside another one's batch.
    void showWhenStored(const std::string& text, const char* title);

    Services services_;
    std::string lastStoreFailure_;
};

}  // namespace quorvane::restrictions
