// The text of the recommendation mail: the body composed from the window's fields, and the
// message sent after DATA with its headers.
#pragma once

#include <array>
#include <string>

namespace quorvane::mailer {

struct BodyFields {
    std::string friendsName;
    std::string comments;
    std::string productUrl;
    std::string senderName;
};

// The body's lines joined by CR LF, the last without a line break.
std::string ComposeMessageBody(const BodyFields& fields, const std::string& applicationTitle,
                               const std::array<std::string, 3>& mirrorHosts);

// The message sent after DATA, without the end-of-data mark: the headers, an empty line and the
// body with every line break made CR LF and every line that begins with "." given one more
// (RFC 5321 section 4.5.2). A subject or body outside ASCII makes the message UTF-8: the
// subject an RFC 2047 encoded word, the body quoted-printable; a pure-ASCII message is sent as
// composed.
std::string composeMessage(const std::string& mailFrom, const std::string& mailTo,
                           const std::string& mailSubject, const std::string& contentSubtype,
                           const std::string& body);

// Whether `text` holds a CR or an LF: such a text in an address, a name or the subject could add
// commands or headers, and Send refuses it.
bool hasLineBreak(const std::string& text);

}  // namespace quorvane::mailer
