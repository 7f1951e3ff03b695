// The report of why restrictions come back: read-only, selectable text, a Copy button, and
// "Stop these", which shows what stopping them would change and waits for "Confirm".
#pragma once

#include <QDialog>

class QTextEdit;
class QPushButton;

namespace quorvane::mainwindow {

class frmWhy : public QDialog {
    Q_OBJECT

public:
    explicit frmWhy(QWidget* owner);

    // Shows `report`, replacing what was shown before; "Stop these" only when `stoppable`.
    void setReport(const QString& report, bool stoppable = false);
    // Shows what stopping would change, and "Confirm" in place of "Stop these".
    void showPlan(const QString& plan);

signals:
    void stopRequested();
    void stopConfirmed();

private:
    // Shows `text`; a line that wraps goes on below its own start, not at the window's edge.
    void showText(const QString& text);

    QTextEdit* txtReport_ = nullptr;
    QPushButton* cmdStop_ = nullptr;
    QPushButton* cmdConfirm_ = nullptr;
};

}  // namespace quorvane::mainwindow
