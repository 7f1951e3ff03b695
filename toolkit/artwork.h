// The windows' pictures, rendered from assets/ into the program's resources (":/quorvane/...").
// Where a resource is missing, a theme or standard icon stands in, so that a window always shows
// something of the right size.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace quorvane::toolkit {

enum class Picture {
    ProgramIcon,     // the main window's icon
    Program,         // picIcon, 67 x 143 pixels
    TellAFriend,     // Image1 of both windows, 48 x 48 pixels
    TellAFriendIcon  // the tell-a-friend window's icon, 16 and 32 pixels
};

QIcon pictureIcon(Picture picture);
// The picture at its own size in pixels.
QPixmap picturePixmap(Picture picture);
QSize pictureSize(Picture picture);

}  // namespace quorvane::toolkit
