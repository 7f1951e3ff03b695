// The tell-a-friend window sends its mail to a real SMTP server: Debian's aiosmtpd on
// 127.0.0.1, whose handler saves every message it accepts into the test's directory.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "mailer/frm_bug_report.h"
#include "tests/mailer/tell_a_friend_rig.h"
#include "tests/support/fake_toolkit.h"

namespace quorvane::mailer {
namespace {

using namespace std::chrono_literals;

// Saves each message as its envelope sender, its recipients one a line, an empty line and its
// un-stuffed content. The server ends itself after two minutes should the test never stop it.
constexpr char kHandler[] = R"(import os
import threading

threading.Timer(120, os._exit, args=(3,)).start()


class Recorder:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Recorder.count += 1
        with open("message%d" % Recorder.count, "wb") as f:
            envelope_lines = [envelope.mail_from] + envelope.rcpt_tos + ["", ""]
            f.write("\n".join(envelope_lines).encode() + envelope.original_content)
        return "250 Message accepted"
)";

// aiosmtpd on a free port of 127.0.0.1, killed when this goes.
class Aiosmtpd {
public:
    explicit Aiosmtpd(const QString& directory) {
        QFile handler(QDir(directory).filePath("recorder.py"));
        EXPECT_TRUE(handler.open(QIODevice::WriteOnly) && handler.write(kHandler) > 0);
        handler.close();
        {
            QTcpServer probe;
            EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PYTHONPATH", directory);
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(directory);
        // Debian's interpreter, which has python3-aiosmtpd, whatever python3 comes first in PATH.
        process_.start("/usr/bin/python3",
                       {"-m", "aiosmtpd", "-n", "-l", QString("127.0.0.1:%1").arg(port), "-c",
                        "recorder.Recorder"});
    }
    ~Aiosmtpd() {
        process_.kill();
        process_.waitForFinished(5000);
    }

    // Whether the server accepts connections before `timeout`.
    bool ready(std::chrono::milliseconds timeout) {
        return testing::eventually(
                   [&] {
                       QTcpSocket probe;
                       probe.connectToHost(QHostAddress::LocalHost, port);
                       return probe.waitForConnected(200) ||
                              process_.state() == QProcess::NotRunning;  // no use waiting
                   },
                   timeout) &&
               process_.state() == QProcess::Running;
    }
    QString errors() { return QString::fromLocal8Bit(process_.readAllStandardError()); }

    quint16 port = 0;

private:
    QProcess process_;
};

TEST(SmtpEndToEndTest, AiosmtpdReceivesTheComposedMessageForOneRecipient) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    Aiosmtpd server(directory.path());
    ASSERT_TRUE(server.ready(15s)) << server.errors().toStdString();

    testing::RecordingMessageBox boxes;
    // Real one-second ticks: the real server answers well within a wait.
    QPointer<frmBugReport> window =
        new frmBugReport(boxes, testing::mailConfiguration(server.port));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    testing::fillIn(*window);
    QTest::mouseClick(&testing::child<QPushButton>(*window, "cmdSend"), Qt::LeftButton);

    ASSERT_TRUE(testing::eventually([&] { return !boxes.shown.empty(); }, 20s));
    delete window;
    EXPECT_EQ(boxes.shown,
              std::vector<testing::ShownMessage>({{testing::kSuccessText, 64, "Message Sent"}}));
    const QDir mail(directory.path(), "message*");
    EXPECT_EQ(mail.entryList(), QStringList({"message1"}));
    // Un-stuffed, the comment's dot lines are as typed; the last CR LF is the end-of-data mark's.
    QFile message(mail.filePath("message1"));
    ASSERT_TRUE(message.open(QIODevice::ReadOnly));
    EXPECT_EQ(message.readAll().toStdString(), "bo@example.test\nann@example.test\n\n" +
                                                   testing::kMessageHead + ".\r\n..\r\n" +
                                                   testing::kMessageTail + "\r\n");
}

}  // namespace
}  // namespace quorvane::mailer
