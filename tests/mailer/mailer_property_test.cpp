// What holds for every mail Quorvane composes and every way a server's replies arrive: the
// message read as a mail reader reads it (unfolded, encoded words and quoted-printable decoded,
// flowed lines joined, the transparency dots taken off) gives the subject and the comments as
// typed; no line is longer than 998 characters, nor than 78 where it could break; and replies cut
// anywhere on the way are handed out as they were sent.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <QByteArray>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "formats/utf16.h"
#include "mailer/message_text.h"
#include "mailer/smtp_reply.h"

namespace quorvane::mailer {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

// RFC 2047: each encoded word alone is valid UTF-8; the white space between words goes.
std::string decodedSubject(const std::string& value) {
    if (!value.starts_with("=?UTF-8?B?")) {
        return value;
    }
    std::string out;
    for (std::size_t at = 0; (at = value.find("=?UTF-8?B?", at)) != std::string::npos;) {
        const std::size_t end = value.find("?=", at + 10);
        const auto decoded = QByteArray::fromBase64Encoding(
            QByteArray::fromStdString(value.substr(at + 10, end - at - 10)),
            QByteArray::AbortOnBase64DecodingErrors);
        RC_ASSERT(decoded.decodingStatus == QByteArray::Base64DecodingStatus::Ok);
        const std::string word = decoded.decoded.toStdString();
        RC_ASSERT(formats::utf16ToUtf8(formats::utf8ToUtf16(word)) == word);
        out += word;
        at = end + 2;
    }
    return out;
}

// RFC 2045 section 6.7, lines joined by CR LF.
std::string fromQuotedPrintable(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool soft = line.ends_with('=');
        for (std::size_t k = 0; k < line.size() - (soft ? 1 : 0); ++k) {
            out += line[k] != '='
                       ? line[k]
                       : static_cast<char>(std::stoi(line.substr(k + 1, 2), nullptr, 16));
            k += line[k] == '=' ? 2 : 0;
        }
        out += soft || i + 1 == lines.size() ? "" : "\r\n";
    }
    return out;
}

// RFC 3676: a line that ends in a space goes on in the next; one leading space is stuffing.
std::string fromFlowed(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i].substr(lines[i].starts_with(' ') ? 1 : 0);
        out += lines[i].ends_with(' ') || i + 1 == lines.size() ? "" : "\r\n";
    }
    return out;
}

// Text as typed: ASCII words, spaces and the characters that mean something at a line's start
// or end, with lines of every length and line breaks of every kind; in half of the texts, now and
// then a character outside ASCII or a word longer than a line, or than any line may be.
rc::Gen<std::string> typed(bool lineBreaks) {
    return rc::gen::exec([lineBreaks] {
        const bool plain = *rc::gen::arbitrary<bool>();
        const auto piece = rc::gen::weightedOneOf<std::string>(
            {{20, rc::gen::elementOf<std::vector<std::string>>(
                      {"a", "Z", " ", "  ", ".", ">", "From ", "=", "\t"})},
             {lineBreaks ? 2u : 0u,
              rc::gen::elementOf<std::vector<std::string>>({"\n", "\r\n", "\r"})},
             {plain ? 0u : 1u, rc::gen::elementOf<std::vector<std::string>>(
                                   {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"})},
             {plain ? 0u : 1u, rc::gen::map(rc::gen::inRange(60, 1100),
                                            [](int n) { return std::string(n, 'w'); })}});
        std::string text;
        for (const std::string& part : *rc::gen::container<std::vector<std::string>>(piece)) {
            text += part;
        }
        return text;
    });
}

RC_GTEST_PROP(ComposedMessage, ReadsBackAsTypedWithinTheLineLimits, ()) {
    const std::string subject = *typed(false);
    const std::string body = *typed(true);
    const std::string message =
        composeMessage({"bob@a.test", "ann@b.test", subject, "plain;"},
                       {std::chrono::system_clock::time_point(), "<1@a.test>"}, body);

    const std::size_t split = message.find("\r\n\r\n");
    RC_ASSERT(split != std::string::npos);
    const std::string headers = message.substr(0, split);
    const std::vector<std::string> sent = linesOf(message.substr(split + 4));
    std::string unfolded;
    for (const std::string& line : linesOf(headers)) {
        RC_ASSERT(line.size() <= 78u);
        unfolded += (line.starts_with(' ') || line.starts_with('\t') ? "" : "\n") + line;
    }
    const std::size_t at = unfolded.find("\nSubject: ") + 10;
    RC_ASSERT(decodedSubject(unfolded.substr(at, unfolded.find('\n', at) - at)) == subject);

    const bool ascii = isAscii(subject) && isAscii(body);
    RC_ASSERT(headers.find(ascii ? "charset=us-ascii" : "charset=utf-8") != std::string::npos);
    // The typed text with every line break CR LF; flowed text cannot keep spaces at line ends.
    const bool flowed = headers.find("format=flowed") != std::string::npos;
    std::string expected = std::regex_replace(body, std::regex("\r\n|\r|\n"), "\r\n");
    if (flowed) {
        expected = std::regex_replace(expected, std::regex(" +(?=\r\n|$)"), "");
    }
    std::vector<std::string> lines;
    for (const std::string& line : sent) {
        RC_ASSERT(line.size() <= 998u);
        // Longer than 78 only where no space before a word allows a break.
        RC_ASSERT(line.size() <= 78u ||
                  line.find_first_not_of(' ', line.find(' ', 1)) == std::string::npos);
        lines.push_back(line.substr(line.starts_with('.') ? 1 : 0));
    }
    std::string decoded;
    if (headers.find("quoted-printable") != std::string::npos) {
        // White space at a line's end is what transports strip: it is encoded.
        for (const std::string& line : lines) {
            RC_ASSERT(!line.ends_with(' ') && !line.ends_with('\t'));
        }
        decoded = fromQuotedPrintable(lines);
    } else if (flowed) {
        // Unstuffed, these would read as quoted text or as the start of another mail.
        for (const std::string& line : lines) {
            RC_ASSERT(!line.starts_with('>') && !line.starts_with("From "));
        }
        decoded = fromFlowed(lines);
    } else {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            decoded += (i > 0 ? "\r\n" : "") + lines[i];
        }
    }
    RC_ASSERT(decoded == expected);
}

// Replies as a server sends them, one after another, cut into pieces anywhere.
RC_GTEST_PROP(SmtpReplyReader, HandsOutTheRepliesHoweverTheyAreCut, ()) {
    const auto codes = *rc::gen::container<std::vector<int>>(rc::gen::inRange(200, 600));
    std::string sent;
    std::vector<std::pair<std::string, int>> expected;
    for (int code : codes) {
        std::string reply;
        for (int more = *rc::gen::inRange(0, 3); more > 0; --more) {
            reply += std::to_string(code) + "-" +
                     *rc::gen::container<std::string>(rc::gen::inRange<char>(32, 127)) + "\r\n";
        }
        reply += std::to_string(code) + " ok\r\n";
        expected.emplace_back(reply, code);
        sent += reply;
    }
    SmtpReplyReader reader;
    std::vector<std::pair<std::string, int>> taken;
    for (std::size_t at = 0; at < sent.size();) {
        const std::size_t length = *rc::gen::inRange<std::size_t>(1, sent.size() - at + 1);
        RC_ASSERT(reader.append(std::string_view(sent).substr(at, length)));
        at += length;
        while (auto reply = reader.take()) {
            taken.emplace_back(reply->text, reply->code);
        }
    }
    RC_ASSERT(taken == expected);
}

}  // namespace
}  // namespace quorvane::mailer
