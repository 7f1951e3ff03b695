// The tell-a-friend window on the offscreen platform, driven by its controls' names and real
// clicks, against a scripted SMTP server on 127.0.0.1. The session's timer ticks every 10 ms
// here, so a time-out of 30 ticks takes 0.3 s.
#include "mailer/tell_a_friend_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWindow>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "mailer/message_text.h"
#include "tests/mailer/tell_a_friend_rig.h"
#include "tests/support/fake_toolkit.h"
#include "toolkit/application.h"

namespace quorvane::mailer {
namespace {

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using testing::child;
using testing::eventually;
using testing::fillIn;
using testing::focusedControl;
using Boxes = std::vector<testing::ShownMessage>;

const std::string kTimeoutText = "Could not connect to host!     \r\nPlease try again later.     ";
const std::string kTooLongText =
    "\r\nThe reply was too long for Quorvane to read; only its start is shown.";
// The first 512 characters of a line of x that never ends, folded.
const std::string kFoldedStart = [] {
    std::string start(512, 'x');
    for (std::size_t at = 512 - kFoldedWidth; at > 0; at -= kFoldedWidth) {
        start.insert(at, "\r\n");
    }
    return start + " ...\r\n";
}();

// An SMTP server that plays a script to one client: each step waits until the bytes received
// since the previous step hold `until` (an empty `until` fires at once), then writes its reply,
// if any, and may hang up. Every byte received is kept.
class ScriptedServer {
public:
    struct Step {
        QByteArray until;
        QByteArray reply;
        bool hangUp = false;
    };

    explicit ScriptedServer(QList<Step> script) : script_(std::move(script)) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
    }

    quint16 port() const { return server_.serverPort(); }

    QByteArray received;
    bool clientLeft = false;

private:
    void accept() {
        client_ = server_.nextPendingConnection();
        QObject::connect(client_, &QTcpSocket::readyRead, client_, [this] {
            received += client_->readAll();
            play();
        });
        QObject::connect(client_, &QTcpSocket::disconnected, client_,
                         [this] { clientLeft = true; });
        play();
    }

    void play() {
        while (!script_.isEmpty()) {
            const qsizetype at = received.indexOf(script_.front().until, consumed_);
            if (at < 0) {
                return;
            }
            consumed_ = at + script_.front().until.size();
            const Step step = script_.takeFirst();
            client_->write(step.reply);
            if (step.hangUp) {
                client_->disconnectFromHost();
            }
        }
    }

    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    QList<Step> script_;
    qsizetype consumed_ = 0;
};

using Script = QList<ScriptedServer::Step>;

const Script kUpToMailFrom = {{"", "220 ready\r\n"}, {"\r\n", "250 hello\r\n"}};

class TellAFriendWindow : public ::testing::Test {
protected:
    void TearDown() override { delete window_; }

    void open(quint16 port, std::chrono::milliseconds tick = 10ms) {
        window_ = new frmBugReport(boxes_, testing::mailConfiguration(port), tick);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
    }

    QPushButton& send() const { return child<QPushButton>(*window_, "cmdSend"); }
    void clickSend() const { QTest::mouseClick(&send(), Qt::LeftButton); }
    bool boxShown() const { return !boxes_.shown.empty(); }

