#include "mailer/message_text.h"

#include <algorithm>
#include <string_view>

namespace quorvane::mailer {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// An encoded word is at most 75 characters (RFC 2047 section 2), and the first one shares its
// line of at most 76 with "Subject: ": 39 bytes give 52 base64 characters, a word of 64.
constexpr std::size_t kEncodedWordBytes = 39;
// A quoted-printable line is at most 76 characters, a soft line break's "=" included.
constexpr std::size_t kQuotedLineLength = 76;

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// The comments may hold line breaks of any kind as typed; on the wire every line ends with CR
// LF, and a lone CR or LF would be read differently by every server on the way.
std::string withCrLfLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += kCrLf;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += text[i];
        }
    }
    return out;
}

// RFC 5321 section 4.5.2: the server removes one leading "." of every line, so a line of only
// "." cannot end the message early. Every line break of `text` is CR LF already.
std::string withDotsStuffed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool lineStart = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (lineStart && text[i] == '.') {
            out += '.';
        }
        out += text[i];
        lineStart = text[i] == '\n';
    }
    return out;
}

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

// The bytes of the UTF-8 sequence that starts at `pos`; a stray byte counts as one.
std::size_t sequenceLength(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t length = 1;
    while (length < expected && pos + length < text.size() &&
           (static_cast<unsigned char>(text[pos + length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

// RFC 2047 "B" encoded words, each holding whole UTF-8 sequences so that every word decodes to
// valid text on its own; continuation words are folded onto lines of their own.
std::string encodedWords(std::string_view text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size()) {
            const std::size_t next = end + sequenceLength(text, end);
            if (next - start > kEncodedWordBytes) {
                break;
            }
            end = next;
        }
        if (!out.empty()) {
            out += "\r\n ";
        }
        out += "=?UTF-8?B?" + base64(text.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

std::string hexEscape(unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {'=', kHex[c >> 4], kHex[c & 0x0F]};
}

// One line of text, without its line break, as quoted-printable (RFC 2045 section 6.7): soft
// line breaks keep each line within 76 characters, white space at the end is encoded so that no
// transport strips it, and a "." that would begin a line is encoded, so no line begins with one.
std::string quotedPrintableLine(std::string_view line) {
    std::string out;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        const bool literal =
            (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
        std::string token = literal ? std::string(1, line[i]) : hexEscape(c);
        // The last token may fill the line; any other must leave room for the soft break's "=".
        const std::size_t room = last ? kQuotedLineLength : kQuotedLineLength - 1;
        if (out.size() - lineStart + token.size() > room) {
            out += "=\r\n";
            lineStart = out.size();
        }
        if (out.size() == lineStart && c == '.') {
            token = hexEscape(c);
        }
        out += token;
    }
    return out;
}

std::string quotedPrintable(std::string_view text) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(kCrLf, start);
        out += quotedPrintableLine(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return out;
        }
        out += kCrLf;
        start = end + kCrLf.size();
    }
}

}  // namespace

std::string ComposeMessageBody(const BodyFields& fields, const std::string& applicationTitle,
                               const std::array<std::string, 3>& mirrorHosts) {
    const std::string lines[] = {
        "Hi " + fields.friendsName + ",",
        "",
        "I just wanted to let you know that I'm using " + applicationTitle +
            " and I thought you might like to try it.  So far, I'm impressed with it enough to "
            "recommend it to you.",
        "",
        fields.comments,
        "",
        "It's easy to download and use, so do it now! Just click on the link below for more "
        "information:",
        "",
        applicationTitle,
        fields.productUrl,
        "",
        "Haldrix has about 150 other programs, most of which are Freeware.  Check any of these 3 "
        "mirrors:",
        "",
        "http://" + mirrorHosts[0],
        "http://" + mirrorHosts[1],
        "http://" + mirrorHosts[2],
        "",
        "Have Fun There!",
        fields.senderName,
    };
    std::string body;
    for (const std::string& line : lines) {
        if (&line != &lines[0]) {
            body += kCrLf;
        }
        body += line;
    }
    return body;
}

std::string composeMessage(const std::string& mailFrom, const std::string& mailTo,
                           const std::string& mailSubject, const std::string& contentSubtype,
                           const std::string& body) {
    const bool ascii = isAscii(mailSubject) && isAscii(body);
    const std::string lines = withCrLfLineBreaks(body);
    std::string message = "From: <" + mailFrom + ">\r\n";
    message += "To: " + mailTo + "\r\n";
    message += "Subject: " + (isAscii(mailSubject) ? mailSubject : encodedWords(mailSubject));
    message += "\r\nX-Mailer: HaldrixTellaFriend\r\n";
    message += "Mime-Version: 1.0\r\n";
    message += "Content-Type: text/" + contentSubtype + "\t";
    if (ascii) {
        message += "charset=us-ascii\r\n\r\n";
        message += withDotsStuffed(lines);
    } else {
        message += "charset=utf-8\r\n";
        message += "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
        message += quotedPrintable(lines);
    }
    return message;
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace quorvane::mailer
