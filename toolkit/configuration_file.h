// Reads the configuration in layers: the compiled defaults, then quorvane.ini beside the
// executable, then the user's own file (Quorvane\quorvane.ini in the roaming application data
// folder on Windows, $XDG_CONFIG_HOME/Quorvane/quorvane.ini elsewhere), then the file
// QUORVANE_CONFIG names. Each key comes from the last file that sets it, so a user changes a
// setting in their own file even when an administrator's file beside the program sets it.
#pragma once

#include <QString>
#include <QStringList>

#include "toolkit/configuration.h"

namespace quorvane::toolkit {

// The files that exist, lowest layer first, for a program in `programDirectory`.
QStringList configurationFiles(const QString& programDirectory);
// The configuration of this program (its own directory, the user's file, QUORVANE_CONFIG).
Configuration loadConfiguration();
// Reads `files` in order over the compiled defaults; missing files change nothing.
Configuration loadConfiguration(const QStringList& files);

}  // namespace quorvane::toolkit
