#include "cli/usage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <iostream>

#include "cli/commands.h"

namespace quorvane::cli {

QString programName() {
    return QFileInfo(QCoreApplication::arguments().constFirst()).fileName();
}

int usageError(const std::string& message) {
    std::cerr << "quorvane-cli: " << message << "\nTry '" << programName().toStdString()
              << " --help'.\n";
    return kExitUsage;
}

}  // namespace quorvane::cli
