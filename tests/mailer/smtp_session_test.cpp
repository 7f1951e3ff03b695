// The SMTP dialogue driven through its notifications, against a fake window, socket and timer
// that record what the session does to them; then the reply codes and the framing of replies that
// arrive in pieces, several at once, or garbled; then the recommendation body, and the date and
// identifier of the message sent after DATA (its headers are checked whole where the session sends
// them).
#include "mailer/smtp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <numeric>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "mailer/message_text.h"
#include "mailer/smtp_reply.h"
#include "tests/support/contains.h"
#include "toolkit/application.h"

namespace quorvane::mailer {
namespace {

using Box = std::tuple<std::string, int, std::string>;  // text, style, title
using Events = std::vector<std::string>;

const std::string kTitle = toolkit::kApplicationTitle;
const Box kTimeoutBox{"Could not connect to host!     \r\nPlease try again later.     ", 0, kTitle};
const Box kSuccessBox{
    "Your Message has been Sent Successfully.     \r\n\r\nThanks for telling a "
    "friend about Quorvane     ",
    64, "Message Sent"};
// One good reply for each wait after the connection.
const Events kReplies = {"220 mx.test ready\r\n", "250 mx.test\r\n", "250 ok\r\n", "250 ok\r\n",
                         "354 go ahead\r\n",      "250 queued\r\n"};
const Events kSends = {
    "HELO desk.local\r\n",
    "MAIL FROM:<bob@a.test>\r\n",
    "RCPT TO:<ann@b.test>\r\n",
    "DATA\r\n",
    "From: <bob@a.test>\r\nTo: ann@b.test\r\nSubject: From: Bob -  Check Out This Program\r\n"
    "Date: Thu, 01 Jan 1970 00:00:00 +0000\r\nMessage-ID: <1@desk.local>\r\nX-Mailer: "
    "HaldrixTellaFriend\r\nMime-Version: 1.0\r\nContent-Type: text/plain;\t"
    "charset=us-ascii\r\n\r\nHi.\r\n..\r\nBye",
    "\r\n.\r\n",
    "QUIT\r\n"};

class Rig : public MailWindow, public MailSocket, public MailTimer {
public:
    void setStatus(const std::string& text) override { events.push_back("status " + text); }
    void setSendEnabled(bool enabled) override { sendEnabled = enabled; }
    void showMessage(const std::string& text, int style, const std::string& title) override {
        boxes.emplace_back(text, style, title);
        events.push_back("box");
        if (const auto hook = std::exchange(duringBox, nullptr)) {
            hook();
        }
    }
    std::string friendsName() const override { return friend_; }
    std::string comments() const override { return ""; }
    std::string productUrl() const override { return "http://w.test/Pages/Useful.html"; }
    std::string senderName() const override { return "Bob"; }
    void setMessageText(const std::string& body) override { message = body; }
    std::string messageText() const override { return message; }
    void unload() override { events.push_back("unload"); }
    void send(const std::string& text) override { sends.push_back(text); }
    void close() override {
        closed = true;
        events.push_back("close");
    }
    bool isClosed() const override { return closed; }
    std::string localHostName() const override { return "desk.local"; }
    void start() override { timerRunning = true; }
    void stop() override { timerRunning = false; }

    void ticks(int count) {
        while (count-- > 0) {
            session.onTick();
        }
    }
    // Send pressed, then the wait for kReplies[wait - 1] (0: the connection's own wait), every
    // earlier wait having seen 29 ticks.
    void reachWait(std::size_t wait) {
        sendEnabled = closed = false;
        session.connecting(
            {"bob@a.test", "ann@b.test", "From: Bob -  Check Out This Program", "plain;"});
        for (std::size_t i = 0; i < wait; ++i) {
            ticks(kTimeoutTicks - 1);
            if (i == 0) {
                friend_ = "Anna";  // typed meanwhile: the body is composed at the connection
                session.onConnected();
                EXPECT_TRUE(message.starts_with("Hi Anna,\r\n") && message.ends_with("\r\nBob"));
                message = "Hi.\r\n.\r\nBye";  // what the DATA step must send, dot-stuffed
            } else {
                session.onDataArrived(kReplies[i - 1]);
            }
        }
    }
    // Every failure closes the connection before its box: nothing is read while it is up.
    void expectFailedWith(const Box& box) {
        EXPECT_EQ(boxes, std::vector<Box>{box});
        EXPECT_TRUE(closed && sendEnabled && !timerRunning && !session.inProgress());
        const Events end{"close", "status Status - Ready", "box"};
        EXPECT_TRUE(events.size() >= 3 && std::equal(end.begin(), end.end(), events.end() - 3));
    }

