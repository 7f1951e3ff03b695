// The text of the recommendation mail: the body composed from the window's fields, and the
// message sent after DATA with its headers.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace quorvane::mailer {

struct BodyFields {
    std::string friendsName;
    std::string comments;
    std::string productUrl;
    std::string senderName;
};

// What Send captures before it connects.
struct MailEnvelope {
    std::string mailFrom;        // text of txtFrom
    std::string mailTo;          // text of txtFriend
    std::string mailSubject;     // "From: " + sender's name + " - " + the chosen entry
    std::string contentSubtype;  // "plain;"
};

// What makes one message its own: when it was written, and an identifier that no other message
// has (RFC 5322 section 3.6.4), angle brackets included.
struct MessageStamp {
    std::chrono::system_clock::time_point date;
    std::string messageId;
};
// Gives the stamp of a new message written on the computer named `hostName`.
using StampSource = std::function<MessageStamp(const std::string& hostName)>;
// The system clock's time and 128 random bits at the host's name.
MessageStamp freshStamp(const std::string& hostName);
// RFC 5322 section 3.3, in UTC: "Mon, 07 Dec 2026 16:05:09 +0000".
std::string dateHeaderValue(std::chrono::system_clock::time_point date);

// The body's lines joined by CR LF, the last without a line break.
std::string ComposeMessageBody(const BodyFields& fields, const std::string& applicationTitle,
                               const std::array<std::string, 3>& mirrorHosts);

// The message sent after DATA, without the end-of-data mark: the headers, an empty line and the
// body with every line break made CR LF and every line that begins with "." given one more
// (RFC 5321 section 4.5.2). No line is longer than 78 characters (RFC 5322 section 2.1.1) but
// an address or a single long word, and none longer than 998: the subject is folded at its white
// space, and one that cannot be folded so, or one outside ASCII, becomes RFC 2047 encoded words;
// an ASCII body with longer lines is sent as RFC 3676 flowed text, or quoted-printable when a
// word would not fit in 998; a body outside ASCII is sent UTF-8 and quoted-printable. A
// short-lined ASCII body is sent as composed.
std::string composeMessage(const MailEnvelope& envelope, const MessageStamp& stamp,
                           const std::string& body);

// Whether `text` holds a CR or an LF: such a text in an address, a name or the subject could add
// commands or headers, and Send refuses it.
bool hasLineBreak(const std::string& text);

// Whether every character of `text` is ASCII. Without the SMTPUTF8 extension, which the session
// does not ask for, an address outside ASCII cannot be sent (RFC 6531).
bool isAscii(std::string_view text);

// The longest address a path may carry (RFC 5321 section 4.5.3.1.3: 256 with its brackets).
inline constexpr std::size_t kMaxAddressLength = 254;

}  // namespace quorvane::mailer
