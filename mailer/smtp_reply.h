// Replies of an SMTP server, framed as RFC 5321 section 4.2.1 frames them: a reply may run over
// several lines ("250-..." continues, "250 ..." or a bare "250" ends it), and is complete only
// when its final line has arrived, however the lines were split on the way.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::mailer {

struct SmtpReply {
    std::string text;  // every line of the reply, CR LF included
    int code;          // read from its first line
};

// The number at the start of the reply's text before its first space: digits read from the
// start until one cannot continue the number; 0 when there are none.
int replyCode(std::string_view reply);

// RFC 5321 allows reply lines of 512 bytes; these bounds are far above any real server's and
// keep a hostile one from filling the memory during a wait.
inline constexpr std::size_t kMaxReplyLine = 4 * 1024;
inline constexpr std::size_t kMaxReply = 64 * 1024;
inline constexpr std::size_t kFoldedWidth = 64;

class SmtpReplyReader {
public:
    // False once the reply being received has broken a bound: everything held is dropped and
    // the server can no longer be understood.
    [[nodiscard]] bool append(std::string_view data);
    // The oldest complete reply, taken out of the reader; nullopt while none is complete.
    std::optional<SmtpReply> take();
    // The start of the reply that broke a bound, to show what the server sent: its first line,
    // cut short and folded into lines of kFoldedWidth characters, then " ..." and CR LF.
    const std::string& rejectedStart() const { return rejectedStart_; }
    // Forgets everything and gives its memory back.
    void clear();

private:
    void reject();

    std::string partial_;  // the reply being received; lines before lineStart_ are complete
    std::size_t lineStart_ = 0;
    std::size_t firstLineLength_ = 0;
    std::deque<SmtpReply> complete_;
    std::string rejectedStart_;
};

}  // namespace quorvane::mailer
