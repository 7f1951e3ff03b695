// What the mail window's tests share: a configuration that sends to a server on 127.0.0.1, and
// the letter's fields filled in.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <string>

#include "tests/support/qt/gui_test.h"
#include "toolkit/configuration.h"

namespace quorvane::testing {

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
    QTest::keyClicks(&child<QLineEdit>(window, "txtFriendsName"), QStringLiteral("Ann Example"));
    QTest::keyClicks(&child<QLineEdit>(window, "txtFriend"), QStringLiteral("ann@example.test"));
    QTest::keyClicks(&child<QLineEdit>(window, "txtName"), QStringLiteral("Bo Sender"));
    QTest::keyClicks(&child<QLineEdit>(window, "txtFrom"), QStringLiteral("bo@example.test"));
    // A comment with lines of dots, which the transport must carry unchanged.
    child<QPlainTextEdit>(window, "txtComments")
        .setPlainText(QStringLiteral("Try it.\n.\n..\nBye"));
}

}  // namespace quorvane::testing