    testing::RecordingMessageBox boxes_;
    QPointer<frmBugReport> window_;
};

// The subject line takes the selected list entry, not a subject typed over it.
TEST_F(TellAFriendWindow, SendsTheWholeDialogueByteForByteAndUnloadsAfterSuccess) {
    ScriptedServer server(kUpToMailFrom + Script{{"\r\n", "250-sender ok\r\n250 go on\r\n"},
                                                 {"\r\n", "250 recipient ok\r\n"},
                                                 {"\r\n", "354 go ahead\r\n"},
                                                 {"\r\n.\r\n", "250 queued\r\n"},
                                                 {"\r\n", "221 bye\r\n"}});
    open(server.port());
    const MessageStamp stamp{std::chrono::system_clock::now(), "<x1@desk.test>"};
    // The host it is stamped for is the HELO's (the session's tests).
    window_->setStampSource([&](const std::string&) { return stamp; });
    fillIn(*window_);
    auto& subject = child<QComboBox>(*window_, "cboSubject");
    subject.setCurrentIndex(4);
    subject.lineEdit()->clear();
    QTest::keyClicks(subject.lineEdit(), u"My own words"_s);
    QString statusWhileShown;
    bool closedWhileShown = false;
    boxes_.whileShown = [&] {
        statusWhileShown = child<QLabel>(*window_, "lblStatus").text();
        closedWhileShown = eventually([&] { return server.clientLeft; });
    };
    clickSend();

    ASSERT_TRUE(eventually([&] { return boxShown(); }));
    EXPECT_EQ(boxes_.shown.at(0).title, "Message Sent");
    EXPECT_EQ(statusWhileShown, u"Message Sent"_s);
    // The server keeps the connection: the client closes it, before its box.
    EXPECT_TRUE(closedWhileShown);
    // The message's own text is the message text tests' to check.
    const std::string body = ComposeMessageBody(
        {"Ann Example", "Try it.\n.\n..\nBye", "http://maker.test/Pages/Useful.html", "Bo Sender"},
        toolkit::kApplicationTitle, {"m1.test", "m2.test", "m3.test"});
    EXPECT_EQ(server.received.toStdString(),
              "HELO " + QHostInfo::localHostName().toStdString() +
                  "\r\nMAIL FROM:<bo@example.test>\r\nRCPT TO:<ann@example.test>\r\nDATA\r\n" +
                  composeMessage({"bo@example.test", "ann@example.test",
                                  "From: Bo Sender -  Check Out This Program", "plain;"},
                                 stamp, body) +
                  "\r\n.\r\nQUIT\r\n");
    EXPECT_TRUE(eventually([&] { return window_.isNull(); }));
}

// The failures as the real socket and timer bring them, one of each kind; the session's own tests
// go through every wait and reply code (a hang-up after the message too), the reader's through
// every bound of a reply.
struct Failure {
    const char* name;
    std::optional<Script> script;  // none: nothing listens, or (queueFull) nothing answers
    std::string text;
    std::chrono::milliseconds tick = 10ms;
    bool queueFull = false;
};

class FailedSend : public TellAFriendWindow, public ::testing::WithParamInterface<Failure> {};

// However a send fails, one box says why, and the window stays with Send usable again.
TEST_P(FailedSend, ShowsOneBoxAndLeavesSendUsable) {
    const Failure& failure = GetParam();
    std::optional<ScriptedServer> server(std::in_place, failure.script.value_or(Script{}));
    // A server whose queue of connections is full, filled by three clients, answers no new one.
    QTcpServer full;
    full.setListenBacklogSize(0);
    full.setMaxPendingConnections(0);
    ASSERT_TRUE(full.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> queued(failure.queueFull ? 3 : 0);
    for (auto& socket : queued) {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, full.serverPort());
    }
    const quint16 port = failure.queueFull ? full.serverPort() : server->port();
    if (!failure.script) {
        server.reset();  // nothing listens there any more
    }
    open(port, failure.tick);
    fillIn(*window_);
    // The connection is closed before the box, so nothing the server sends meanwhile is held.
    bool closedWhileShown = false;
    boxes_.whileShown = [&] {
        closedWhileShown = server && eventually([&] { return server->clientLeft; }, 2s);
    };
    QElapsedTimer clock;
    clock.start();
    clickSend();
    ASSERT_TRUE(eventually([&] { return boxShown(); }, 3s));
    if (failure.text == kTimeoutText && failure.tick == 10ms) {
        // 30 ticks of 10 ms, less what coarse timers may fire early.
        EXPECT_GE(clock.elapsed(), 280);
    }
    EXPECT_EQ(closedWhileShown, server.has_value());
    QTest::qWait(100);
    EXPECT_EQ(boxes_.shown, Boxes({{failure.text, 0, "Quorvane"}}));
    EXPECT_TRUE(send().isEnabled());
    EXPECT_FALSE(window_.isNull());
    // Given up, a connection still being made is not left to be made later.
    for (const QTcpSocket* socket : window_->findChildren<QTcpSocket*>()) {
        EXPECT_EQ(socket->state(), QAbstractSocket::UnconnectedState);
    }
}

INSTANTIATE_TEST_SUITE_P(
    TransportFailures, FailedSend,
    ::testing::Values(
        // Folded, so that the box shows what came.
        Failure{"EndlessLine", Script{{"", QByteArray(9000, 'x')}},
                "Server returned the following error:\r\n" + kFoldedStart + kTooLongText},
        Failure{"SilentServer", Script{{"", {}}}, kTimeoutText},
        // Real one-second ticks: waiting them out would take 30 s, so the box must come at once.
        Failure{"HangUpMidDialogue", kUpToMailFrom + Script{{"\r\n", {}, true}}, kTimeoutText,
                1000ms},
        Failure{"RefusedConnection", std::nullopt, "Connection refused"},
        // The connection stays half made until the time-out.
        Failure{"FullQueue", std::nullopt, kTimeoutText, 10ms, true}),
    [](const auto& info) { return std::string(info.param.name); });

class CancelMidSession : public TellAFriendWindow, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelMidSession, DropsTheConnectionSilently) {
    const bool byCancel = GetParam();
    ScriptedServer server(kUpToMailFrom + Script{{"\r\n", {}}});
    open(server.port());
    fillIn(*window_);
    clickSend();
    ASSERT_TRUE(eventually([&] { return server.received.contains("MAIL FROM"); }));
    if (byCancel) {
        QTest::mouseClick(&child<QPushButton>(*window_, "cmdExit"), Qt::LeftButton);
    } else {
        window_->windowHandle()->close();
    }
    EXPECT_TRUE(eventually([&] { return server.clientLeft; }));
    EXPECT_TRUE(eventually([&] { return window_.isNull(); }));
    QTest::qWait(400);  // longer than a time-out
    EXPECT_EQ(boxes_.shown, Boxes());
}

