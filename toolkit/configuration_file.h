// Reads the configuration: compiled defaults, overridden by the INI file named by
// QUORVANE_CONFIG, else quorvane.ini beside the executable, else Quorvane\quorvane.ini in the
// user's roaming application data folder on Windows, $XDG_CONFIG_HOME/Quorvane/quorvane.ini
// elsewhere.
#pragma once

#include <QString>

#include "toolkit/configuration.h"

namespace quorvane::toolkit {

// The INI file in force, or an empty text when there is none.
QString configurationFilePath();
Configuration loadConfiguration();
// Reads `file` over the compiled defaults; a missing file leaves them all.
Configuration loadConfiguration(const QString& file);

}  // namespace quorvane::toolkit
