// The tell-a-friend window sends its mail to a real SMTP server: Debian's aiosmtpd on
// 127.0.0.1, whose handler saves every message it accepts into a scratch directory. The exact
// bytes of each command are the session's tests' own.
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
using namespace Qt::StringLiterals;

// aiosmtpd on 127.0.0.1 with the recorder of smtp_recorder.py, which saves each message into
// `mailDirectory`. Started here and killed when this goes; or, when QUORVANE_SMTP_PORT is set,
// the one that with_smtp_server.sh started around this test (the Windows build under Wine).
class Aiosmtpd {
public:
    explicit Aiosmtpd(const QString& scratch) {
        if (external_) {
            port = static_cast<quint16>(qEnvironmentVariableIntValue("QUORVANE_SMTP_PORT"));
            mailDirectory = qEnvironmentVariable("QUORVANE_SMTP_MAIL_DIR");
            return;
        }
        mailDirectory = scratch;
        {
            QTcpServer probe;
            EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"PYTHONPATH"_s, QStringLiteral(QUORVANE_SMTP_RECORDER_DIR));
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(mailDirectory);
        // Debian's interpreter, which has python3-aiosmtpd, whatever python3 comes first in PATH.
        process_.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"aiosmtpd"_s, u"-n"_s, u"-l"_s, u"127.0.0.1:%1"_s.arg(port),
                        u"-c"_s, u"smtp_recorder.Recorder"_s});
    }
    ~Aiosmtpd() {
        process_.kill();
        process_.waitForFinished(5000);
    }

    // Whether the server accepts connections before `timeout`; no use waiting once it ended.
    bool ready(std::chrono::milliseconds timeout) {
        QTcpSocket probe;
        testing::eventually(
            [&] {
                probe.abort();
                probe.connectToHost(QHostAddress::LocalHost, port);
                return probe.waitForConnected(200) ||
                       (!external_ && process_.state() == QProcess::NotRunning);
            },
            timeout);
        return probe.state() == QAbstractSocket::ConnectedState;
    }
    QString errors() { return QString::fromLocal8Bit(process_.readAllStandardError()); }

    quint16 port = 0;
    QString mailDirectory;

private:
    const bool external_ = qEnvironmentVariableIsSet("QUORVANE_SMTP_PORT");
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
    EXPECT_EQ(boxes.shown.at(0).title, "Message Sent") << boxes.shown.at(0).text;
    EXPECT_TRUE(testing::eventually([&] { return window.isNull(); })) << "not unloaded";
    delete window;
    const QDir mail(server.mailDirectory, u"message*"_s);
    ASSERT_EQ(mail.entryList(), QStringList({u"message1"_s}));
    // The envelope, then the content: un-stuffed, the comment's dot lines are as typed; the last
    // CR LF is the end-of-data mark's.
    QFile message(mail.filePath(u"message1"_s));
    ASSERT_TRUE(message.open(QIODevice::ReadOnly));
    const std::string received = message.readAll().toStdString();
    EXPECT_TRUE(received.starts_with(
        "bo@example.test\nann@example.test\n\nFrom: <bo@example.test>\r\nTo: ann@example.test\r\n"))
        << received;
    EXPECT_NE(received.find("\r\n\r\nTry it.\r\n.\r\n..\r\nBye\r\n\r\n"), std::string::npos);
    EXPECT_TRUE(received.ends_with("\r\nBo Sender\r\n"));
}

}  // namespace
}  // namespace quorvane::mailer
