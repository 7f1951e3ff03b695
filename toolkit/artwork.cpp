#include "toolkit/artwork.h"

#include <QApplication>
#include <QFile>
#include <QStyle>
#include <initializer_list>

// Resources in a static library are dropped unless something refers to them.
static void loadArtworkResources() {
    Q_INIT_RESOURCE(quorvane_artwork);
}

namespace quorvane::toolkit {

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
        case Picture::TellAFriendIcon:
            return {":/quorvane/icons/tell-a-friend-32.png", "mail-send",
                    QStyle::SP_MessageBoxInformation};
    }
    return {"", "", QStyle::SP_ComputerIcon};
}

// An icon in every size drawn for it, so that each place picks a sharp one.
QIcon iconInSizes(const char* name, std::initializer_list<int> sizes) {
    QIcon icon;
    for (int size : sizes) {
        icon.addFile(
            QStringLiteral(":/quorvane/icons/%1-%2.png").arg(QLatin1String(name)).arg(size));
    }
    return icon;
}

QIcon resourceIcon(Picture picture, const QString& resource) {
    switch (picture) {
        case Picture::ProgramIcon:
            return iconInSizes("quorvane", {16, 32, 48, 64, 128, 256});
        case Picture::TellAFriendIcon:
            return iconInSizes("tell-a-friend", {16, 32});
        case Picture::Program:
        case Picture::TellAFriend:
            break;
    }
    return QIcon(resource);
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
        case Picture::TellAFriendIcon:
            return {32, 32};
    }
    return {32, 32};
}

QIcon pictureIcon(Picture picture) {
    static const bool loaded = (loadArtworkResources(), true);
    (void)loaded;
    const Source source = sourceOf(picture);
    const QString resource = QString::fromLatin1(source.resource);
    if (QFile::exists(resource)) {
        const QIcon icon = resourceIcon(picture, resource);
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

}  // namespace quorvane::toolkit