    std::string friend_ = "Ann", message;
    Events sends, events;
    std::vector<Box> boxes;
    bool sendEnabled = true, closed = true, timerRunning = false;
    std::function<void()> duringBox;
    SmtpSession session{*this,
                        *this,
                        *this,
                        {kTitle, {"m1.test", "m2.test", "m3.test"}, [](const std::string& host) {
                             return MessageStamp{{}, "<1@" + host + ">"};
                         }}};
};

TEST(SmtpSessionTest, SendsTheWholeDialogueHoweverTheRepliesAreCut) {
    const std::string all = std::accumulate(kReplies.begin(), kReplies.end(), std::string());
    Events bytes;
    for (const char c : all) {
        bytes.emplace_back(1, c);
    }
    // 251 ("will forward") takes the recipient as 250 does.
    Events forwarded = kReplies;
    forwarded[3] = "251 User not local; will forward\r\n";
    const std::pair<const char*, Events> arrivals[] = {{"reply by reply", kReplies},
                                                       {"all at once", {all}},
                                                       {"byte by byte", bytes},
                                                       {"251 at the recipient", forwarded}};
    for (const auto& [how, chunks] : arrivals) {
        SCOPED_TRACE(how);
        Rig rig;
        rig.reachWait(1);
        for (const std::string& chunk : chunks) {
            rig.session.onDataArrived(chunk);
        }
        EXPECT_EQ(rig.sends, kSends);
        // The connection goes before the success box, and Send stays off until the unload.
        EXPECT_EQ(rig.events, (Events{"status Connected", "status Receiving Welcome Message",
                                      "status Sending Mail . . .", "close", "status Message Sent",
                                      "box", "close", "unload"}));
        EXPECT_EQ(rig.boxes, std::vector<Box>{kSuccessBox});
        EXPECT_TRUE(rig.sendEnabled && !rig.timerRunning && !rig.session.inProgress());
    }
}

// At each wait, for kReplies[wait - 1] (0: the connection's own): silence, the peer's close, a
// socket error and a reply with another code each end the session with one box, after what came
// before was sent.
TEST(SmtpSessionTest, SilencePeerCloseSocketErrorOrAnotherCodeAtAnyWaitEndsTheSession) {
    // 251 ("will forward") takes a recipient, and only a recipient.
    const char* const wrongReply[] = {
        nullptr,      "hello\r\n",  "501-bad\r\n501 syntax\r\n", "251 forwarded\r\n",
        "550 no\r\n", "250 ok\r\n", "251 forwarded\r\n"};
    for (std::size_t wait = 0; wait <= kReplies.size(); ++wait) {
        SCOPED_TRACE(wait);
        Rig silent, dropped, failed, refused;
        silent.reachWait(wait);
        silent.ticks(kTimeoutTicks - 1);
        EXPECT_TRUE(silent.boxes.empty() && !silent.closed && silent.timerRunning);
        silent.ticks(1);
        silent.expectFailedWith(kTimeoutBox);
        dropped.reachWait(wait);
        dropped.session.onDisconnected();
        // Dropped after the whole message: it may have been taken.
        dropped.expectFailedWith(wait == kReplies.size() ? Box{kLostAfterMessageText, 0, kTitle}
                                                         : kTimeoutBox);
        // A socket error too, except the one that is ignored.
        failed.reachWait(wait);
        failed.session.onSocketError(kIgnoredSocketError, "ignored");
        EXPECT_TRUE(failed.boxes.empty() && failed.timerRunning && failed.session.inProgress());
        failed.session.onSocketError(10061, "Connection is forcefully rejected");
        failed.expectFailedWith({"Connection is forcefully rejected", 0, kTitle});
        if (wait == 0) {
            continue;
        }
        refused.reachWait(wait);
        refused.session.onDataArrived(wrongReply[wait] + std::string("250-left over"));
        refused.expectFailedWith(
            {"Server returned the following error:\r\n" + std::string(wrongReply[wait]), 0,
             kTitle});
        EXPECT_EQ(refused.sends,
                  Events(kSends.begin(), kSends.begin() + (wait < 6 ? wait - 1 : 6)));
        // What the failed session left unread does not reach the next one.
        refused.reachWait(kReplies.size() + 1);
        EXPECT_EQ(refused.boxes.back(), kSuccessBox);
    }
}

TEST(SmtpSessionTest, NotificationsOutsideASessionChangeNothing) {
    const struct {
        std::function<void(Rig&)> end;
        std::size_t boxes, unloads;
    } cases[] = {
        {[](Rig& rig) { rig.reachWait(7); }, 1, 1},
        {[](Rig& rig) { rig.reachWait(3), rig.session.onDataArrived("550 x\r\n"); }, 1, 0},
        {[](Rig& rig) { rig.reachWait(2), rig.ticks(kTimeoutTicks); }, 1, 0},
        {[](Rig& rig) { rig.reachWait(4), rig.session.CloseConnection(); }, 0, 0},
        // The window closed while the success box is shown is going already.
        {[](Rig& rig) {
             rig.duringBox = [&rig] { rig.session.CloseConnection(); };
             rig.reachWait(7);
         },
         1, 0},
    };
    for (const auto& c : cases) {
        Rig rig;
        // What a server may still send, also while the outcome's box is shown.
        const auto late = [&rig] {
            rig.session.onDataArrived("221 bye\r\n");
            rig.session.onDisconnected();
            rig.ticks(kTimeoutTicks);
            rig.session.onSocketError(10054, "reset");
            rig.session.onConnected();
        };
        rig.duringBox = late;
        c.end(rig);
        EXPECT_EQ(rig.boxes.size(), c.boxes);
        EXPECT_EQ(std::count(rig.events.begin(), rig.events.end(), "unload"), c.unloads);
        const Events events = rig.events, sends = rig.sends;
        late();
        EXPECT_EQ(rig.events, events);
        EXPECT_EQ(rig.sends, sends);
        EXPECT_FALSE(rig.timerRunning || rig.session.inProgress() || !rig.sendEnabled);
    }
}

TEST(ReplyCodeTest, ReadsTheDigitsThatBeginTheTextBeforeItsFirstSpace) {
    const std::pair<const char*, int> cases[] = {
        {"250 ok\r\n", 250}, {"250", 250},  {"220-mx ready\r\n220 ok\r\n", 220},
        {"354go on", 354},   {"", 0},       {" 250 ok", 0},
        {"ok 250", 0},       {"-250 x", 0}, {"0250 x", 250},
        {"2501 x", 2501},
    };
    for (const auto& [reply, code] : cases) {
        EXPECT_EQ(replyCode(reply), code) << reply;
    }
    // 2^32 + 250 and 2^64 + 250: a number too long must not wrap round onto an expected code.
    EXPECT_NE(replyCode("4294967546 ok"), 250);
    EXPECT_NE(replyCode("18446744073709551866 ok"), 250);
}

// Replies cut anywhere on the way are a property (mailer_property_test.cpp); these are the
// forms a well-behaved server does not send.
TEST(SmtpReplyReaderTest, HandsOutEachReplyOnlyOnceItsFinalLineHasArrived) {
    using Replies = std::vector<std::pair<std::string, int>>;
    const struct {
        const char* what;
        std::vector<std::string> chunks;
        Replies replies;
    } cases[] = {
        {"several together; a bare code or garbage ends a reply",
         {"250 a\r\n250-b\r\n550 c\r\n250\r\nhello\r\n354 go\r\n"},
         {{"250 a\r\n", 250},
          {"250-b\r\n550 c\r\n", 250},
          {"250\r\n", 250},
          {"hello\r\n", 0},
          {"354 go\r\n", 354}}},
        {"no three digits before the dash",
         {"25-x\r\n25x-y\r\n"},
         {{"25-x\r\n", 25}, {"25x-y\r\n", 25}}},
        {"lone CR or LF ends no line", {"250 ok\n", "250 ok\r", "x"}, {}},
    };
    for (const auto& c : cases) {
        SmtpReplyReader reader;
        Replies taken;
        for (const std::string& chunk : c.chunks) {
            EXPECT_TRUE(reader.append(chunk));
            while (auto reply = reader.take()) {
                taken.emplace_back(reply->text, reply->code);
            }
        }
        EXPECT_EQ(taken, c.replies) << c.what;
    }
}

// How the start of a refused reply is folded for its box, the window's test of an endless line
// shows whole.
TEST(SmtpReplyReaderTest, RefusesRepliesAndLinesBeyondItsBoundsAndLetsGoOfThem) {
    const std::string longestLine = "250 " + std::string(kMaxReplyLine - 4, 'x') + "\r\n";
    std::string longestReply;
    while (longestReply.size() + 2 * 10 <= kMaxReply) {
        longestReply += "250-abcd\r\n";
    }
    longestReply += "250 " + std::string(kMaxReply - longestReply.size() - 6, 'x') + "\r\n";
    const struct {
        const char* what;
        std::string data;
        bool accepted;
    } cases[] = {
        {"a line as long as allowed", longestLine, true},
        {"one byte more", "2" + longestLine, false},
        // The piece of 1000 bytes ends in that line's CR: its LF is still to come.
        {"as long, cut after its CR", "250-" + std::string(897, 'x') + "\r\n" + longestLine, true},
        {"a line that never ends", std::string(kMaxReplyLine + 2, 'x'), false},
        {"a reply as long as allowed", longestReply, true},
        {"one line more", "250-abcd\r\n" + longestReply, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SmtpReplyReader reader;
        bool accepted = true;
        // In pieces, as a flood arrives.
        for (std::size_t at = 0; at < c.data.size() && accepted; at += 1000) {
            accepted = reader.append(std::string_view(c.data).substr(at, 1000));
        }
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(reader.take().has_value(), c.accepted);
    }
}

using namespace std::chrono;

const std::array<std::string, 3> kMirrors = {"m1.test", "m2.test", "m3.test"};

TEST(MessageTextTest, BodyHasItsNineteenLines) {
    const BodyFields fields{"Ann", "Great\ntool", "http://w.test/Pages/Useful.html", "Bob"};
    EXPECT_EQ(ComposeMessageBody(fields, "Quorvane", kMirrors),
              "Hi Ann,\r\n\r\nI just wanted to let you know that I'm using Quorvane and I thought "
              "you might like to try it.  So far, I'm impressed with it enough to recommend it to "
              "you.\r\n\r\nGreat\ntool\r\n\r\nIt's easy to download and use, so do it now! Just "
              "click on the link below for more information:\r\n\r\nQuorvane\r\n"
              "http://w.test/Pages/Useful.html\r\n\r\nHaldrix has about 150 other programs, most "
              "of which are Freeware.  Check any of these 3 mirrors:\r\n\r\nhttp://m1.test\r\n"
              "http://m2.test\r\nhttp://m3.test\r\n\r\nHave Fun There!\r\nBob");
    const std::string empty = ComposeMessageBody({}, "Quorvane", kMirrors);
    EXPECT_TRUE(testing::contains(empty, "to you.\r\n\r\n\r\n\r\nIt's easy"));
}

TEST(MessageTextTest, DateIsInTheInternetFormatAndEachIdentifierIsNew) {
    const std::pair<system_clock::time_point, const char*> dates[] = {
        {system_clock::time_point(), "Thu, 01 Jan 1970 00:00:00 +0000"},
        {sys_days(2000y / February / 29) + 23h + 59min + 59s + 999ms,
         "Tue, 29 Feb 2000 23:59:59 +0000"},
        {sys_days(2026y / December / 7) + 16h + 5min + 9s, "Mon, 07 Dec 2026 16:05:09 +0000"},
    };
    for (const auto& [date, text] : dates) {
        EXPECT_EQ(dateHeaderValue(date), text);
    }
    std::set<std::string> ids;
    for (const std::string host : {"desk.example", "desk.example", "bad host", ".x", ""}) {
        const MessageStamp stamp = freshStamp(host);
        ids.insert(stamp.messageId);
        const std::string right = host == "desk.example" ? host : "localhost.invalid";
        EXPECT_EQ(stamp.messageId.size(), 1 + 32 + 1 + right.size() + 1) << stamp.messageId;
        EXPECT_TRUE(stamp.messageId.starts_with('<') &&
                    stamp.messageId.ends_with("@" + right + ">"))
            << stamp.messageId;
        EXPECT_LT(system_clock::now() - stamp.date, 1min);
    }
    EXPECT_EQ(ids.size(), 5u);
}

}  // namespace
}  // namespace quorvane::mailer
