#include "mainwindow/artwork.h"

#include <QApplication>
#include <QFile>
#include <QStyle>

// Resources in a static library are dropped unless something refers to them.
static void loadArtworkResources() {
    Q_INIT_RESOURCE(quorvane_artwork);
}

namespace quorvane::mainwindow {

namespace {

struct Source {
    const char* resource;  // rendered from assets/ into the program's resources
    const char* themeName;
    QStyle::StandardPixmap standard;
};

Source sourceOf(Picture picture) {
    switch (picture) {
        case Picture::ProgramIcon:
            return {":/quorvane/icons/quorvane-32.png", "preferences-system",
                    QStyle::SP_ComputerIcon};
        case Picture::Program:
            return {":/quorvane/picIcon.png", "preferences-system", QStyle::SP_ComputerIcon};
        case Picture::TellAFriend:
            return {":/quorvane/Image1.png", "mail-send", QStyle::SP_MessageBoxInformation};
    }
    return {"", "", QStyle::SP_ComputerIcon};
}

// The program's icon in every size drawn for it, so that each place picks a sharp one.
QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/quorvane/icons/quorvane-%1.png").arg(size));
    }
    return icon;
}

}  // namespace

QSize pictureSize(Picture picture) {
    switch (picture) {
        case Picture::ProgramIcon:
            return {32, 32};
        case Picture::Program:
            return {67, 143};
        case Picture::TellAFriend:
            return {48, 48};
    }
    return {32, 32};
}

QIcon pictureIcon(Picture picture) {
    static const bool loaded = (loadArtworkResources(), true);
    (void)loaded;
    const Source source = sourceOf(picture);
    const QString resource = QString::fromLatin1(source.resource);
    if (QFile::exists(resource)) {
        QIcon icon = picture == Picture::ProgramIcon ? programIcon() : QIcon(resource);
        if (!icon.pixmap(pictureSize(picture)).isNull()) {
            return icon;
        }
    }
    return QIcon::fromTheme(QString::fromLatin1(source.themeName),
                            QApplication::style()->standardIcon(source.standard));
}

QPixmap picturePixmap(Picture picture) {
    // At most the picture's size; a square stand-in keeps its shape inside it.
    return pictureIcon(picture).pixmap(pictureSize(picture));
}

}  // namespace quorvane::mainwindow
