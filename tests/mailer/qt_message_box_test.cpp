// The toolkit's Qt message box, shown for real on the offscreen platform and answered with a
// click on its OK button.
#include "toolkit/qt_message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <optional>

#include "toolkit/classic_font.h"

namespace quorvane::toolkit {
namespace {

using namespace Qt::StringLiterals;

struct SeenBox {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    Qt::TextFormat format;
    QMessageBox::StandardButtons buttons;
    QString face;
};

// Shows the box and returns what it showed, after clicking its OK button.
std::optional<SeenBox> showAndAnswer(const std::string& text, int style, const std::string& title) {
    std::optional<SeenBox> seen;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || seen) {
            return;
        }
        seen = SeenBox{box->icon(),       box->windowTitle(),     box->text(),
                       box->textFormat(), box->standardButtons(), QFontInfo(box->font()).family()};
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    answer.start(10);
    QtMessageBox().show(text, style, title);
    return seen;
}

TEST(QtMessageBoxTest, ShowsTheStylesIconAndTheTextAsGivenWithOneOkButton) {
    const auto information = showAndAnswer("Sent.     \r\n<b>Thanks</b>", 64, "Message Sent");
    ASSERT_TRUE(information);
    EXPECT_EQ(information->icon, QMessageBox::Information);
    EXPECT_EQ(information->title, u"Message Sent"_s);
    EXPECT_EQ(information->text, u"Sent.     \r\n<b>Thanks</b>"_s);
    EXPECT_EQ(information->format, Qt::PlainText);
    EXPECT_EQ(information->buttons, QMessageBox::Ok);
    // The face of the windows, whichever stands in for MS Sans Serif.
    EXPECT_EQ(information->face, QFontInfo(classicFont()).family());

    const auto plain = showAndAnswer("Connection refused", 0, "");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->icon, QMessageBox::NoIcon);
    EXPECT_EQ(plain->title, u"Quorvane"_s);
    EXPECT_EQ(plain->buttons, QMessageBox::Ok);
}

}  // namespace
}  // namespace quorvane::toolkit
