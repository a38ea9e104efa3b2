// Builds without Windows have no icon resources: the player's icon is a
// record in its data (res/window_icon.h), handed to platform/ before WinMain
// runs, so its window shows it. Built in is icon group 101's 32 x 32 image,
// drawn by make_icons.py; a packed program may carry another.
#include "../platform/core/core.h"
#include "icon_rgba.h"
#include "window_icon.h"

namespace {

constexpr WindowIconRecord built_in_icon() {
    WindowIconRecord record{WINDOW_ICON_MARKER, PLAYER_ICON_SIZE, PLAYER_ICON_SIZE, {}};
    for (int y = 0; y < PLAYER_ICON_SIZE; y++)
        for (int x = 0; x < PLAYER_ICON_SIZE; x++)
            record.argb[y * PLAYER_ICON_SIZE + x] = player_icon_argb[y * PLAYER_ICON_SIZE + x];
    return record;
}

} // namespace

// Not const, so the compiler cannot fold the picture the packer writes
// later into the code; `used` keeps it in the image.
__attribute__((used)) WindowIconRecord window_icon_record = built_in_icon();

namespace {

struct IconHandOver {
    IconHandOver() {
        const uint32_t width = window_icon_record.width, height = window_icon_record.height;
        if (width == 0 || height == 0 || width > WINDOW_ICON_MAX_SIZE ||
            height > WINDOW_ICON_MAX_SIZE)
            return;
        platform_set_window_icon(window_icon_record.argb, int(width), int(height));
    }
};
const IconHandOver hand_over;

} // namespace
