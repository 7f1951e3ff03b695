#include "mainwindow/frm_why.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "toolkit/classic_font.h"

namespace quorvane::mainwindow {

frmWhy::frmWhy(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmWhy"));
    setWindowTitle(QStringLiteral("Why do Restrictions come back?"));
    resize(720, 480);

    txtReport_ = new QPlainTextEdit(this);
    txtReport_->setObjectName(QStringLiteral("txtReport"));
    txtReport_->setReadOnly(true);
    txtReport_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtReport_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtReport_->setFont(toolkit::fixedPitchFont());

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* cmdCopy =
        buttons->addButton(QStringLiteral("&Copy"), QDialogButtonBox::ActionRole);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    QPushButton* cmdClose = buttons->addButton(QDialogButtonBox::Close);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdCopy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(txtReport_->toPlainText()); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtReport_);
    layout->addWidget(buttons);
}

void frmWhy::setReport(const QString& report) {
    txtReport_->setPlainText(report);
}

}  // namespace quorvane::mainwindow
