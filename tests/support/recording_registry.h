// A RegistryApi decorator that passes every call on and logs it, so that tests can see what
// the registry was asked to do (order, rights, paths) beside what it ended up holding. It can
// also refuse calls and report batches as not stored, as a registry under faults would.
#pragma once

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry_api.h"

namespace quorvane::testing {

struct RegistryCall {
    enum Kind { Open, Create, Set, Query, DeleteKey, DeleteValue, Close, EnumKey, EnumValue };
    Kind kind;
    platform::KeyHandle key;  // the parent for Open and Create
    std::string name;         // sub-key or value name
    std::uint32_t access = 0;
    platform::Status status = platform::kSuccess;
};

class RecordingRegistry final : public platform::RegistryApi {
public:
    explicit RecordingRegistry(platform::RegistryApi& inner) : inner_(inner) {}

    platform::Status openKey(platform::KeyHandle parent, const std::string& subKey,
                             std::uint32_t access, platform::KeyHandle& result) override {
        const RegistryCall call{RegistryCall::Open, parent, subKey, access};
        return log(call,
                   refused(call) ? refuse(call) : inner_.openKey(parent, subKey, access, result));
    }
    platform::Status createKey(platform::KeyHandle parent, const std::string& subKey,
                               platform::KeyHandle& result) override {
        const RegistryCall call{RegistryCall::Create, parent, subKey};
        return log(call, refused(call) ? refuse(call) : inner_.createKey(parent, subKey, result));
    }
    platform::Status setValue(platform::KeyHandle key, const std::string& name, std::uint32_t type,
                              const std::uint8_t* data, std::uint32_t size) override {
        const RegistryCall call{RegistryCall::Set, key, name};
        if (loses && loses(call)) {
            return log(call, platform::kSuccess);
        }
        return log(call,
                   refused(call) ? refuse(call) : inner_.setValue(key, name, type, data, size));
    }
    platform::Status queryValue(platform::KeyHandle key, const std::string& name,
                                std::uint32_t* type, std::uint8_t* data,
                                std::uint32_t* size) override {
        return log({RegistryCall::Query, key, name},
                   inner_.queryValue(key, name, type, data, size));
    }
    platform::Status deleteKey(platform::KeyHandle key, const std::string& subKey) override {
        return log({RegistryCall::DeleteKey, key, subKey}, inner_.deleteKey(key, subKey));
    }
    platform::Status deleteValue(platform::KeyHandle key, const std::string& name) override {
        return log({RegistryCall::DeleteValue, key, name}, inner_.deleteValue(key, name));
    }
    platform::Status closeKey(platform::KeyHandle key) override {
        return log({RegistryCall::Close, key, {}}, inner_.closeKey(key));
    }
    platform::Status enumKey(platform::KeyHandle key, std::uint32_t index,
                             std::string& name) override {
        return log({RegistryCall::EnumKey, key, {}}, inner_.enumKey(key, index, name));
    }
    platform::Status enumValue(platform::KeyHandle key, std::uint32_t index, std::string& name,
                               std::uint32_t& type, std::string& data) override {
        const RegistryCall call{RegistryCall::EnumValue, key, {}};
        return log(call,
                   refused(call) ? refuse(call) : inner_.enumValue(key, index, name, type, data));
    }
    void beginBatch() override {
        ++batchDepth_;
        inner_.beginBatch();
    }
    platform::StoreFailures endBatch() override {
        platform::StoreFailures failures = inner_.endBatch();
        return --batchDepth_ == 0 ? withInjected(std::move(failures)) : failures;
    }
    platform::StoreFailures storePending() override { return withInjected(inner_.storePending()); }
    std::string lastFailure() const override { return inner_.lastFailure(); }

    std::vector<RegistryCall> of(RegistryCall::Kind kind) const {
        std::vector<RegistryCall> found;
        std::ranges::copy_if(calls, std::back_inserter(found),
                             [kind](const RegistryCall& call) { return call.kind == kind; });
        return found;
    }

    // Calls that may change the registry, failed ones included.
    std::size_t changeRequests() const {
        return of(RegistryCall::Create).size() + of(RegistryCall::Set).size() +
               of(RegistryCall::DeleteKey).size() + of(RegistryCall::DeleteValue).size();
    }

    std::vector<RegistryCall> calls;
    // Runs after every call has returned.
    std::function<void()> afterEach;
    // A status other than kSuccess refuses an open, a creation, a set or a value listing with
    // it, unpassed.
    using Refuse = std::function<platform::Status(const RegistryCall&)>;
    Refuse refuse;
    // Denies every write, in `root` alone unless it is 0: the creations, and the opens with the
    // right to set values, as the registry does for a user who may not write there.
    static Refuse deniesWrites(platform::KeyHandle root = 0) {
        return [root](const RegistryCall& call) {
            const bool writes =
                call.kind == RegistryCall::Create || (call.access & platform::kKeySetValue) != 0;
            return writes && (root == 0 || call.key == root) ? platform::kAccessDenied
                                                             : platform::kSuccess;
        };
    }
    // Denies every call of one kind.
    static Refuse denies(RegistryCall::Kind kind) {
        return [kind](const RegistryCall& call) {
            return call.kind == kind ? platform::kAccessDenied : platform::kSuccess;
        };
    }
    // Sets it says it made but never passes on, as a registry that loses writes would.
    std::function<bool(const RegistryCall&)> loses;
    // Reported, once, by the next store of a batch, beside what the registry reports itself.
    platform::StoreFailures failNextStore;

private:
    bool refused(const RegistryCall& call) const {
        return refuse && refuse(call) != platform::kSuccess;
    }

    platform::StoreFailures withInjected(platform::StoreFailures failures) {
        failures.insert(failures.end(), failNextStore.begin(), failNextStore.end());
        failNextStore.clear();
        return failures;
    }

    platform::Status log(RegistryCall call, platform::Status status) {
        call.status = status;
        calls.push_back(std::move(call));
        if (afterEach) {
            afterEach();
        }
        return status;
    }

    platform::RegistryApi& inner_;
    int batchDepth_ = 0;
};

}  // namespace quorvane::testing
