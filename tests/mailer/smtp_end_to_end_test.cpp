// The tell-a-friend window sends its mail to a real SMTP server: Debian's aiosmtpd on
// 127.0.0.1, which with_smtp_server.sh runs around this test, and whose handler saves every
// message it accepts into a scratch directory. The exact bytes of each command are the session's
// tests' own.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>

#include "mailer/tell_a_friend_window.h"
#include "tests/mailer/tell_a_friend_rig.h"
#include "tests/support/contains.h"
#include "tests/support/fake_toolkit.h"

namespace quorvane::mailer {
namespace {

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

TEST(SmtpEndToEndTest, AiosmtpdReceivesTheComposedMessageForOneRecipient) {
    const auto port = static_cast<quint16>(qEnvironmentVariableIntValue("QUORVANE_SMTP_PORT"));
    ASSERT_NE(port, 0) << "run by with_smtp_server.sh, which starts the server";

    testing::RecordingMessageBox boxes;
    // Real one-second ticks: the real server answers well within a wait.
    QPointer<frmBugReport> window = new frmBugReport(boxes, testing::mailConfiguration(port));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    testing::fillIn(*window);
    QTest::mouseClick(&testing::child<QPushButton>(*window, "cmdSend"), Qt::LeftButton);

    ASSERT_TRUE(testing::eventually([&] { return !boxes.shown.empty(); }, 20s));
    EXPECT_EQ(boxes.shown.at(0).title, "Message Sent") << boxes.shown.at(0).text;
    delete window;  // unloaded already, as the window's tests check
    const QDir mail(qEnvironmentVariable("QUORVANE_SMTP_MAIL_DIR"), u"message*"_s);
    ASSERT_EQ(mail.entryList(), QStringList({u"message1"_s}));
    // The envelope, then the content: un-stuffed, the comment's dot lines are as typed; the last
    // CR LF is the end-of-data mark's.
    QFile message(mail.filePath(u"message1"_s));
    ASSERT_TRUE(message.open(QIODevice::ReadOnly));
    const std::string received = message.readAll().toStdString();
    EXPECT_TRUE(received.starts_with(
        "bo@example.test\nann@example.test\n\nFrom: <bo@example.test>\r\nTo: ann@example.test\r\n"))
        << received;
    EXPECT_TRUE(testing::contains(received, "\r\n\r\nTry it.\r\n.\r\n..\r\nBye\r\n\r\n"));
    EXPECT_TRUE(received.ends_with("\r\nBo Sender\r\n"));
    // The body's long sentences arrive flowed (their lengths are the message property's).
    EXPECT_TRUE(testing::contains(received, "charset=us-ascii; format=flowed\r\n"));
}

}  // namespace
}  // namespace quorvane::mailer
