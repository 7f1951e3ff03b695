#include "toolkit/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>

#include "toolkit/application.h"
#include "toolkit/classic_font.h"

namespace quorvane::toolkit {

namespace {

// The icon bits of a message-box style number: 16 critical, 32 question, 48 exclamation,
// 64 information.
QMessageBox::Icon iconOf(int style) {
    switch (style & 0x70) {
        case 16:
            return QMessageBox::Critical;
        case 32:
            return QMessageBox::Question;
        case 48:
            return QMessageBox::Warning;
        case 64:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

void QtMessageBox::show(const std::string& text, int style, const std::string& title) {
    const QString shownTitle =
        title.empty() ? QString::fromUtf8(kApplicationTitle) : QString::fromStdString(title);
    QMessageBox box(iconOf(style), shownTitle, QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    // The texts are shown as they are, never read as rich text, in the windows' face.
    box.setTextFormat(Qt::PlainText);
    box.setFont(classicFont());
    box.exec();
}

}  // namespace quorvane::toolkit
