// quorvane-cli why and export: what will bring a restriction back, and the restrictions' state
// written for other tools.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "cli/session.h"
#include "diagnosis/places.h"

namespace quorvane::cli {

inline constexpr int kExitReturns = 4;  // why: something will set a restriction again

// Runs `why` or `export` when the command line names one; nullopt for any other command.
std::optional<int> runReportCommand(const QStringList& arguments);

// Runs `fix` when the command line names it (cli/fix_command.cpp); nullopt for any other command.
std::optional<int> runFixCommand(const QStringList& arguments);

// why [RESTRICTION...] [--json]: exit 0 when nothing will set a restriction again, 4 when
// something will.
int whyCommand(Session& session, const diagnosis::Places& places, const QStringList& arguments,
               bool json);
// export FILE.reg, or export --policy user|machine FILE.pol.
int exportCommand(Session& session, const QStringList& arguments, const QString& policy);

}  // namespace quorvane::cli
