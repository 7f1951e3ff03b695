// The tell-a-friend window on the offscreen platform, driven by its controls' names and real
// clicks, against a scripted SMTP server on 127.0.0.1. The session's timer ticks every 10 ms
// here, so a time-out of 30 ticks takes 0.3 s.
#include "mailer/frm_bug_report.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWindow>
#include <optional>
#include <utility>
#include <vector>

#include "tests/mailer/tell_a_friend_rig.h"
#include "tests/support/fake_toolkit.h"

namespace quorvane::mailer {
namespace {

using namespace std::chrono_literals;
using testing::child;
using testing::eventually;
using testing::RecordingMessageBox;
using testing::ShownMessage;
using Boxes = std::vector<ShownMessage>;

const std::string kTimeoutText = "Could not connect to host!     \r\nPlease try again later.     ";

// An SMTP server that plays a script to one client. Each step waits until the bytes received
// since the previous step hold `until` (an empty `until` fires at once), then writes its reply
// pieces 25 ms apart, so that they arrive apart, and may then hang up. A step without a reply
// leaves the client waiting. Every byte received is kept.
class ScriptedServer {
public:
    struct Step {
        QByteArray until;
        QList<QByteArray> reply;
        bool hangUp = false;
    };

    explicit ScriptedServer(QList<Step> script) : script_(std::move(script)) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
    }

    quint16 port() const { return server_.serverPort(); }

    QByteArray received;
    int connections = 0;
    bool clientLeft = false;

private:
    void accept() {
        client_ = server_.nextPendingConnection();
        ++connections;
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
            std::chrono::milliseconds delay = 0ms;
            for (const QByteArray& piece : step.reply) {
                QTimer::singleShot(delay, client_,
                                   [client = client_, piece] { client->write(piece); });
                delay += 25ms;
            }
            if (step.hangUp) {
                QTimer::singleShot(delay, client_,
                                   [client = client_] { client->disconnectFromHost(); });
            }
        }
    }

    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    QList<Step> script_;
    qsizetype consumed_ = 0;
};

const QList<ScriptedServer::Step> kUpToMailFrom = {{"", {"220 ready\r\n"}},
                                                   {"\r\n", {"250 hello\r\n"}}};
const QList<ScriptedServer::Step> kUpToData =
    kUpToMailFrom + QList<ScriptedServer::Step>{{"\r\n", {"250 ok\r\n"}}, {"\r\n", {"250 ok\r\n"}}};
const QList<ScriptedServer::Step> kWholeDialogue =
    kUpToData + QList<ScriptedServer::Step>{{"\r\n", {"354 go ahead\r\n"}},
                                            {"\r\n.\r\n", {"250 queued\r\n"}},
                                            {"\r\n", {"221 bye\r\n"}, true}};

class TellAFriendWindow : public ::testing::Test {
protected:
    void TearDown() override { delete window_; }

    void open(quint16 port, std::chrono::milliseconds tick = 10ms) {
        delete window_;
        boxes_.shown.clear();
        window_ = new frmBugReport(boxes_, testing::mailConfiguration(port), tick);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
    }

    QPushButton& send() const { return child<QPushButton>(*window_, "cmdSend"); }
    void clickSend() const { QTest::mouseClick(&send(), Qt::LeftButton); }
    bool boxShown() const { return !boxes_.shown.empty(); }

    // The window's control that has the focus, rather than a part inside it.
    QString focused() const {
        const QWidget* widget = window_->focusWidget();
        while (widget != nullptr &&
               (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))) {
            widget = widget->parentWidget();
        }
        return widget != nullptr ? widget->objectName() : QString();
    }

    RecordingMessageBox boxes_;
    QPointer<frmBugReport> window_;
};

