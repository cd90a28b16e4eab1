// The pictures of the dialogs: drawn in code so the library carries no image files.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pullwire {

inline constexpr int kPlaceholderIconSize = 16;
inline constexpr int kButtonIconSize = 16;
inline constexpr int kWindowIconSize = 16;
inline constexpr int kCommandPictureSize = 32;
inline constexpr int kEngineLogoSize = 28;

// The placeholder pictures beside the boxes ("<>" on a tag).
QIcon PlaceholderIcon();
// The editor's window icon: an arrow down onto a tray.
QIcon WindowIcon();
// The editor's 32 x 32 command picture: a server with a wire down to a tray.
QPixmap CommandPicture();
// The 28 x 28 "Powered by" picture of the FTP engine.
QPixmap EngineLogo();

// Button pictures from the platform style.
QIcon OkIcon();
QIcon CancelIcon();
QIcon ProxyIcon();
QIcon BrowseIcon();

}  // namespace pullwire
