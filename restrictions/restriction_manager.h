// Lifting and imposing the restrictions: detection into the check boxes, the switching action of
// each box, the one-time creation of the policy keys, remove-all and the page reset. Every
// top-level operation runs as one registry batch, knows which of its changes took effect, and
// stores what it did before any message says so.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/registry_api.h"
#include "registry/general2.h"
#include "restrictions/catalogue.h"
#include "restrictions/journal.h"
#include "restrictions/outcome.h"
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
    toolkit::SettingsStore& settings;
    toolkit::EventPump& events;
    toolkit::MessageBox& messages;
    toolkit::CheckBoxes& boxes;
    toolkit::Configuration configuration;
    // Where each action keeps the prior state of what it changes; none for a registry whose
    // changes need no undo (the tests of other things).
    Journal* journal = nullptr;
};

// The first lines of the warnings shown instead of a success text.
inline constexpr const char* kChangesRefused = "Not every change took effect!";
inline constexpr const char* kRemoveAllRefused = "Not all Restrictions have been removed!";
inline constexpr const char* kPageResetRefused =
    "Home and/or Search Page has not been restored everywhere!";
// The titles of those warnings: a warning never wears its action's success title.
inline constexpr const char* kRemoveAllRefusedTitle = "Remove all Restrictions not complete";
inline constexpr const char* kPageResetRefusedTitle = "Reset Home/Search Page not complete";

// Whether `restriction` is in force, by the test detection uses: a DWORD restriction read from
// the per-user hive and greater than 0; the window title read from the machine hive, not empty
// and not "error" in any case.
bool isInForce(registry::General2& registry, const Restriction& restriction);
// The same test on `hive`'s half alone: a DWORD restriction greater than 0, the window title not
// empty and not "error".
bool isInForceIn(registry::General2& registry, const Restriction& restriction, registry::Hive hive);

// The three default addresses the page reset writes.
struct DefaultPages {
    std::string search;
    std::string homeRedirect;
    std::string portal;
};
DefaultPages defaultPages(const toolkit::Configuration& configuration);

// A policy key in one hive: what the key set-up creates and remove-all deletes.
struct PolicyKey {
    registry::Hive hive;
    const char* subKey;
};

// What EnsurePolicyKeys may change: the eight policy keys and the marker.
std::vector<PlannedChange> policyKeysPlan();

// Each action returns what took effect. An action that runs nested inside another one (a box
// whose state an assignment or a pending event changed) adds its outcome to the enclosing
// action's, which reports it.
class RestrictionManager {
public:
    explicit RestrictionManager(Services services);
    RestrictionManager(const RestrictionManager&) = delete;
    RestrictionManager& operator=(const RestrictionManager&) = delete;

    // Sets every box to the state found in the registry; when the rewrites it causes are
    // refused, one warning says what was not done and why. A rewrite of the machine half refused
    // for want of administrator rights, which every start of a user without them meets, is left
    // to the caller to tell: it is in the outcome.
    Outcome RefreshRestrictionStates();
    // Unchecks every box of `form`.
    void clear_Check_controls(toolkit::CheckBoxes& form);
    // Creates the eight policy keys unless the marker says they were created; the marker says
    // so only once all eight exist.
    void EnsurePolicyKeys();
    // The switching action of box `number`: imposes or lifts that restriction in both hives. It
    // shows nothing; when a change was refused, the box is set, without running its click
    // handling, to what the registry holds.
    Outcome SwitchRestriction(int number);
    // A change of box `number` as the window handles it: the switching action, and when any of
    // its changes was refused, a warning that says what was not done and why.
    void RestrictionClicked(int number);
    // Each shows its success text under its success title only when everything took effect,
    // otherwise a warning under a warning title that names what was not done, in which hive,
    // and why.
    Outcome RemoveAllRestrictions();
    Outcome ResetHomeSearchPages();
    // Sets every box, without running its click handling, to what the registry holds: after the
    // registry changed under the window (an undo) or after refused changes.
    void showRegistryState();

private:
    // While an action runs, the changes it and the actions nested in it make are added to its
    // outcome; the previous collector comes back when it ends, however it ends.
    class Collecting {
    public:
        Collecting(RestrictionManager& manager, Outcome& outcome)
            : manager_(manager), enclosing_(std::exchange(manager.collecting_, &outcome)) {}
        ~Collecting() { manager_.collecting_ = enclosing_; }
        Collecting(const Collecting&) = delete;
        Collecting& operator=(const Collecting&) = delete;

        Outcome* enclosing() const { return enclosing_; }

    private:
        RestrictionManager& manager_;
        Outcome* enclosing_;
    };

    void impose(const Restriction& restriction);
    void lift(const Restriction& restriction);
    // The deletions of remove-all and the lifting actions they start.
    void removeAllSteps();
    // Whether the journal keeps the prior state of `plan`. When it cannot, each of `refused`
    // is recorded as not done, with the reason, and the caller changes nothing.
    bool backedUp(const std::vector<PlannedChange>& plan, const std::vector<Change>& refused);
    bool policyKeysExist();
    // Adds `change` to the outcome being collected.
    void add(Change change);
    // Adds the change to the outcome being collected: done when `result` is, else refused for
    // its reason; not `needed` when the registry held what was wanted before.
    void record(registry::Hive hive, const char* action, const std::string& item,
                const Result<void>& result, bool needed = true);
    // The same for deleting `subKey`, or the value `valueName` in it: when it is not there,
    // the deletion is done.
    void recordDeletion(registry::Hive hive, const char* action, const std::string& item,
                        const char* subKey, const char* valueName, const Result<void>& result);
    // Whether `subKey` has sub-keys in a hive that may be written: what keeps it from being
    // deleted then.
    bool heldBySubKeys(registry::Hive hive, const char* subKey);
    // Whether the key, or the value in it when `valueName` is not null, exists.
    bool present(registry::Hive hive, const char* subKey, const char* valueName = nullptr);
    // Whether the value `valueName` of `subKey` in `hive` has `type` and `data` (a text's final
    // NUL aside).
    bool holds(registry::Hive hive, const char* subKey, const char* valueName, std::uint32_t type,
               const std::string& data);
    // Whether the restriction's value in `hive` is the DWORD 1 that imposing writes.
    bool holdsOne(registry::Hive hive, const Restriction& restriction);
    // Sets the box of `restriction` quietly to what the registry holds.
    void settle(const Restriction& restriction);
    // Stores what this action did also when it runs nested inside another one's batch: before
    // a message tells the user, it must be done.
    void storeNestedChanges(Outcome& outcome);
    // The success text under `title` when everything took effect, else the warning `refused`
    // under `refusedTitle`.
    void tell(const Outcome& outcome, const std::string& success, const char* title,
              const char* refused, const char* refusedTitle);
    void warnOfRefusals(const Outcome& outcome);

    Services services_;
    registry::General2 registry_;
    Outcome* collecting_ = nullptr;  // where the running action records its changes
};

}  // namespace quorvane::restrictions
