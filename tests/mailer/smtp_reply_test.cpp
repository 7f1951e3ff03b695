// Reply codes and the framing of replies that arrive in pieces, several at once, or garbled.
#include "mailer/smtp_reply.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::testing {
namespace {

using mailer::replyCode;
using mailer::SmtpReplyReader;

TEST(ReplyCodeTest, ReadsTheDigitsThatBeginTheTextBeforeItsFirstSpace) {
    const std::pair<const char*, int> cases[] = {
        {"250 ok\r\n", 250}, {"250", 250},  {"220-mx ready\r\n220 ok\r\n", 220},
        {"354go on", 354},   {"", 0},       {" 250 ok", 0},
        {"ok 250", 0},       {"-250 x", 0}, {"0250 x", 250},
        {"2501 x", 2501},
    };
    for (const auto& [reply, code] : cases) {
        EXPECT_EQ(replyCode(reply), code) << reply;
    }
    // 2^32 + 250 and 2^64 + 250: a number too long must not wrap round onto an expected code.
    EXPECT_NE(replyCode("4294967546 ok"), 250);
    EXPECT_NE(replyCode("18446744073709551866 ok"), 250);
}

TEST(SmtpReplyReaderTest, HandsOutEachReplyOnlyOnceItsFinalLineHasArrived) {
    using Replies = std::vector<std::pair<std::string, int>>;
    const struct {
        const char* what;
        std::vector<std::string> chunks;
        Replies replies;
    } cases[] = {
        {"continued greeting in pieces",
         {"220-mx.test", " ESMTP\r\n220", "-more\r", "\n220 ready\r\n"},
         {{"220-mx.test ESMTP\r\n220-more\r\n220 ready\r\n", 220}}},
        {"several together; a bare code or garbage ends a reply",
         {"250 a\r\n250-b\r\n550 c\r\n250\r\nhello\r\n354 go\r\n"},
         {{"250 a\r\n", 250},
          {"250-b\r\n550 c\r\n", 250},
          {"250\r\n", 250},
          {"hello\r\n", 0},
          {"354 go\r\n", 354}}},
        {"no three digits before the dash",
         {"25-x\r\n25x-y\r\n"},
         {{"25-x\r\n", 25}, {"25x-y\r\n", 25}}},
        {"lone CR or LF ends no line", {"250 ok\n", "250 ok\r", "x"}, {}},
        {"a continuation line with no text", {"250-\r\n250 ok\r\n"}, {{"250-\r\n250 ok\r\n", 250}}},
    };
    for (const auto& c : cases) {
        SmtpReplyReader reader;
        Replies taken;
        for (const std::string& chunk : c.chunks) {
            EXPECT_TRUE(reader.append(chunk));
            while (auto reply = reader.take()) {
                taken.emplace_back(reply->text, reply->code);
            }
        }
        EXPECT_EQ(taken, c.replies) << c.what;
    }
}

TEST(SmtpReplyReaderTest, RefusesRepliesAndLinesBeyondItsBoundsAndLetsGoOfThem) {
    const std::string longestLine = "250 " + std::string(mailer::kMaxReplyLine - 4, 'x') + "\r\n";
    std::string longestReply;
    while (longestReply.size() + 2 * 10 <= mailer::kMaxReply) {
        longestReply += "250-abcd\r\n";
    }
    longestReply += "250 " + std::string(mailer::kMaxReply - longestReply.size() - 6, 'x') + "\r\n";
    const struct {
        const char* what;
        std::string data;
        bool accepted;
    } cases[] = {
        {"a line as long as allowed", longestLine, true},
        {"one byte more", "2" + longestLine, false},
        // The piece of 1000 bytes ends in that line's CR: its LF is still to come.
        {"as long, cut after its CR", "250-" + std::string(897, 'x') + "\r\n" + longestLine, true},
        {"a line that never ends", std::string(mailer::kMaxReplyLine + 2, 'x'), false},
        {"a reply as long as allowed", longestReply, true},
        {"one line more", "250-abcd\r\n" + longestReply, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SmtpReplyReader reader;
        bool accepted = true;
        // In pieces, as a flood arrives.
        for (std::size_t at = 0; at < c.data.size() && accepted; at += 1000) {
            accepted = reader.append(std::string_view(c.data).substr(at, 1000));
        }
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(reader.take().has_value(), c.accepted);
        if (!c.accepted) {
            // Folded into short lines, so that a box shows it whole.
            std::istringstream lines(reader.rejectedStart());
            for (std::string line; std::getline(lines, line);) {
                EXPECT_LE(line.size(), mailer::kFoldedWidth + 5) << line;
            }
            EXPECT_TRUE(reader.rejectedStart().ends_with(" ...\r\n"));
        }
    }
}

}  // namespace
}  // namespace quorvane::testing
