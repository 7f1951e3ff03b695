#include "mailer/smtp_session.h"

#include <utility>

#include "mailer/message_text.h"
#include "toolkit/message_box.h"

namespace quorvane::mailer {

namespace {

constexpr const char* kIdleStatus = "Status - Ready";
constexpr const char* kServerErrorText = "Server returned the following error:\r\n";
constexpr const char* kTimeoutText =
    "Could not connect to host!     \r\nPlease try again later.     ";
constexpr const char* kTooLongText =
    "\r\nThe reply was too long for Quorvane to read; only its start is shown.";

// From Connecting to Message the session waits, for the connection or a reply, under the
// time-out; outside that span the socket's and the timer's notifications belong to no session.
template <typename Step>
bool waiting(Step step) {
    return step >= Step::Connecting && step <= Step::Message;
}

template <typename Step>
bool awaitingReply(Step step) {
    return step >= Step::Greeting && step <= Step::Message;
}

}  // namespace

SmtpSession::SmtpSession(MailWindow& window, MailSocket& socket, MailTimer& timer,
                         MailSettings settings)
    : window_(window), socket_(socket), timer_(timer), settings_(std::move(settings)) {}

void SmtpSession::connecting(MailEnvelope envelope) {
    envelope_ = std::move(envelope);
    replies_.clear();
    await(Step::Connecting);
}

void SmtpSession::onConnected() {
    if (step_ != Step::Connecting) {
        return;
    }
    timer_.stop();
    // The body is taken from the fields as they are now, not as they were at Send.
    window_.setMessageText(ComposeMessageBody(
        {window_.friendsName(), window_.comments(), window_.productUrl(), window_.senderName()},
        settings_.applicationTitle, settings_.mirrorHosts));
    window_.setStatus("Connected");
    await(Step::Greeting);
}

void SmtpSession::onDataArrived(std::string_view data) {
    if (!awaitingReply(step_)) {
        return;
    }
    if (!replies_.append(data)) {
        fail(kServerErrorText + replies_.rejectedStart() + kTooLongText);
        return;
    }
    // One step per complete reply: a server that answers ahead of our commands, or whose replies
    // arrive together, is still answered in order.
    while (awaitingReply(step_)) {
        const std::optional<SmtpReply> reply = replies_.take();
        if (!reply) {
            return;
        }
        replyArrived(*reply);
    }
}

void SmtpSession::onSocketError(int number, const std::string& description) {
    if (number == kIgnoredSocketError || !waiting(step_)) {
        return;
    }
    fail(description);
}

void SmtpSession::onTick() {
    if (!waiting(step_)) {
        return;
    }
    if (++tickCount_ >= kTimeoutTicks) {
        timedOut();
    }
}

void SmtpSession::onDisconnected() {
    // No reply can come any more: waiting out the time-out would only keep the user waiting.
    // After the whole message went, the server may have taken it without saying so.
    if (step_ == Step::Message) {
        fail(kLostAfterMessageText);
    } else if (waiting(step_)) {
        timedOut();
    }
}

void SmtpSession::CloseConnection() {
    endConnection();
    window_.setSendEnabled(true);
    step_ = Step::Idle;
}

bool SmtpSession::inProgress() const {
    return step_ != Step::Idle;
}

void SmtpSession::await(Step step) {
    step_ = step;
    tickCount_ = 0;
    timer_.start();
}

void SmtpSession::replyArrived(const SmtpReply& reply) {
    timer_.stop();
    const int required = step_ == Step::Greeting ? 220 : step_ == Step::Data ? 354 : 250;
    // RFC 5321 section 4.3.2: a recipient may also be taken with 251, "will forward".
    const bool accepted = reply.code == required || (step_ == Step::RcptTo && reply.code == 251);
    if (!accepted) {
        fail(kServerErrorText + reply.text);
        return;
    }
    advance();
}

void SmtpSession::advance() {
    switch (step_) {
        case Step::Greeting:
            window_.setStatus("Receiving Welcome Message");
            socket_.send("HELO " + socket_.localHostName() + "\r\n");
            await(Step::Helo);
            break;
        case Step::Helo:
            socket_.send("MAIL FROM:<" + envelope_.mailFrom + ">\r\n");
            await(Step::MailFrom);
            break;
        case Step::MailFrom:
            socket_.send("RCPT TO:<" + envelope_.mailTo + ">\r\n");
            await(Step::RcptTo);
            break;
        case Step::RcptTo:
            socket_.send("DATA\r\n");
            await(Step::Data);
            break;
        case Step::Data:
            window_.setStatus("Sending Mail . . .");
            socket_.send(composeMessage(envelope_, settings_.stamps(socket_.localHostName()),
                                        window_.messageText()));
            socket_.send("\r\n.\r\n");
            await(Step::Message);
            break;
        case Step::Message:
            socket_.send("QUIT\r\n");
            // The box lets events run: nothing more is read while it is up.
            endConnection();
            window_.setStatus("Message Sent");
            window_.showMessage(
                "Your Message has been Sent Successfully.     \r\n\r\nThanks for "
                "telling a friend about " +
                    settings_.applicationTitle + "     ",
                toolkit::kInformation, "Message Sent");
            if (step_ != Step::Done) {
                return;  // the window was closed while the box was shown and is going already
            }
            CloseConnection();
            window_.unload();
            break;
        default:
            break;
    }
}

void SmtpSession::fail(const std::string& text) {
    // The box lets events run: the connection goes first, so that nothing the server sends
    // meanwhile is read or held.
    CloseConnection();
    window_.setStatus(kIdleStatus);
    window_.showMessage(text, toolkit::kOkOnly, settings_.applicationTitle);
}

void SmtpSession::endConnection() {
    socket_.close();
    replies_.clear();
    timer_.stop();
    // Send stays disabled until the window goes.
    step_ = Step::Done;
}

void SmtpSession::timedOut() {
    fail(kTimeoutText);
}

}  // namespace quorvane::mailer
