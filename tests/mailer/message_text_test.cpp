// The recommendation body, the message sent after DATA with its transparency, and the UTF-8 form
// that a subject or body outside ASCII takes.
#include "mailer/message_text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>

#include "tests/support/contains.h"

namespace quorvane::testing {
namespace {

using mailer::composeMessage;

const std::array<std::string, 3> kMirrors = {"m1.test", "m2.test", "m3.test"};
const std::string kHeaders =
    "From: <bob@a.test>\r\nTo: ann@b.test\r\nSubject: From: Bob -  I'm using a new program\r\n"
    "X-Mailer: HaldrixTellaFriend\r\nMime-Version: 1.0\r\nContent-Type: text/plain;\t";

std::string compose(const std::string& body) {
    return composeMessage("bob@a.test", "ann@b.test", "From: Bob -  I'm using a new program",
                          "plain;", body);
}

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

TEST(MessageTextTest, AsciiMessageIsSentAsComposedWithTransparency) {
    // The subject's two spaces after the dash come from the entry and are kept.
    EXPECT_EQ(compose("Hi Ann,\r\n\r\nBob"),
              kHeaders + "charset=us-ascii\r\n\r\nHi Ann,\r\n\r\nBob");
    const std::pair<const char*, const char*> bodies[] = {
        {".", ".."},
        {"a\r\n.\r\nb", "a\r\n..\r\nb"},
        {"..\r\n.x", "...\r\n..x"},
        {"a\n.\n.\nb", "a\r\n..\r\n..\r\nb"},
        {"a\rb\r\r\nc\n", "a\r\nb\r\n\r\nc\r\n"},
        {" .a.", " .a."},
    };
    for (const auto& [body, sent] : bodies) {
        EXPECT_EQ(compose(body), kHeaders + "charset=us-ascii\r\n\r\n" + sent) << body;
    }
}

TEST(MessageTextTest, BodyOutsideAsciiIsQuotedPrintable) {
    const std::string a74(74, 'a');
    const std::string body =
        "Gr\xC3\xBC\xC3\x9F"
        "e, a=b  \n.hidden\n" +
        a74 + "aa\n" + a74 + "a.b\n" + a74 + "\xC3\xA9";
    EXPECT_EQ(compose(body), kHeaders +
                                 "charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable"
                                 "\r\n\r\nGr=C3=BC=C3=9Fe, a=3Db =20\r\n=2Ehidden\r\n" +
                                 a74 + "aa\r\n" + a74 + "a=\r\n=2Eb\r\n" + a74 + "=\r\n=C3=A9");
}

TEST(MessageTextTest, SubjectOutsideAsciiBecomesEncodedWordsOfWholeCharacters) {
    // 39 bytes of the subject at most in a word: the first ends before the two-byte "\xC3\xBC"
    // (u umlaut), the second before a three-byte "\xE2\x82\xAC" (euro sign).
    std::string subject = "From: J" + std::string(31, 'x') + "\xC3\xBC" + "rgen G";
    for (int i = 0; i < 12; ++i) {
        subject += "\xE2\x82\xAC";
    }
    EXPECT_EQ(composeMessage("b@a.test", "a@b.test", subject + " -  Hi", "plain;", "Hi"),
              "From: <b@a.test>\r\nTo: a@b.test\r\n"
              "Subject: =?UTF-8?B?RnJvbTogSnh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHg=?=\r\n"
              " =?UTF-8?B?w7xyZ2VuIEfigqzigqzigqzigqzigqzigqzigqzigqzigqzigqw=?=\r\n"
              " =?UTF-8?B?4oKs4oKsIC0gIEhp?=\r\nX-Mailer: HaldrixTellaFriend\r\n"
              "Mime-Version: 1.0\r\nContent-Type: text/plain;\tcharset=utf-8\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\nHi");
}

}  // namespace
}  // namespace quorvane::testing
