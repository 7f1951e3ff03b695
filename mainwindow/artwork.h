// The window's pictures. The artwork is loaded from the Qt resources under ":/artwork/" when the
// build bundles it; until then a theme or standard icon stands in, so the window always shows
// something of the right size.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace quorvane::mainwindow {

enum class Picture {
    ProgramIcon,  // the window icon
    Program,      // picIcon, 67 x 143 pixels
    TellAFriend,  // Image1, 48 x 48 pixels
};

QIcon pictureIcon(Picture picture);
// The picture at its own size in pixels.
QPixmap picturePixmap(Picture picture);
QSize pictureSize(Picture picture);

}  // namespace quorvane::mainwindow
