#include "mainwindow/frm_why.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include "toolkit/classic_font.h"
#include "toolkit/window_placement.h"

namespace quorvane::mainwindow {

frmWhy::frmWhy(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmWhy"));
    setWindowTitle(QStringLiteral("Why do Restrictions come back?"));
    toolkit::resizeWithinScreen(*this, QSize(720, 480));
    // A window does not take its owner's font by itself: the buttons speak as the main window.
    if (owner != nullptr) {
        setFont(owner->font());
    }

    txtReport_ = new QTextEdit(this);
    txtReport_->setObjectName(QStringLiteral("txtReport"));
    txtReport_->setReadOnly(true);
    txtReport_->setAcceptRichText(false);
    txtReport_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtReport_->setLineWrapMode(QTextEdit::WidgetWidth);
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

void frmWhy::showText(const QString& text) {
    txtReport_->setPlainText(text);
    const QFontMetricsF metrics(txtReport_->font());
    for (QTextBlock block = txtReport_->document()->begin(); block.isValid();
         block = block.next()) {
        const QString line = block.text();
        qsizetype spaces = 0;
        while (spaces < line.size() && line.at(spaces) == u' ') {
            ++spaces;
        }
        if (spaces > 0) {
            // The first line starts at the edge with its spaces; the lines it wraps into start
            // where its text does.
            const qreal indent = metrics.horizontalAdvance(line.left(spaces));
            QTextBlockFormat format = block.blockFormat();
            format.setLeftMargin(indent);
            format.setTextIndent(-indent);
            QTextCursor(block).setBlockFormat(format);
        }
    }
}

void frmWhy::setReport(const QString& report, bool stoppable) {
    showText(report);
    cmdConfirm_->hide();
    cmdStop_->setVisible(stoppable);
}

void frmWhy::showPlan(const QString& plan) {
    showText(plan);
    cmdStop_->hide();
    cmdConfirm_->show();
    cmdConfirm_->setFocus();
}

}  // namespace quorvane::mainwindow
