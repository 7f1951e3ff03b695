// The tell-a-friend mail's SMTP dialogue, driven by the socket's and the timer's notifications:
// greeting, HELO, MAIL FROM, RCPT TO, DATA, the message, the end-of-data mark and QUIT, each
// step waiting for the server's reply under a time-out of 30 timer ticks. Plain C++: the window
// gives it a socket, a timer and its controls through the small interfaces below.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "mailer/message_text.h"
#include "mailer/smtp_reply.h"

namespace quorvane::mailer {

// What the session needs of the window.
class MailWindow {
public:
    virtual ~MailWindow() = default;
    virtual void setStatus(const std::string& text) = 0;  // lblStatus
    virtual void setSendEnabled(bool enabled) = 0;        // cmdSend
    virtual void showMessage(const std::string& text, int style, const std::string& title) = 0;
    // The body's sources, read when the connection is made.
    virtual std::string friendsName() const = 0;               // txtFriendsName
    virtual std::string comments() const = 0;                  // txtComments
    virtual std::string productUrl() const = 0;                // txtUrl
    virtual std::string senderName() const = 0;                // txtName
    virtual void setMessageText(const std::string& body) = 0;  // txtMessage
    virtual std::string messageText() const = 0;
    // After a successful send.
    virtual void unload() = 0;
};

// What the session needs of the TCP socket.
class MailSocket {
public:
    virtual ~MailSocket() = default;
    virtual void send(const std::string& text) = 0;
    // Closing a socket that is closed already does nothing.
    virtual void close() = 0;
    virtual bool isClosed() const = 0;
    virtual std::string localHostName() const = 0;
};

// The window's 1000 ms timer.
class MailTimer {
public:
    virtual ~MailTimer() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
};

struct MailSettings {
    std::string applicationTitle;            // "Quorvane"
    std::array<std::string, 3> mirrorHosts;  // configuration Mail/Mirror1..3
    StampSource stamps = freshStamp;         // the message's date and identifier
};

inline constexpr int kTimeoutTicks = 30;
// When the server drops the connection after the whole message was sent, before it said whether
// it took it.
inline constexpr const char* kLostAfterMessageText =
    "The connection was lost after the whole message was sent, before the server confirmed "
    "it.\r\n\r\nThe mail may or may not have been delivered.";
// A socket error the dialogue passes over.
inline constexpr int kIgnoredSocketError = 40017;

class SmtpSession {
public:
    SmtpSession(MailWindow& window, MailSocket& socket, MailTimer& timer, MailSettings settings);

    // Send has captured `envelope` and asked the socket to connect: the connection's own wait
    // (the same 30-tick time-out as every other wait) begins.
    void connecting(MailEnvelope envelope);

    // Notifications.
    void onConnected();
    void onDataArrived(std::string_view data);
    void onSocketError(int number, const std::string& description);
    void onTick();
    // Peer closed the connection.
    void onDisconnected();

    // Closes the socket and enables Send again; ends every session. The window calls it when it
    // closes.
    void CloseConnection();

    bool inProgress() const;
    void setStampSource(StampSource stamps) { settings_.stamps = std::move(stamps); }

private:
    enum class Step { Idle, Connecting, Greeting, Helo, MailFrom, RcptTo, Data, Message, Done };

    void await(Step step);
    void replyArrived(const SmtpReply& reply);
    void advance();
    void fail(const std::string& text);
    void endConnection();
    void timedOut();

    MailWindow& window_;
    MailSocket& socket_;
    MailTimer& timer_;
    MailSettings settings_;
    MailEnvelope envelope_;
    SmtpReplyReader replies_;
    Step step_ = Step::Idle;
    int tickCount_ = 0;
};

}  // namespace quorvane::mailer
