// The CPU time the tell-a-friend window spends on one whole time-out: Send against a server on
// 127.0.0.1 that accepts the connection and never says a word, at the real 1000 ms timer, until
// the time-out message after 30 ticks. The session waits on socket and timer notifications, so
// the process should sleep nearly all of the 30 s. Prints wall and CPU time; exits 1 when the
// CPU time is over 1% of one core. Runs offscreen unless QT_QPA_PLATFORM names a platform.
// The measurement begins once the open window has settled, a second after it was shown.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

#include "mailer/tell_a_friend_window.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Ends the measurement at the first box, which is the time-out message. (Quitting the
// application instead would close the window first.)
class StopAtFirstBox final : public quorvane::toolkit::MessageBox {
public:
    void show(const std::string& text, int, const std::string&) override {
        if (shown.empty()) {
            shown = text;
            wait.quit();
        }
    }
    std::string shown;
    QEventLoop wait;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    // --idle: the same 30 s with the window open and no Send, for what the window costs alone
    // (its text cursor blinks).
    const bool idleOnly = QCoreApplication::arguments().contains(QStringLiteral("--idle"));

    QTcpServer silent;
    if (!silent.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 2;
    }
    QObject::connect(&silent, &QTcpServer::newConnection, &silent,
                     [&silent] { silent.nextPendingConnection(); });

    StopAtFirstBox box;
    quorvane::toolkit::Configuration configuration;
    configuration.mailServer = "127.0.0.1:" + std::to_string(silent.serverPort());
    auto* window = new quorvane::mailer::frmBugReport(box, configuration);
    window->show();
    const char* const fields[] = {"txtFriendsName", "txtFriend", "txtName", "txtFrom"};
    for (const char* name : fields) {
        window->findChild<QLineEdit*>(QString::fromLatin1(name))
            ->setText(QStringLiteral("someone@example.test"));
    }

    // The first paint loads fonts and fills the backing store: not part of a wait.
    QTimer::singleShot(1000, &box.wait, &QEventLoop::quit);
    box.wait.exec();

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    if (idleOnly) {
        QTimer::singleShot(30000, &box.wait, &QEventLoop::quit);
    } else {
        window->findChild<QPushButton*>(QStringLiteral("cmdSend"))->click();
    }
    box.wait.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.nsecsElapsed() / 1e9;
    delete window;

    const double percent = 100.0 * cpu / seconds;
    std::printf("platform %s; %s\n", qPrintable(QApplication::platformName()),
                idleOnly ? "idle window, no Send" : box.shown.c_str());
    std::printf("wall %.3f s, CPU %.4f s (user + system), %.3f%% of one core; target <= 1%%\n",
                seconds, cpu, percent);
    return percent <= 1.0 ? 0 : 1;
}
