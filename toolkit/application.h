// Facts about the application that the core needs.
#pragma once

namespace quorvane::toolkit {

// The program's own title: it names the settings-store entries and titles message boxes.
inline constexpr const char* kApplicationTitle = "Quorvane";

}  // namespace quorvane::toolkit
