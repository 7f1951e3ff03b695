#include <array>

#include "restrictions/failure_mode.h"
#include "restrictions/restriction_manager.h"
#include "toolkit/application.h"

namespace quorvane::restrictions {

namespace {

constexpr const char* kSystemPoliciesCreated =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

struct PolicyKey {
    registry::Hive hive;
    const char* subKey;
};

// In the order in which they are created.
constexpr std::array<PolicyKey, 8> kPolicyKeys = {{
    {registry::kHiveCurrentUser, kRestrictionsKey},
    {registry::kHiveCurrentUser, kControlPanelKey},
    {registry::kHiveLocalMachine, kToolbarRestrictionsKey},
    {registry::kHiveLocalMachine, kRestrictionsKey},
    {registry::kHiveLocalMachine, kControlPanelKey},
    {registry::kHiveCurrentUser, kToolbarRestrictionsKey},
    {registry::kHiveCurrentUser, kSystemPoliciesCreated},
    {registry::kHiveLocalMachine, kSystemPoliciesCreated},
}};

constexpr registry::Hive kBothHives[] = {registry::kHiveCurrentUser, registry::kHiveLocalMachine};

}  // namespace

RestrictionManager::RestrictionManager(Services services)
    : services_(std::move(services)),
      trace_(services_.platform),
      registry_(trace_, services_.messages) {}

std::optional<StatusTrace::Refusal> RestrictionManager::traced(const std::function<void()>& step) {
    trace_.clear();
    if (auto failure = skipOnFailure(step)) {
        return StatusTrace::Refusal{StatusTrace::Call::Open, platform::kRegistryIoFailed,
                                    std::move(*failure)};
    }
    return trace_.refusal();
}

void RestrictionManager::record(registry::Hive hive, const char* action, const std::string& item,
                                const std::optional<StatusTrace::Refusal>& refusal) {
    Change change{hive, action, item, platform::kSuccess, {}};
    if (refusal) {
        change.status = refusal->status;
        // A key that may be written but not deleted still has sub-keys.
        const bool hasSubKeys = refusal->call == StatusTrace::Call::DeleteKey &&
                                refusal->status == platform::kAccessDenied;
        change.reason =
            hasSubKeys ? "it has sub-keys" : refusalReason(hive, refusal->status, refusal->detail);
    }
    if (collecting_ != nullptr) {
        collecting_->add(std::move(change));
    }
}

void RestrictionManager::recordDeletion(registry::Hive hive, const char* action,
                                        const std::string& item, const char* subKey,
                                        const char* valueName,
                                        const std::optional<StatusTrace::Refusal>& refusal) {
    // What is not there is deleted, whether or not the registry would have let us.
    const bool nothingThere = refusal && (refusal->status == platform::kFileNotFound ||
                                          !present(hive, subKey, valueName));
    record(hive, action, item, nothingThere ? std::nullopt : refusal);
}

bool RestrictionManager::present(registry::Hive hive, const char* subKey, const char* valueName) {
    platform::KeyHandle key = 0;
    const platform::Status opened =
        services_.platform.openKey(hive, subKey, platform::kKeyRead, key);
    if (opened != platform::kSuccess) {
        return opened != platform::kFileNotFound;
    }
    std::uint32_t size = 0;
    const platform::Status queried =
        valueName == nullptr
            ? platform::kSuccess
            : services_.platform.queryValue(key, valueName, nullptr, nullptr, &size);
    services_.platform.closeKey(key);
    return queried != platform::kFileNotFound;
}

void RestrictionManager::settle(const Restriction& restriction) {
    int state = toolkit::kUnchecked;
    skipOnFailure([&] {
        state = isInForce(registry_, restriction) ? toolkit::kChecked : toolkit::kUnchecked;
    });
    skipOnFailure([&] { services_.boxes.setQuietly(restriction.number, state); });
}

void RestrictionManager::warnOfFirstRefusal(const Outcome& outcome) {
    if (outcome.allDone() || refusalShown_) {
        return;
    }
    refusalShown_ = true;
    skipOnFailure([&] {
        services_.messages.show(warningText(kChangesRefused, outcome), toolkit::kExclamation,
                                toolkit::kApplicationTitle);
    });
}

void RestrictionManager::storeNestedChanges(Outcome& outcome) {
    outcome.storeFailed(services_.platform.storePending());
}

void RestrictionManager::tell(const Outcome& outcome, const std::string& success,
                              const char* refused, const char* title) {
    const bool allDone = outcome.allDone();
    const std::string text =
        allDone ? success : warningText(refused, outcome) + "\r\n\r\n" + kStartupHint;
    skipOnFailure([&] {
        services_.messages.show(text, allDone ? toolkit::kInformation : toolkit::kExclamation,
                                title);
    });
}

bool RestrictionManager::policyKeysExist() {
    for (const PolicyKey& key : kPolicyKeys) {
        platform::KeyHandle handle = 0;
        if (services_.platform.openKey(key.hive, key.subKey, platform::kKeyRead, handle) !=
            platform::kSuccess) {
            return false;
        }
        services_.platform.closeKey(handle);
    }
    return true;
}

void RestrictionManager::EnsurePolicyKeys() {
    std::string marker;
    skipOnFailure([&] {
        marker = services_.settings.read(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey);
    });
    if (marker == "1") {
        return;
    }
    for (const PolicyKey& key : kPolicyKeys) {
        skipOnFailure([&] {
            std::string path = fullPath(key.hive, key.subKey);
            registry_.CreateKey(path);
        });
    }
    // A key that could not be made is tried again at the next switch.
    if (policyKeysExist()) {
        skipOnFailure([&] {
            services_.settings.write(toolkit::kApplicationTitle, kMarkerSection, kMarkerKey, "1");
        });
    }
}

Outcome RestrictionManager::SwitchRestriction(int number) {
    const auto restriction = restrictionByNumber(number);
    if (!restriction) {
        return {};
    }
    Outcome outcome;
    Outcome* enclosing = nullptr;
    {
        Collecting collecting(*this, outcome);
        enclosing = collecting.enclosing();
        platform::BatchScope batch(services_.platform);
        if (restriction->kind == Kind::Dword) {
            EnsurePolicyKeys();
            services_.events.processPendingEvents();
        }
        // The box is read only now: events run above may have changed it.
        if (services_.boxes.state(number) == toolkit::kChecked) {
            impose(*restriction);
        } else {
            lift(*restriction);
        }
        outcome.storeFailed(batch.finish());
    }
    if (!outcome.allDone()) {
        settle(*restriction);
    }
    if (enclosing != nullptr) {
        enclosing->merge(outcome);
    }
    return outcome;
}

void RestrictionManager::RestrictionClicked(int number) {
    const bool nested = collecting_ != nullptr;
    const Outcome outcome = SwitchRestriction(number);
    if (!nested) {
        warnOfFirstRefusal(outcome);
    }
}

void RestrictionManager::impose(const Restriction& restriction) {
    if (restriction.kind == Kind::String) {
        return;  // a custom window title is only ever removed
    }
    const std::int32_t one = 1;
    for (const registry::Hive hive : kBothHives) {
        const auto setFlag = [&] {
            std::string path = fullPath(hive, restriction.subKey);
            registry_.SetDwordValue(path, restriction.valueName, one);
        };
        auto refusal = traced(setFlag);
        // The marker vouched for a key that is gone (deleted by another program, or its hive
        // file never written): made now, so that the restriction is stored after all.
        if (refusal && refusal->call == StatusTrace::Call::Open &&
            refusal->status == platform::kFileNotFound) {
            refusal = traced([&] {
                std::string path = fullPath(hive, restriction.subKey);
                registry_.CreateKey(path);
                setFlag();
            });
        }
        record(hive, "impose", restriction.valueName, refusal);
    }
}

void RestrictionManager::lift(const Restriction& restriction) {
    for (const registry::Hive hive : kBothHives) {
        const auto refusal =
            traced([&] { registry_.DeleteValue(hive, restriction.subKey, restriction.valueName); });
        recordDeletion(hive, "lift", restriction.valueName, restriction.subKey,
                       restriction.valueName, refusal);
    }
}

}  // namespace quorvane::restrictions
