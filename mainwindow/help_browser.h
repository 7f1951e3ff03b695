// The help tab's page: Help.htm from the program's directory, wrapped between words only. The
// page marks where a long registry path may break with <wbr> after its backslashes.
#pragma once

#include <QTextBrowser>

namespace quorvane::mainwindow {

class HelpBrowser final : public QTextBrowser {
    Q_OBJECT

public:
    explicit HelpBrowser(QWidget* parent = nullptr);

    // Shows `file`, or a text naming it when it is missing or cannot be read.
    void showHelpFile(const QString& file);

protected:
    QVariant loadResource(int type, const QUrl& name) override;
    QMimeData* createMimeDataFromSelection() const override;
};

}  // namespace quorvane::mainwindow
