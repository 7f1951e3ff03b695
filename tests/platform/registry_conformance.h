// The registry conformance suite runs one set of tests against whichever RegistryApi the build
// has: the hive store natively, the Win32 registry under Wine. Each build links one target.
#pragma once

#include <memory>

#include "platform/registry_api.h"

namespace quorvane::testing {

// Every test works below this key, under both HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline constexpr const char* kConformanceKey = "Software\\QuorvaneConformance";

class ConformanceTarget {
public:
    virtual ~ConformanceTarget() = default;
    virtual platform::RegistryApi& registry() = 0;
};

// A registry for one test, with nothing below kConformanceKey; destroying it removes whatever
// the test wrote.
std::unique_ptr<ConformanceTarget> makeConformanceTarget();

}  // namespace quorvane::testing