TEST_F(TellAFriendWindow, OpensLaidOutAt15TwipsAPixelOnTheThirdSubjectInFillingOrder) {
    open(25);
    ASSERT_EQ(window_->logicalDpiX(), 96) << "the pixels below are for 96 dpi";
    EXPECT_EQ(window_->windowTitle(), "Tell a Friend About Quorvane");
    // Our own icon, drawn at 16 and 32 pixels, not the style's information sign.
    const QIcon icon = window_->windowIcon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    EXPECT_NE(icon.pixmap(32).toImage().convertToFormat(QImage::Format_ARGB32),
              window_->style()
                  ->standardIcon(QStyle::SP_MessageBoxInformation)
                  .pixmap(32)
                  .toImage()
                  .convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(window_->size(), QSize(456, 388));
    EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
    const QPoint offCentre =
        window_->frameGeometry().center() - window_->screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    const struct {
        const char* name;
        const char* parent;
        QRect geometry;
        const char* caption;
    } controls[] = {
        {"Frame1", "frmBugReport", {8, 8, 441, 321}, ""},
        {"cboSubject", "Frame1", {168, 24, 265, 21}, nullptr},
        {"Label1", "Frame1", {16, 28, 153, 17}, "Select a Subject"},
        {"txtFriendsName", "Frame1", {168, 52, 265, 21}, ""},
        {"Label7", "Frame1", {16, 56, 153, 17}, "Your Friend's name"},
        {"Label4", "Frame1", {16, 83, 153, 17}, "Your Friend's Email Address"},
        {"Label5", "Frame1", {16, 111, 153, 17}, "Enter Your Name"},
        {"txtFrom", "Frame1", {168, 135, 265, 21}, ""},
        {"Label2", "Frame1", {16, 139, 153, 17}, "Enter Your Email Address"},
        {"Label3", "Frame1", {96, 176, 153, 17}, "Comments (Optional)"},
        {"txtComments", "Frame1", {96, 192, 337, 121}, nullptr},
        {"Image1", "Frame1", {24, 216, 48, 48}, ""},
        {"Label6", "frmBugReport", {8, 336, 441, 13}, "Haldrix does not collect email address's"},
        {"lblStatus", "frmBugReport", {8, 360, 272, 22}, "Status - Ready"},
        {"cmdSend", "frmBugReport", {293, 360, 73, 23}, "&Send"},
        {"cmdExit", "frmBugReport", {376, 360, 73, 23}, "&Cancel"},
    };
    for (const auto& control : controls) {
        const auto& widget = child<QWidget>(*window_, control.name);
        EXPECT_EQ(widget.parentWidget()->objectName(), control.parent) << control.name;
        EXPECT_EQ(widget.geometry(), control.geometry) << control.name;
        if (control.caption != nullptr) {
            const QString caption =
                widget.property(widget.inherits("QGroupBox") ? "title" : "text").toString();
            EXPECT_EQ(caption, control.caption) << control.name;
        }
    }
    const QFont notice = child<QLabel>(*window_, "Label6").font();
    EXPECT_TRUE(notice.underline());
    EXPECT_EQ(notice.family(), "MS Sans Serif");
    // Whatever face stands in for it, the captions fit their boxes.
    for (const char* name : {"Label4", "Label2", "Label6"}) {
        const auto& label = child<QLabel>(*window_, name);
        EXPECT_LE(label.sizeHint().width(), label.width()) << name;
    }

    const auto& subject = child<QComboBox>(*window_, "cboSubject");
    QStringList entries;
    for (int i = 0; i < subject.count(); ++i) {
        entries << subject.itemText(i);
    }
    EXPECT_EQ(entries, QStringList({" I Highly Recommend It!", " I Thought You'd Want To See This",
                                    " I'm using a new program", " This seems like a good one",
                                    " Check Out This Program"}));
    EXPECT_EQ(subject.currentText(), " I'm using a new program");
    EXPECT_TRUE(child<QLineEdit>(*window_, "txtUrl").isHidden());
    EXPECT_EQ(child<QLineEdit>(*window_, "txtUrl").text(), "http://maker.test/Pages/Useful.html");
    EXPECT_TRUE(child<QPlainTextEdit>(*window_, "txtMessage").isHidden());

    // Tab moves through the fields in the order they are filled in.
    EXPECT_EQ(focused(), "txtFriendsName");
    QStringList order;
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(window_->focusWidget(), Qt::Key_Tab);
        order << focused();
    }
    EXPECT_EQ(order, QStringList({"txtFriend", "txtName", "txtFrom", "cboSubject", "txtComments",
                                  "cmdSend", "cmdExit", "txtFriendsName"}));
}

