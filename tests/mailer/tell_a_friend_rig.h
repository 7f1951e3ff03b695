// What the tell-a-friend window's tests share: finding its controls by name, filling it in as
// a user would, waiting with a live event loop, and the mail that the filled-in window sends.
#pragma once

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QWidget>
#include <chrono>
#include <stdexcept>
#include <string>

#include "toolkit/configuration.h"

namespace quorvane::testing {

template <typename Control>
Control& child(const QWidget& window, const char* name) {
    auto* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no control named ") + name);
    }
    return *found;
}

// Runs the event loop until `condition` holds; false when `timeout` passes first.
template <typename Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

inline toolkit::Configuration mailConfiguration(quint16 port) {
    toolkit::Configuration configuration;
    configuration.mailServer = "127.0.0.1:" + std::to_string(port);
    configuration.makerHost = "maker.test";
    configuration.mirrors[0] = "m1.test";
    configuration.mirrors[1] = "m2.test";
    configuration.mirrors[2] = "m3.test";
    return configuration;
}

// Types the letter's fields; the subject stays the entry the window opens with.
inline void fillIn(const QWidget& window) {
    QTest::keyClicks(&child<QLineEdit>(window, "txtFriendsName"), "Ann Example");
    QTest::keyClicks(&child<QLineEdit>(window, "txtFriend"), "ann@example.test");
    QTest::keyClicks(&child<QLineEdit>(window, "txtName"), "Bo Sender");
    QTest::keyClicks(&child<QLineEdit>(window, "txtFrom"), "bo@example.test");
    // A comment with lines of dots, which the transport must carry unchanged.
    child<QPlainTextEdit>(window, "txtComments").setPlainText("Try it.\n.\n..\nBye");
}

// The message of the filled-in window up to its comment's dot lines, and after them.
inline const std::string kMessageHead =
    "From: <bo@example.test>\r\n"
    "To: ann@example.test\r\n"
    "Subject: From: Bo Sender -  I'm using a new program\r\n"
    "X-Mailer: HaldrixTellaFriend\r\n"
    "Mime-Version: 1.0\r\n"
    "Content-Type: text/plain;\tcharset=us-ascii\r\n"
    "\r\n"
    "Hi Ann Example,\r\n"
    "\r\n"
    "I just wanted to let you know that I'm using Quorvane and I thought you might like to try "
    "it.  So far, I'm impressed with it enough to recommend it to you.\r\n"
    "\r\n"
    "Try it.\r\n";
inline const std::string kMessageTail =
    "Bye\r\n"
    "\r\n"
    "It's easy to download and use, so do it now! Just click on the link below for more "
    "information:\r\n"
    "\r\n"
    "Quorvane\r\n"
    "http://maker.test/Pages/Useful.html\r\n"
    "\r\n"
    "Haldrix has about 150 other programs, most of which are Freeware.  Check any of these 3 "
    "mirrors:\r\n"
    "\r\n"
    "http://m1.test\r\n"
    "http://m2.test\r\n"
    "http://m3.test\r\n"
    "\r\n"
    "Have Fun There!\r\n"
    "Bo Sender";

inline const std::string kSuccessText =
    "Your Message has been Sent Successfully.     \r\n\r\nThanks for telling a friend about "
    "Quorvane     ";

}  // namespace quorvane::testing
