// Start-up time and memory of the Quorvane program: from process start to the main window's
// first paint (offscreen, detection on fresh copies of the fixture hives), and the resident
// memory at that moment. The parent starts this same program `--runs` times with `--child`;
// each child runs the program's own start sequence (runQuorvane) and reports at the first paint.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "startup/quorvane_start.h"
#include "startup/xp_manif.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Ends the child at the main window's first paint, writing the resident memory to stdout.
class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!reported_ && event->type() == QEvent::Paint &&
            qobject_cast<QMainWindow*>(watched) != nullptr) {
            reported_ = true;
            std::printf("shown %ld\n", residentKilobytes());
            std::fflush(stdout);
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        }
        return false;
    }

private:
    bool reported_ = false;
};

int child(int argc, char** argv) {
    QApplication application(argc, argv);
    FirstPaint firstPaint;
    application.installEventFilter(&firstPaint);
    return quorvane::startup::runQuorvane(application);
}

struct Run {
    double milliseconds;
    long kilobytes;
};

// One child from spawn to its report; false when it reported nothing.
bool runChild(const std::string& self, Run& run) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::string childFlag = "--child";
    char* arguments[] = {const_cast<char*>(self.c_str()), childFlag.data(), nullptr};
    pid_t pid = 0;
    const auto started = Clock::now();
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        return false;
    }
    FILE* output = fdopen(pipeEnds[0], "r");
    long kilobytes = -1;
    const bool reported = std::fscanf(output, "shown %ld", &kilobytes) == 1;
    run = {std::chrono::duration<double, std::milli>(Clock::now() - started).count(), kilobytes};
    std::fclose(output);
    int status = 0;
    waitpid(pid, &status, 0);
    return reported && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <typename T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) {
        return child(argc, argv);
    }
    int runs = 15;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
    }
    const fs::path self = fs::read_symlink("/proc/self/exe");

    // The program writes no manifest and so does not restart: one is put beside it first.
    const std::string baseName = quorvane::startup::baseNameOf(self);
    const fs::path manifest = quorvane::startup::manifestPath(self.parent_path(), baseName);
    if (!fs::exists(manifest) &&
        !quorvane::startup::writeManifest(
            manifest,
            quorvane::startup::manifestText(baseName, quorvane::startup::descriptionText()))) {
        std::cerr << "cannot write " << manifest << "\n";
        return 1;
    }

    const quorvane::testing::TempDir scratchDir;
    const fs::path& scratch = scratchDir.path();
    fs::create_directories(scratch / "registry");
    {
        std::ofstream ini(scratch / "quorvane.ini");
        ini << "[Registry]\nDirectory=" << (scratch / "registry").string() << "\n";
    }
    setenv("QUORVANE_CONFIG", (scratch / "quorvane.ini").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::vector<double> times;
    std::vector<long> memory;
    for (int i = 0; i < runs; ++i) {
        // Fresh hives each run, as a first start on the fixture prefix sees them.
        quorvane::testing::copyFixtureHives(scratch / "registry");
        Run run{};
        if (!runChild(self.string(), run)) {
            std::cerr << "run " << i + 1 << ": the window was not shown\n";
            return 1;
        }
        times.push_back(run.milliseconds);
        memory.push_back(run.kilobytes);
    }

    const double medianTime = median(times);
    const double medianMegabytes = static_cast<double>(median(memory)) / 1024.0;
    std::printf("runs: %d\n", runs);
    std::printf("start to first paint: median %.1f ms, min %.1f ms, max %.1f ms (target <= 250)\n",
                medianTime, *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));
    std::printf("VmRSS at first paint: median %.1f MB, max %.1f MB (target <= 60)\n",
                medianMegabytes,
                static_cast<double>(*std::max_element(memory.begin(), memory.end())) / 1024.0);
    return 0;
}
