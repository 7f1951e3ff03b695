// The recommendation body, and the date and identifier of the message sent after DATA; the
// headers are checked whole where the session sends them (smtp_session_test.cpp).
#include "mailer/message_text.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/contains.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono;

const std::array<std::string, 3> kMirrors = {"m1.test", "m2.test", "m3.test"};

TEST(MessageTextTest, BodyHasItsNineteenLines) {
    const mailer::BodyFields fields{"Ann", "Great\ntool", "http://w.test/Pages/Useful.html", "Bob"};
    EXPECT_EQ(mailer::ComposeMessageBody(fields, "Quorvane", kMirrors),
              "Hi Ann,\r\n\r\nI just wanted to let you know that I'm using Quorvane and I thought "
              "you might like to try it.  So far, I'm impressed with it enough to recommend it to "
              "you.\r\n\r\nGreat\ntool\r\n\r\nIt's easy to download and use, so do it now! Just "
              "click on the link below for more information:\r\n\r\nQuorvane\r\n"
              "http://w.test/Pages/Useful.html\r\n\r\nHaldrix has about 150 other programs, most "
              "of which are Freeware.  Check any of these 3 mirrors:\r\n\r\nhttp://m1.test\r\n"
              "http://m2.test\r\nhttp://m3.test\r\n\r\nHave Fun There!\r\nBob");
    const std::string empty = mailer::ComposeMessageBody({}, "Quorvane", kMirrors);
    EXPECT_TRUE(contains(empty, "to you.\r\n\r\n\r\n\r\nIt's easy"));
}

TEST(MessageTextTest, DateIsInTheInternetFormatAndEachIdentifierIsNew) {
    const std::pair<system_clock::time_point, const char*> dates[] = {
        {system_clock::time_point(), "Thu, 01 Jan 1970 00:00:00 +0000"},
        {sys_days(2000y / February / 29) + 23h + 59min + 59s + 999ms,
         "Tue, 29 Feb 2000 23:59:59 +0000"},
        {sys_days(2026y / December / 7) + 16h + 5min + 9s, "Mon, 07 Dec 2026 16:05:09 +0000"},
    };
    for (const auto& [date, text] : dates) {
        EXPECT_EQ(mailer::dateHeaderValue(date), text);
    }
    std::set<std::string> ids;
    for (const std::string host : {"desk.example", "desk.example", "bad host", ".x", ""}) {
        const mailer::MessageStamp stamp = mailer::freshStamp(host);
        ids.insert(stamp.messageId);
        const std::string right = host == "desk.example" ? host : "localhost.invalid";
        EXPECT_EQ(stamp.messageId.size(), 1 + 32 + 1 + right.size() + 1) << stamp.messageId;
        EXPECT_TRUE(stamp.messageId.starts_with('<') &&
                    stamp.messageId.ends_with("@" + right + ">"))
            << stamp.messageId;
        EXPECT_LT(system_clock::now() - stamp.date, 1min);
    }
    EXPECT_EQ(ids.size(), 5u);
}

}  // namespace
}  // namespace quorvane::testing
