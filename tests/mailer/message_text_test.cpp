// The recommendation body, the message sent after DATA with its transparency, its date and
// identifier, the folding of long lines, and the UTF-8 form that a subject or body outside ASCII
// takes.
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
using mailer::composeMessage;

const std::array<std::string, 3> kMirrors = {"m1.test", "m2.test", "m3.test"};
const mailer::MessageStamp kStamp{sys_days(2026y / December / 7) + 16h + 5min + 9s,
                                  "<1a2b@desk.test>"};
const std::string kStampLines =
    "Date: Mon, 07 Dec 2026 16:05:09 +0000\r\nMessage-ID: <1a2b@desk.test>\r\n";
const std::string kHeaders =
    "From: <bob@a.test>\r\nTo: ann@b.test\r\nSubject: From: Bob -  I'm using a new program\r\n" +
    kStampLines +
    "X-Mailer: HaldrixTellaFriend\r\nMime-Version: 1.0\r\nContent-Type: text/plain;\t";

std::string compose(const std::string& body,
                    const std::string& subject = "From: Bob -  I'm using a new program") {
    return composeMessage({"bob@a.test", "ann@b.test", subject, "plain;"}, kStamp, body);
}

// The lines of a message, CR LF taken off.
std::vector<std::string> linesOf(const std::string& message) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = message.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(message.substr(start, end - start));
    }
    lines.push_back(message.substr(start));
    return lines;
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
    EXPECT_EQ(composeMessage({"b@a.test", "a@b.test", subject + " -  Hi", "plain;"}, kStamp, "Hi"),
              "From: <b@a.test>\r\nTo: a@b.test\r\n"
              "Subject: =?UTF-8?B?RnJvbTogSnh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHg=?=\r\n"
              " =?UTF-8?B?w7xyZ2VuIEfigqzigqzigqzigqzigqzigqzigqzigqzigqzigqw=?=\r\n"
              " =?UTF-8?B?4oKs4oKsIC0gIEhp?=\r\n" +
                  kStampLines +
                  "X-Mailer: HaldrixTellaFriend\r\n"
                  "Mime-Version: 1.0\r\nContent-Type: text/plain;\tcharset=utf-8\r\n"
                  "Content-Transfer-Encoding: quoted-printable\r\n\r\nHi");
}

TEST(MessageTextTest, DateIsInTheInternetFormatAndEachIdentifierIsNew) {
    const std::pair<system_clock::time_point, const char*> dates[] = {
        {system_clock::time_point(), "Thu, 01 Jan 1970 00:00:00 +0000"},
        {sys_days(2000y / February / 29) + 23h + 59min + 59s + 999ms,
         "Tue, 29 Feb 2000 23:59:59 +0000"},
        {kStamp.date, "Mon, 07 Dec 2026 16:05:09 +0000"},
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

// A long ASCII subject is folded before white space; one that cannot be folded within 78
// characters a line, as a long name without spaces, becomes encoded words.
TEST(MessageTextTest, LongSubjectIsFoldedAtWhiteSpace) {
    const std::string name = "Bob " + std::string(70, 'b') + " Q. " + std::string(60, 'c') + "   ";
    EXPECT_EQ(compose("Hi", "From: " + name + " -  Hi"),
              "From: <bob@a.test>\r\nTo: ann@b.test\r\nSubject: From: Bob\r\n " +
                  std::string(70, 'b') + " Q.\r\n " + std::string(60, 'c') + "    -  Hi\r\n" +
                  kStampLines +
                  "X-Mailer: HaldrixTellaFriend\r\nMime-Version: 1.0\r\nContent-Type: "
                  "text/plain;\tcharset=us-ascii\r\n\r\nHi");
    const std::string unbroken = compose("Hi", "From: " + std::string(1100, 'x') + " -  Hi");
    EXPECT_TRUE(contains(unbroken, "Subject: =?UTF-8?B?RnJvbTogeHh4"));
    for (const std::string& line : linesOf(unbroken)) {
        EXPECT_LE(line.size(), 78u) << line;
    }
}

// An ASCII body with a line over 78 characters is flowed: soft breaks after a space, which the
// reader joins again; lines that begin with a space, ">" or "From " get one more space, and the
// spaces that would end a hard line are taken off. A word that no line of 998 can hold makes it
// quoted-printable.
TEST(MessageTextTest, LongAsciiBodyLinesAreFlowed) {
    const std::string a75(75, 'a');
    EXPECT_EQ(compose(a75 + " bb  cc  \nFrom here\n  \n x\n>q\n.dot"),
              kHeaders + "charset=us-ascii; format=flowed\r\n\r\n" + a75 +
                  " \r\nbb  cc\r\n From here\r\n\r\n  x\r\n >q\r\n..dot");
    EXPECT_EQ(compose(std::string(78, 'a') + "\n.x=y "),
              kHeaders + "charset=us-ascii\r\n\r\n" + std::string(78, 'a') + "\r\n..x=y ");

    std::string paragraph;
    while (paragraph.size() < 1099) {
        paragraph += "lorem ipsum dolor. ";
    }
    paragraph += std::string(100, 'w');
    const std::string sent = compose("Hi Ann,\n\n" + paragraph + "\n.\nBob");
    std::string joined;
    for (const std::string& line : linesOf(sent.substr(sent.find("Hi Ann")))) {
        EXPECT_LE(line.size(), line.starts_with('w') ? 100u : 78u) << line;
        joined += line.substr(line.starts_with('.') ? 1 : 0) + (line.ends_with(' ') ? "" : "\n");
    }
    EXPECT_EQ(joined, "Hi Ann,\n\n" + paragraph + "\n.\nBob\n");

    // A word of 999 characters, or of 998 behind the space that protects a leading ">".
    // Built by append: GCC 12 warns, wrongly, of an overlapping copy in "literal" + string.
    std::string longWord = "Hi ";
    longWord.append(999, 'w');
    std::string quoted = ">";
    quoted.append(997, 'w');
    for (const std::string& text : {longWord, quoted}) {
        const std::string unbroken = compose(text);
        EXPECT_TRUE(contains(unbroken,
                             "charset=us-ascii\r\nContent-Transfer-Encoding: quoted-printable"
                             "\r\n\r\n" +
                                 text.substr(0, 4)));
        for (const std::string& line : linesOf(unbroken)) {
            EXPECT_LE(line.size(), 78u) << line;
        }
    }
}

}  // namespace
}  // namespace quorvane::testing
