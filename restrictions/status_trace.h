// A registry that passes every call on and keeps the first refusal since it was last cleared.
// The registry module reports no status for writes, creations and deletions; the restriction
// logic runs it over this trace to learn whether each of its changes took effect and why not.
#pragma once

#include <optional>
#include <string>

#include "platform/registry_api.h"

namespace quorvane::restrictions {

class StatusTrace final : public platform::RegistryApi {
public:
    enum class Call { Open, Create, Set, DeleteKey, DeleteValue };
    struct Refusal {
        Call call;
        platform::Status status;
        std::string detail;  // the registry's own words, if any
    };

    explicit StatusTrace(platform::RegistryApi& inner) : inner_(inner) {}

    void clear() { refusal_.reset(); }
    // The first call since clear() that did not succeed; reads and closes are not counted.
    const std::optional<Refusal>& refusal() const { return refusal_; }

    [[nodiscard]] platform::Status openKey(platform::KeyHandle parent, const std::string& subKey,
                                           std::uint32_t access,
                                           platform::KeyHandle& result) override {
        return note(Call::Open, inner_.openKey(parent, subKey, access, result));
    }
    [[nodiscard]] platform::Status createKey(platform::KeyHandle parent, const std::string& subKey,
                                             platform::KeyHandle& result) override {
        return note(Call::Create, inner_.createKey(parent, subKey, result));
    }
    [[nodiscard]] platform::Status setValue(platform::KeyHandle key, const std::string& name,
                                            std::uint32_t type, const std::uint8_t* data,
                                            std::uint32_t size) override {
        return note(Call::Set, inner_.setValue(key, name, type, data, size));
    }
    [[nodiscard]] platform::Status queryValue(platform::KeyHandle key, const std::string& name,
                                              std::uint32_t* type, std::uint8_t* data,
                                              std::uint32_t* size) override {
        return inner_.queryValue(key, name, type, data, size);
    }
    [[nodiscard]] platform::Status deleteKey(platform::KeyHandle key,
                                             const std::string& subKey) override {
        return note(Call::DeleteKey, inner_.deleteKey(key, subKey));
    }
    [[nodiscard]] platform::Status deleteValue(platform::KeyHandle key,
                                               const std::string& name) override {
        return note(Call::DeleteValue, inner_.deleteValue(key, name));
    }
    platform::Status closeKey(platform::KeyHandle key) override { return inner_.closeKey(key); }
    [[nodiscard]] platform::Status enumKey(platform::KeyHandle key, std::uint32_t index,
                                           std::string& name) override {
        return inner_.enumKey(key, index, name);
    }
    [[nodiscard]] platform::Status enumValue(platform::KeyHandle key, std::uint32_t index,
                                             std::string& name, std::uint32_t& type,
                                             std::string& data) override {
        return inner_.enumValue(key, index, name, type, data);
    }
    void beginBatch() override { inner_.beginBatch(); }
    platform::StoreFailures endBatch() override { return inner_.endBatch(); }
    platform::StoreFailures storePending() override { return inner_.storePending(); }
    std::string lastFailure() const override { return inner_.lastFailure(); }

private:
    platform::Status note(Call call, platform::Status status) {
        if (status != platform::kSuccess && !refusal_) {
            refusal_ = Refusal{call, status, inner_.lastFailure()};
        }
        return status;
    }

    platform::RegistryApi& inner_;
    std::optional<Refusal> refusal_;
};

}  // namespace quorvane::restrictions
