// The skip-and-continue failure mode of the batch operations for the steps that do not go through
// the registry module: the settings store, the undo journal, the message box, the event pump and
// the check boxes. A step that fails is skipped, silently, and the next one runs. The registry
// module's own operations say in their results whether they took effect and are not run here.
//
// A failing step is one that raises what those layers raise when the system under them fails:
// std::runtime_error and what derives from it (std::system_error and std::filesystem's errors
// from the files and the system). Anything else, a std::logic_error such as std::out_of_range
// above all, is a fault in the program and passes on.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace quorvane::restrictions {

// Runs `step`; when it fails, the failure's text, and the operation goes on with its next step.
template <typename Step>
std::optional<std::string> skipOnFailure(Step&& step) {
    try {
        step();
    } catch (const std::runtime_error& failure) {
        return std::string(failure.what());
    }
    return std::nullopt;
}

}  // namespace quorvane::restrictions
