#include "toolkit/qt_message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

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

// How wide a box must be for the window manager to show its whole title: the title, in the bold
// face title bars use, with room for the window's icon before it and three buttons after it.
int widthForTitle(const QString& title) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 8 * metrics.height();
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
    // The box sizes itself for its text; a short text under a long title would cut the title.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(widthForTitle(shownTitle), 0), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    box.exec();
}

}  // namespace quorvane::toolkit