TEST_F(TellAFriendWindow, SendsTheWholeDialogueByteForByteAndUnloadsAfterSuccess) {
    ScriptedServer server({{"", {"220-smtp.test greets you\r\n", "220 ready\r\n"}},
                           {"\r\n", {"250 hello\r\n"}},
                           {"\r\n", {"250-sender ok\r\n", "250 go on\r\n"}},
                           {"\r\n", {"250 recipient ok\r\n"}},
                           {"\r\n", {"354 go ahead\r\n"}},
                           {"\r\n.\r\n", {"250 queued\r\n"}},
                           {"\r\n", {"221 bye\r\n"}, true}});
    open(server.port());
    testing::fillIn(*window_);
    QString statusWhileShown;
    boxes_.whileShown = [&] { statusWhileShown = child<QLabel>(*window_, "lblStatus").text(); };
    clickSend();

    ASSERT_TRUE(eventually([&] { return boxShown(); }));
    EXPECT_EQ(boxes_.shown, Boxes({{testing::kSuccessText, 64, "Message Sent"}}));
    EXPECT_EQ(statusWhileShown, "Message Sent");
    ASSERT_TRUE(eventually([&] { return server.clientLeft; }));
    // The comment's "." and ".." lines go out with one more dot each.
    EXPECT_EQ(server.received.toStdString(), "HELO " + QHostInfo::localHostName().toStdString() +
                                                 "\r\n"
                                                 "MAIL FROM:<bo@example.test>\r\n"
                                                 "RCPT TO:<ann@example.test>\r\n"
                                                 "DATA\r\n" +
                                                 testing::kMessageHead + "..\r\n...\r\n" +
                                                 testing::kMessageTail +
                                                 "\r\n.\r\n"
                                                 "QUIT\r\n");
    EXPECT_TRUE(eventually([&] { return window_.isNull(); }));
}

// However a send fails, one box says why, and the window stays with Send usable again.
TEST_F(TellAFriendWindow, FailedSendShowsOneBoxAndLeavesSendUsable) {
    using Script = QList<ScriptedServer::Step>;
    const std::string serverError = "Server returned the following error:\r\n";
    enum Endpoint { kScripted, kNothingListens, kAcceptsNoMore };
    const struct {
        const char* what;
        Endpoint endpoint;
        Script script;
        std::string text;
        std::chrono::milliseconds tick = 10ms;
    } cases[] = {
        {"wrong greeting",
         kScripted,
         {{"", {"554 no service here\r\n"}}},
         serverError + "554 no service here\r\n"},
        {"wrong RCPT TO reply", kScripted,
         kUpToMailFrom +
             Script{{"\r\n", {"250 ok\r\n"}}, {"\r\n", {"550-no such user\r\n550 bye\r\n"}}},
         serverError + "550-no such user\r\n550 bye\r\n"},
        {"endless continuation lines",
         kScripted,
         {{"", QList<QByteArray>(3, QByteArray("220-flood\r\n").repeated(3000))}},
         serverError + "220-flood ...\r\n"},
        {"silent greeting", kScripted, {{"", {}}}, kTimeoutText},
        {"silence after DATA", kScripted, kUpToData + Script{{"\r\n", {}}}, kTimeoutText},
        // Real one-second ticks: waiting them out would take 30 s, so the box must come at once.
        {"hang-up mid-dialogue", kScripted, kUpToMailFrom + Script{{"\r\n", {}, true}},
         kTimeoutText, 1000ms},
        {"refused connection", kNothingListens, {}, "Connection refused"},
        {"connection never completes", kAcceptsNoMore, {}, kTimeoutText},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.what);
        std::optional<ScriptedServer> server;
        // One connection taken, one in the system's queue of length one, and the window's
        // connection attempt left unanswered.
        QTcpServer full;
        QTcpSocket fillers[2];
        quint16 port = 0;
        if (failure.endpoint == kScripted) {
            port = server.emplace(failure.script).port();
        } else if (failure.endpoint == kNothingListens) {
            QTcpServer probe;
            ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        } else {
            full.setListenBacklogSize(0);
            full.setMaxPendingConnections(1);
            ASSERT_TRUE(full.listen(QHostAddress::LocalHost, 0));
            port = full.serverPort();
            for (QTcpSocket& filler : fillers) {
                filler.connectToHost(QHostAddress::LocalHost, port);
                ASSERT_TRUE(
                    eventually([&] { return filler.state() == QAbstractSocket::ConnectedState; }));
            }
        }
        open(port, failure.tick);
        testing::fillIn(*window_);
        QElapsedTimer clock;
        clock.start();
        clickSend();
        ASSERT_TRUE(eventually([&] { return boxShown(); }, 3s));
        if (failure.text == kTimeoutText && failure.tick == 10ms) {
            // 30 ticks of 10 ms, less what coarse timers may fire early.
            EXPECT_GE(clock.elapsed(), 280);
        }
        if (server) {
            EXPECT_TRUE(eventually([&] { return server->clientLeft; }));
        }
        QTest::qWait(100);
        EXPECT_EQ(boxes_.shown, Boxes({{failure.text, 0, "Quorvane"}}));
        EXPECT_TRUE(send().isEnabled());
        EXPECT_FALSE(window_.isNull());
    }
}

