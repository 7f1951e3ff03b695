#include "mainwindow/help_browser.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QTextDocument>

namespace quorvane::mainwindow {

namespace {

// Qt's rich text ignores <wbr>; a zero-width space is the break opportunity it knows.
constexpr char16_t kZeroWidthSpace = u'\u200b';

QString missingHelpText(const QString& file) {
    return QStringLiteral(
               "<p><b>The help page cannot be shown.</b></p>"
               "<p>Quorvane reads its help from the file Help.htm beside the program, and that "
               "file is missing or cannot be read:</p><p>%1</p>"
               "<p>Installing Quorvane again puts it back.</p>")
        .arg(QDir::toNativeSeparators(file).toHtmlEscaped());
}

}  // namespace

HelpBrowser::HelpBrowser(QWidget* parent) : QTextBrowser(parent) {
    setOpenExternalLinks(true);
    // Never in the middle of a word: a path breaks at the places the page marks.
    setWordWrapMode(QTextOption::WordWrap);
    // The margin a web browser gives a page's body.
    document()->setDocumentMargin(8);
}

void HelpBrowser::showHelpFile(const QString& file) {
    const QFileInfo info(file);
    if (info.isFile() && info.isReadable()) {
        setSource(QUrl::fromLocalFile(file));
    }
    if (document()->isEmpty()) {
        setHtml(missingHelpText(file));
    }
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
    QVariant resource = QTextBrowser::loadResource(type, name);
    if (type == QTextDocument::HtmlResource && resource.userType() == QMetaType::QByteArray) {
        resource = resource.toByteArray().replace("<wbr>", "&#8203;");
    }
    return resource;
}

QMimeData* HelpBrowser::createMimeDataFromSelection() const {
    // A copied registry path is pasted without the break marks.
    QMimeData* data = QTextBrowser::createMimeDataFromSelection();
    data->setText(data->text().remove(QChar(kZeroWidthSpace)));
    return data;
}

}  // namespace quorvane::mainwindow
