#include "mailer/smtp_reply.h"

#include <algorithm>
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

bool SmtpReplyReader::append(std::string_view data) {
    // Only the unfinished line is searched again, and only from its last byte that may be a
    // CR: the work stays linear in the bytes received, however they are cut.
    std::size_t searchFrom = std::max(lineStart_, partial_.empty() ? 0 : partial_.size() - 1);
    partial_.append(data);
    for (;;) {
        const std::size_t lineEnd = partial_.find("\r\n", searchFrom);
        if (lineEnd == std::string::npos) {
            break;
        }
        const std::string_view line(partial_.data() + lineStart_, lineEnd - lineStart_);
        if (line.size() > kMaxReplyLine) {
            reject();
            return false;
        }
        if (lineStart_ == 0) {
            firstLineLength_ = line.size();
        }
        lineStart_ = searchFrom = lineEnd + 2;
        if (lineStart_ > kMaxReply) {
            reject();
            return false;
        }
        if (!continuesReply(line)) {
            const int code = replyCode(std::string_view(partial_).substr(0, firstLineLength_));
            complete_.push_back({partial_.substr(0, lineStart_), code});
            partial_.erase(0, lineStart_);
            lineStart_ = searchFrom = 0;
        }
    }
    // The unfinished line may end in the CR of its line end.
    if (partial_.size() - lineStart_ > kMaxReplyLine + 1 || partial_.size() > kMaxReply) {
        reject();
        return false;
    }
    return true;
}

std::optional<SmtpReply> SmtpReplyReader::take() {
    if (complete_.empty()) {
        return std::nullopt;
    }
    SmtpReply reply = std::move(complete_.front());
    complete_.pop_front();
    return reply;
}

void SmtpReplyReader::reject() {
    // Its first line, as far as a reply line may go, folded so that a box can show it.
    constexpr std::size_t kShown = 512;
    const std::string_view start =
        std::string_view(partial_).substr(0, std::min(partial_.find("\r\n"), kShown));
    rejectedStart_.clear();
    for (std::size_t at = 0; at < start.size(); at += kFoldedWidth) {
        rejectedStart_.append(at == 0 ? "" : "\r\n").append(start.substr(at, kFoldedWidth));
    }
    rejectedStart_ += " ...\r\n";
    clear();
}

void SmtpReplyReader::clear() {
    std::string().swap(partial_);
    std::deque<SmtpReply>().swap(complete_);
    lineStart_ = firstLineLength_ = 0;
}

}  // namespace quorvane::mailer
