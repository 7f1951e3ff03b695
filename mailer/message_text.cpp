#include "mailer/message_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "formats/base64.h"

namespace quorvane::mailer {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// An encoded word is at most 75 characters (RFC 2047 section 2), and the first one shares its
// line of at most 76 with "Subject: ": 39 bytes give 52 base64 characters, a word of 64.
constexpr std::size_t kEncodedWordBytes = 39;
// A quoted-printable line is at most 76 characters, a soft line break's "=" included.
constexpr std::size_t kQuotedLineLength = 76;
// RFC 5322 section 2.1.1: a line SHOULD be at most 78 characters, CR LF not counted.
constexpr std::size_t kLineLength = 78;
constexpr std::string_view kSubjectName = "Subject: ";

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
        out += "=?UTF-8?B?" + formats::base64Encode(text.substr(start, end - start)) + "?=";
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

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t';
}

// The subject folded at its white space (RFC 5322 section 2.2.3: a CR LF goes before a space or
// a tab, and unfolding takes it out again), or nothing when a line would still be too long. A
// line of white space alone is never made.
std::optional<std::string> foldedAtWhiteSpace(std::string_view subject) {
    std::string out;
    std::size_t lineLength = kSubjectName.size();
    std::size_t i = 0;
    while (i < subject.size()) {
        // One piece: white space and the word after it.
        std::size_t end = i;
        while (end < subject.size() && isWhiteSpace(subject[end])) {
            ++end;
        }
        const bool hasWord = end < subject.size();
        while (end < subject.size() && !isWhiteSpace(subject[end])) {
            ++end;
        }
        const std::size_t length = end - i;
        if (i > 0 && hasWord && lineLength + length > kLineLength) {
            out += kCrLf;
            lineLength = 0;
        }
        out += subject.substr(i, length);
        lineLength += length;
        if (lineLength > kLineLength) {
            return std::nullopt;
        }
        i = end;
    }
    return out;
}

// RFC 5321 section 4.5.3.1.6: no line of the message may be longer than 998 characters.
constexpr std::size_t kMaxLineLength = 998;

// The lines of `text`, whose line breaks are all CR LF, without them.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(kCrLf, start)) != std::string_view::npos;
         start = end + kCrLf.size()) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

bool hasLongLine(std::string_view text) {
    const std::vector<std::string_view> lines = linesOf(text);
    return std::any_of(lines.begin(), lines.end(),
                       [](std::string_view line) { return line.size() > kLineLength; });
}

// Whether a line of flowed text begins with what RFC 3676 section 4.4 protects by one more
// space, which the reader takes off again.
bool needsStuffing(std::string_view line) {
    return line.starts_with(' ') || line.starts_with('>') || line.starts_with("From ");
}

// Text whose line breaks are all CR LF as RFC 3676 "format=flowed" text: a line longer than 78
// characters is broken after a space that a word follows, and the space left at the end of the
// line marks the break as soft, so the reader joins the lines again; the spaces at the end of the
// lines as written are taken off, since they would mark soft breaks too. A word too long for a
// line stays whole. Nothing when a line would still be longer than 998 characters.
std::optional<std::string> flowed(std::string_view text) {
    std::string out;
    bool first = true;
    for (std::string_view line : linesOf(text)) {
        line = line.substr(0, line.find_last_not_of(' ') + 1);
        do {
            const std::size_t stuffing = needsStuffing(line) ? 1 : 0;
            // The last soft break that keeps the line short, else the first one at all.
            std::size_t cut = line.size();
            if (line.size() + stuffing > kLineLength) {
                std::size_t best = std::string_view::npos;
                for (std::size_t i = 1; i < line.size(); ++i) {
                    if (line[i - 1] == ' ' && line[i] != ' ') {
                        const bool fits = i + stuffing <= kLineLength;
                        if (fits || best == std::string_view::npos) {
                            best = i;
                        }
                        if (!fits) {
                            break;
                        }
                    }
                }
                cut = std::min(cut, best);
            }
            if (cut + stuffing > kMaxLineLength) {
                return std::nullopt;
            }
            out += first ? "" : kCrLf;
            out += stuffing ? " " : "";
            out += line.substr(0, cut);
            first = false;
            line.remove_prefix(cut);
        } while (!line.empty());
    }
    return out;
}

// The host part of a message identifier: the host's name where it is one (letters, digits,
// hyphens and single dots), else a name that stands for no host.
std::string identifierHost(const std::string& hostName) {
    const bool valid = !hostName.empty() && hostName.front() != '.' && hostName.back() != '.' &&
                       hostName.find("..") == std::string::npos &&
                       std::all_of(hostName.begin(), hostName.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '-' || c == '.';
                       });
    return valid ? hostName : "localhost.invalid";
}

}  // namespace

MessageStamp freshStamp(const std::string& hostName) {
    std::random_device random;
    std::string unique;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        unique += part;
    }
    return {std::chrono::system_clock::now(), "<" + unique + "@" + identifierHost(hostName) + ">"};
}

std::string dateHeaderValue(std::chrono::system_clock::time_point date) {
    using namespace std::chrono;
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const sys_days day = floor<days>(date);
    const year_month_day ymd(day);
    const hh_mm_ss<seconds> time(floor<seconds>(date - day));
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d +0000",
                  kDays[weekday(day).c_encoding()], static_cast<unsigned>(ymd.day()),
                  kMonths[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

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

std::string composeMessage(const MailEnvelope& envelope, const MessageStamp& stamp,
                           const std::string& body) {
    const std::string lines = withCrLfLineBreaks(body);
    // A subject outside ASCII makes the whole message UTF-8.
    const bool ascii = isAscii(envelope.mailSubject) && isAscii(body);
    std::optional<std::string> subject;
    if (isAscii(envelope.mailSubject)) {
        subject = foldedAtWhiteSpace(envelope.mailSubject);
    }
    std::string message = "From: <" + envelope.mailFrom + ">\r\n";
    message += "To: " + envelope.mailTo + "\r\n";
    message += std::string(kSubjectName) + subject.value_or(encodedWords(envelope.mailSubject));
    message += "\r\nDate: " + dateHeaderValue(stamp.date);
    message += "\r\nMessage-ID: " + stamp.messageId;
    message += "\r\nX-Mailer: HaldrixTellaFriend\r\n";
    message += "Mime-Version: 1.0\r\n";
    message += "Content-Type: text/" + envelope.contentSubtype + "\t";
    message += ascii ? "charset=us-ascii" : "charset=utf-8";
    const bool longLines = hasLongLine(lines);
    const std::optional<std::string> flowedLines =
        ascii && longLines ? flowed(lines) : std::nullopt;
    if (ascii && !longLines) {
        message += "\r\n\r\n";
        message += withDotsStuffed(lines);
    } else if (flowedLines) {
        message += "; format=flowed\r\n\r\n";
        message += withDotsStuffed(*flowedLines);
    } else {
        message += kCrLf;
        // Its soft line breaks keep every line short, and no line begins with a ".".
        message += "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
        message += quotedPrintable(lines);
    }
    return message;
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace quorvane::mailer