TEST_F(TellAFriendWindow, CancelOrCloseBoxMidSessionDropsTheConnectionSilently) {
    for (const bool byCancel : {true, false}) {
        SCOPED_TRACE(byCancel ? "Cancel" : "close box");
        ScriptedServer server(kUpToMailFrom + QList<ScriptedServer::Step>{{"\r\n", {}}});
        open(server.port());
        testing::fillIn(*window_);
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
}

TEST_F(TellAFriendWindow, ChecksOneFieldPerClickInTableOrderAndLetsSpacesPass) {
    ScriptedServer server(kWholeDialogue);
    open(server.port());
    auto& subject = child<QComboBox>(*window_, "cboSubject");
    subject.lineEdit()->clear();
    QTest::keyClicks(subject.lineEdit(), "Please Choose a Subject");
    const struct {
        const char* field;
        std::string text;
        std::string title;
        const char* spaces;
    } checks[] = {
        {"cboSubject", "You must choose a Subject for the email     ", "No Subject Chosen", ""},
        {"txtFriendsName", "Please enter your friend's name     ", "No Name", "  "},
        {"txtFriend", "Please enter your friend's email address     ", "No Email Address", " "},
        {"txtName", "Please enter your name     ", "No Name", "   "},
        {"txtFrom", "Please enter your email address     ", "No Email Address", "    "},
    };
    for (const auto& check : checks) {
        boxes_.shown.clear();
        clickSend();
        EXPECT_EQ(boxes_.shown, Boxes({{check.text, 64, check.title}})) << check.field;
        EXPECT_EQ(focused(), check.field);
        if (QLatin1String(check.field) == "cboSubject") {
            subject.setCurrentIndex(0);
        } else {
            QTest::keyClicks(&child<QLineEdit>(*window_, check.field), check.spaces);
        }
    }
    boxes_.shown.clear();
    clickSend();
    ASSERT_TRUE(eventually([&] { return boxShown(); }));
    EXPECT_EQ(boxes_.shown, Boxes({{testing::kSuccessText, 64, "Message Sent"}}));
    EXPECT_EQ(server.connections, 1);
    EXPECT_TRUE(server.received.contains("MAIL FROM:<    >\r\nRCPT TO:< >\r\n"));
    EXPECT_TRUE(server.received.contains("\r\nSubject: From:     -  I Highly Recommend It!\r\n"));
}

TEST_F(TellAFriendWindow, RefusesALineBreakInANameOrAddressWithTheFocusOnIt) {
    ScriptedServer server(kUpToMailFrom);
    const std::pair<const char*, const char*> pasted[] = {
        {"txtFriendsName", "Ann\r\nRCPT TO:<other@example.test>"},
        {"txtFriend", "ann@example.test\nBcc: other@example.test"},
        {"txtName", "Bo\rX-Extra: yes"},
        {"txtFrom", "bo@example.test\r\n"}};
    for (const auto& [field, text] : pasted) {
        open(server.port());
        testing::fillIn(*window_);
        child<QLineEdit>(*window_, field).setText(text);
        clickSend();
        ASSERT_EQ(boxes_.shown.size(), 1u) << field;
        EXPECT_EQ(boxes_.shown[0].title, "Line Break Not Allowed") << field;
        EXPECT_EQ(boxes_.shown[0].style, 64) << field;
        EXPECT_EQ(focused(), field);
        EXPECT_TRUE(send().isEnabled()) << field;
    }
    QTest::qWait(100);
    EXPECT_EQ(server.connections, 0);
}

}  // namespace
}  // namespace quorvane::mailer
