// What callers of RegistryApi rely on, held against one model for every implementation: random
// sequences of operations run on the registry and on a plain in-memory tree that states what
// Windows does (tests/support/registry_model.h), compared step by step. Natively the hive store
// and an offline installation's binary hives; in the Windows build, under Wine, the Win32
// registry itself.
#include <gtest/gtest.h>

#include "tests/support/registry_model.h"
#include "tests/support/registry_target.h"

namespace quorvane::testing {
namespace {

using namespace quorvane::platform;

class RegistryConformance : public ::testing::TestWithParam<RegistryKind> {};

TEST_P(RegistryConformance, EveryStepDoesWhatTheModelSays) {
    checkListProperty<model::Operation>(
        40, model::drawOperation, [&](const std::vector<model::Operation>& operations) {
            const auto target = GetParam().make();
            std::function<std::unique_ptr<RegistryApi>()> reopen;
            if (target->reopened()) {
                reopen = [&] { return target->reopened(); };
            }
            return model::differencesFromModel(target->registry(), operations, reopen);
        });
}

INSTANTIATE_TEST_SUITE_P(Registries, RegistryConformance, ::testing::ValuesIn(registryKinds()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvane::testing
