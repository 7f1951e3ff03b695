// The report of why restrictions come back: read-only, selectable text and a Copy button.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace quorvane::mainwindow {

class frmWhy : public QDialog {
    Q_OBJECT

public:
    explicit frmWhy(QWidget* owner);

    // Shows `report`, replacing what was shown before.
    void setReport(const QString& report);

private:
    QPlainTextEdit* txtReport_ = nullptr;
};

}  // namespace quorvane::mainwindow
