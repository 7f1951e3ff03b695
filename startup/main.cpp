// Quorvane: shows and changes 24 browser and system policy restrictions.
#include <QApplication>

#include "startup/quorvane_start.h"

int main(int argc, char* argv[]) {
    quorvane::startup::chooseFontEngine();
    QApplication application(argc, argv);
    return quorvane::startup::runQuorvane(application);
}
