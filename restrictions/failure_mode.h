// The skip-and-continue failure mode of the batch operations: a step that fails is skipped,
// silently, and the next one runs.
#pragma once

#include <exception>

namespace quorvane::restrictions {

template <typename Step>
void skipOnFailure(Step&& step) noexcept {
    try {
        step();
    } catch (const std::exception&) {
        // Nothing is reported; the operation goes on with its next step.
    }
}

}  // namespace quorvane::restrictions
