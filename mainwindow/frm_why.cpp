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
    // A window does not take its owner's font by itself: the buttons speak as the main window.
    if (owner != nullptr) {
        setFont(owner->font());
    }

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
    cmdStop_ = buttons->addButton(QStringLiteral("&Stop these"), QDialogButtonBox::ActionRole);
    cmdStop_->setObjectName(QStringLiteral("cmdStop"));
    cmdStop_->setToolTip(QStringLiteral("Shows what stopping them changes, then asks to confirm"));
    cmdConfirm_ = buttons->addButton(QStringLiteral("C&onfirm"), QDialogButtonBox::ActionRole);
    cmdConfirm_->setObjectName(QStringLiteral("cmdConfirm"));
    cmdConfirm_->hide();
    connect(cmdStop_, &QPushButton::clicked, this, &frmWhy::stopRequested);
    connect(cmdConfirm_, &QPushButton::clicked, this, [this] {
        cmdConfirm_->hide();
        emit stopConfirmed();
    });
    QPushButton* cmdClose = buttons->addButton(QDialogButtonBox::Close);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    connect(cmdCopy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(txtReport_->toPlainText()); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(txtReport_);
    layout->addWidget(buttons);
}

void frmWhy::setReport(const QString& report, bool stoppable) {
    txtReport_->setPlainText(report);
    cmdConfirm_->hide();
    cmdStop_->setVisible(stoppable);
}

void frmWhy::showPlan(const QString& plan) {
    txtReport_->setPlainText(plan);
    cmdStop_->hide();
    cmdConfirm_->show();
    cmdConfirm_->setFocus();
}

}  // namespace quorvane::mainwindow