INSTANTIATE_TEST_SUITE_P(CancelOrCloseBox, CancelMidSession, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Cancel" : "CloseBox"; });

// The window opens fixed and centred, with its own icon, on the third subject, its fields in the
// order they are filled in. One field is checked per click, in table order, and refused with the
// focus on it and no connection made. Only a field of no characters is missing: spaces pass. No
// SMTPUTF8 is asked for, so an address must be ASCII; names may be anything on one line.
TEST_F(TellAFriendWindow, OpensInFillingOrderAndChecksOneFieldPerClickInTableOrder) {
    ScriptedServer server(kUpToMailFrom + Script{{"\r\n", "250 ok\r\n"}});
    open(server.port());
    ASSERT_EQ(window_->logicalDpiX(), 96) << "the pixels below are for 96 dpi";
    EXPECT_EQ(window_->windowTitle(), u"Tell a Friend About Quorvane"_s);
    // Our own icon, drawn at 16 and 32 pixels, not the style's information sign.
    const QIcon icon = window_->windowIcon();
    EXPECT_EQ(icon.availableSizes(), QList<QSize>({QSize(16, 16), QSize(32, 32)}));
    const auto image = [](const QIcon& of) {
        return of.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32);
    };
    EXPECT_NE(image(icon), image(window_->style()->standardIcon(QStyle::SP_MessageBoxInformation)));
    // One spot check of the twips layout: the client area, and a control inside the frame.
    EXPECT_EQ(window_->size(), QSize(456, 388));
    EXPECT_EQ(child(*window_, "txtComments").geometry(), QRect(96, 192, 337, 121));
    EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
    EXPECT_FALSE(window_->windowFlags() &
                 (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
    const QPoint offCentre =
        window_->frameGeometry().center() - window_->screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    EXPECT_EQ(child<QComboBox>(*window_, "cboSubject").currentIndex(), 2);

    // Tab moves through the fields in the order they are filled in.
    EXPECT_EQ(focusedControl(*window_), "txtFriendsName");
    std::vector<std::string> order;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(window_->focusWidget(), Qt::Key_Tab);
        order.push_back(focusedControl(*window_));
    }
    EXPECT_EQ(order,
              std::vector<std::string>({"txtFriend", "txtName", "txtFrom", "cboSubject",
                                        "txtComments", "cmdSend", "cmdExit", "txtFriendsName"}));

    QLineEdit& subject = *child<QComboBox>(*window_, "cboSubject").lineEdit();
    const std::string longest = std::string(kMaxAddressLength - 7, 'a') + "@e.test";
    const struct {
        const char* field;
        std::string typed;  // then a space, which passes (the subject too)
        std::string text;
        const char* title;
    } checks[] = {
        {"cboSubject", "Please Choose a Subject", "You must choose a Subject for the email     ",
         "No Subject Chosen"},
        {"txtFriendsName", "", "Please enter your friend's name     ", "No Name"},
        {"txtFriend", "", "Please enter your friend's email address     ", "No Email Address"},
        {"txtName", "", "Please enter your name     ", "No Name"},
        {"txtFrom", "", "Please enter your email address     ", "No Email Address"},
        {"txtFriendsName", "Ann\r\nRCPT TO:<other@example.test>",
         "Please write your friend's name on one line, without line breaks.     ",
         "Line Break Not Allowed"},
        // The name goes into the subject header.
        {"txtName", "Bo\rX-Extra: yes",
         "Please write your name on one line, without line breaks.     ", "Line Break Not Allowed"},
        {"txtFrom", "bo@example.test\r\n",
         "Please write your email address on one line, without line breaks.     ",
         "Line Break Not Allowed"},
        {"txtFriend", "j\xC3\xBCrgen@example.test",
         "Please enter your friend's email address in plain ASCII characters only: an address "
         "with other characters cannot be sent through this mail server.     ",
         "Email Address Not Supported"},
        {"txtFrom",
         "bo@b\xC3\xBC"
         "cher.example",
         "Please enter your email address in plain ASCII characters only: an address with other "
         "characters cannot be sent through this mail server.     ",
         "Email Address Not Supported"},
        // One character more than an address may have.
        {"txtFriend", "a" + longest,
         "Please enter your friend's email address in at most 254 characters.     ",
         "Email Address Too Long"},
    };
    for (const auto& check : checks) {
        SCOPED_TRACE(check.text);
        QLineEdit& field = std::string_view(check.field) == "cboSubject"
                               ? subject
                               : child<QLineEdit>(*window_, check.field);
        field.setText(QString::fromStdString(check.typed));
        boxes_.shown.clear();
        clickSend();
        EXPECT_EQ(boxes_.shown, Boxes({{check.text, 64, check.title}}));
        EXPECT_EQ(focusedControl(*window_), check.field);
        EXPECT_TRUE(send().isEnabled());
        field.setText(u" "_s);
    }
    QTest::qWait(100);
    EXPECT_TRUE(server.received.isEmpty()) << "a connection was made";

    // An address of the longest length an address may have is sent.
    child<QLineEdit>(*window_, "txtFriend").setText(QString::fromStdString(longest));
    boxes_.shown.clear();
    clickSend();
    EXPECT_TRUE(eventually([&] { return server.received.contains("RCPT TO:<"); }));
    EXPECT_EQ(server.received.toStdString(), "HELO " + QHostInfo::localHostName().toStdString() +
                                                 "\r\nMAIL FROM:< >\r\nRCPT TO:<" + longest +
                                                 ">\r\n");
    EXPECT_EQ(boxes_.shown, Boxes());
}

}  // namespace
}  // namespace quorvane::mailer
