// The toolkit's Qt message box, shown for real on the offscreen platform and answered with a
// click on its OK button.
#include "toolkit/qt_message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <utility>

#include "toolkit/classic_font.h"

namespace quorvane::toolkit {
namespace {

using namespace Qt::StringLiterals;

// Shows the box, hands it to `look` while it is up, and answers it with a click on OK. Every box
// is as wide as a title bar needs for the whole title, in its bold face, with at least 120 pixels
// for the window's icon and buttons.
void showAndAnswer(const std::string& text, int style, const std::string& title,
                   const std::function<void(const QMessageBox&)>& look) {
    bool answered = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && !std::exchange(answered, true)) {
            QFont bold = QApplication::font("QMdiSubWindowTitleBar");
            bold.setBold(true);
            EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 120);
            look(*box);
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        }
    });
    answer.start(10);
    QtMessageBox().show(text, style, title);
    EXPECT_TRUE(answered);
}

TEST(QtMessageBoxTest, ShowsTheStylesIconAndTheTextAsGivenWithOneOkButtonUnderTheWholeTitle) {
    showAndAnswer("Sent.     \r\n<b>Thanks</b>", 64, "Message Sent", [](const QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::Information);
        EXPECT_EQ(box.windowTitle(), u"Message Sent"_s);
        EXPECT_EQ(box.text(), u"Sent.     \r\n<b>Thanks</b>"_s);
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
        // The face of the windows, whichever stands in for MS Sans Serif.
        EXPECT_EQ(QFontInfo(box.font()).family(), QFontInfo(classicFont()).family());
    });
    showAndAnswer("Connection refused", 0, "", [](const QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box.windowTitle(), u"Quorvane"_s);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    });
    // A short text under a long title.
    showAndAnswer("Done.", 64, "Email Address Not Supported", [](const QMessageBox&) {});
}

}  // namespace
}  // namespace quorvane::toolkit
