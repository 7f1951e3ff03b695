#include "mailer/smtp_reply.h"

#include <climits>

namespace quorvane::mailer {

namespace {

// RFC 5321 section 4.2.1: "250-text" says that more lines of the same reply follow; every other
// line, a final "250 text", a bare "250" or one that is not a reply line at all, ends the reply.
// Counting garbage as an end keeps a confused server from holding the dialogue until time-out.
bool continuesReply(std::string_view line) {
    if (line.size() < 4 || line[3] != '-') {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

int replyCode(std::string_view reply) {
    const std::string_view first = reply.substr(0, reply.find(' '));
    int code = 0;
    for (const char c : first) {
        if (c < '0' || c > '9') {
            break;
        }
        const int digit = c - '0';
        if (code > (INT_MAX - digit) / 10) {
            // Too long for an int: it matches no reply code, and must not wrap round onto one.
            return INT_MAX;
        }
        code = code * 10 + digit;
    }
    return code;
}

void SmtpReplyReader::append(std::string_view data) {
    buffer_.append(data);
}

std::optional<SmtpReply> SmtpReplyReader::take() {
    std::size_t end = 0;
    std::size_t firstLineLength = std::string::npos;
    for (;;) {
        const std::size_t lineEnd = buffer_.find("\r\n", end);
        if (lineEnd == std::string::npos) {
            return std::nullopt;
        }
        const std::string_view line(buffer_.data() + end, lineEnd - end);
        if (firstLineLength == std::string::npos) {
            firstLineLength = line.size();
        }
        end = lineEnd + 2;
        if (!continuesReply(line)) {
            break;
        }
    }
    SmtpReply reply{buffer_.substr(0, end),
                    replyCode(std::string_view(buffer_).substr(0, firstLineLength))};
    buffer_.erase(0, end);
    return reply;
}

void SmtpReplyReader::clear() {
    buffer_.clear();
}

}  // namespace quorvane::mailer
