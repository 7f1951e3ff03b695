// Quorvane: shows and changes 24 browser and system policy restrictions.
#include <QApplication>
#include <cstdio>

#include "startup/quorvane_start.h"

int main(int argc, char* argv[]) {
    if (quorvane::startup::usageAsked(argc, argv)) {
        std::fputs(quorvane::startup::kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    quorvane::startup::chooseFontEngine();
    QApplication application(argc, argv);
    return quorvane::startup::runQuorvane(application);
}
