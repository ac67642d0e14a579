// The program's own pictures, drawn once in code: the eleven 24 x 24 toolbar pictures
// (indices 0 to 10, as the toolbar buttons name them), the six 16 x 16 frames of the
// tray icon's animation and the 482 x 309 splash picture.
#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>

namespace artwork {

inline constexpr int kToolbarPictureCount = 11;
inline constexpr int kTrayFrameCount = 6;

enum class PictureState { Normal, Disabled, Hot };

// The picture `index` (0 to 10) of the toolbar in one state.
QPixmap ToolbarPicture(int index, PictureState state);
// The three states as one icon: Normal, Disabled and Active (under the pointer).
QIcon ToolbarIcon(int index);
// Frame `index` (0 to 5) of the tray animation.
QPixmap TrayFrame(int index);
QPixmap SplashPicture();

}  // namespace artwork
