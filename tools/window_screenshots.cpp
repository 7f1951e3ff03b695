// Takes the README's screenshots: runs the program's own start sequence and, at the main
// window's first paint, saves the window as PNG with each restriction tab and the About tab
// selected. Usage: window_screenshots DIRECTORY (scripts/screenshots.sh runs it under Xvfb).
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "startup/quorvane_start.h"
#include "startup/xp_manif.h"

namespace {

class Photographer : public QObject {
public:
    explicit Photographer(QString directory) : directory_(std::move(directory)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QMainWindow*>(watched);
        if (!done_ && window != nullptr && event->type() == QEvent::Paint) {
            done_ = true;
            QTimer::singleShot(0, [this, window] { photograph(window); });
        }
        return false;
    }

private:
    void photograph(QMainWindow* window) {
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("SSTab1"));
        if (tabs == nullptr) {
            std::fprintf(stderr, "window_screenshots: no tab control SSTab1\n");
            QCoreApplication::exit(1);
            return;
        }
        const struct {
            int index;
            const char* file;
        } shots[] = {{0, "restrictions-1-8.png"},
                     {1, "restrictions-9-16.png"},
                     {2, "restrictions-17-24.png"},
                     {4, "about.png"}};
        int status = 0;
        for (const auto& shot : shots) {
            tabs->setCurrentIndex(shot.index);
            const QString file = QDir(directory_).filePath(QString::fromLatin1(shot.file));
            if (!window->grab().save(file)) {
                std::fprintf(stderr, "window_screenshots: cannot write %s\n", qPrintable(file));
                status = 1;
            }
        }
        QCoreApplication::exit(status);
    }

    QString directory_;
    bool done_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_screenshots DIRECTORY\n");
        return 2;
    }
    // A manifest beside this program keeps the start sequence from restarting it.
    namespace startup = quorvane::startup;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string baseName = startup::baseNameOf(self);
    const auto manifest = startup::manifestPath(self.parent_path(), baseName);
    if (!std::filesystem::exists(manifest)) {
        startup::writeManifest(manifest,
                               startup::manifestText(baseName, startup::descriptionText()));
    }
    QApplication application(argc, argv);
    Photographer photographer(QString::fromLocal8Bit(argv[1]));
    application.installEventFilter(&photographer);
    return startup::runQuorvane(application);
}
