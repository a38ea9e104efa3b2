// Builds without Windows have no icon resources: the player's icon (icon
// group 101's 32 x 32 image, drawn by make_icons.py) is handed to platform/
// before WinMain runs, so its window shows it.
#include "../platform/core/core.h"
#include "icon_rgba.h"

namespace {

struct IconHandOver {
    IconHandOver() {
        platform_set_window_icon(player_icon_argb, PLAYER_ICON_SIZE, PLAYER_ICON_SIZE);
    }
};
const IconHandOver hand_over;

} // namespace
