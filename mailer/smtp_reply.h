// Replies of an SMTP server, framed as RFC 5321 section 4.2.1 frames them: a reply may run over
// several lines ("250-..." continues, "250 ..." or a bare "250" ends it), and is complete only
// when its final line has arrived, however the lines were split on the way.
#pragma once

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

class SmtpReplyReader {
public:
    void append(std::string_view data);
    // The oldest complete reply, taken out of the buffer; nullopt while none is complete.
    std::optional<SmtpReply> take();
    void clear();

private:
    std::string buffer_;
};

}  // namespace quorvane::mailer
