// A program's icon from any picture: read through FFmpeg's libraries (PNG,
// ICO, JPEG, BMP, ... or a video's first frame), scaled to the sizes a
// Windows icon carries, and encoded as an icon resource holds them.
#ifndef KMOV_TOOLS_ICON_IMAGE_H
#define KMOV_TOOLS_ICON_IMAGE_H

#include "error.h"
#include "pe_resources.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kmov {

// RGBA pixels with straight (not premultiplied) alpha, top row first.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
};

enum {
    // A picture smaller than this on either side would be a blur at the
    // larger sizes: refused.
    ICON_MIN_PICTURE = 32,
    // Larger pictures are surely a mistake (and would take long to read).
    ICON_MAX_PICTURE = 8192,
};

// The sizes of the icon's images, in pixels; the largest is stored as PNG.
inline constexpr int ICON_SIZES[] = {16, 24, 32, 48, 64, 256};

// The largest picture in the file at `path` (an ICO holds several; a video
// gives its first frame). Errors: unreadable, no picture, too small or too
// large.
Expected<RgbaImage> icon_read_picture(const std::string &path);

// `picture` fitted into a `size` x `size` square (aspect kept, centred on
// transparency), scaled with a Lanczos filter over premultiplied alpha so
// that the colours of transparent pixels do not bleed into the edges.
RgbaImage icon_scale(const RgbaImage &picture, int size);

// The image as an icon holds it: a 32-bit bottom-up DIB (height doubled)
// followed by its AND mask (set where fully transparent).
std::vector<uint8_t> icon_dib(const RgbaImage &image);

// The image as an RGBA PNG file.
std::vector<uint8_t> icon_png(const RgbaImage &image);

// Every size of ICON_SIZES from `picture`, the largest as PNG.
std::vector<IconEntry> icon_entries(const RgbaImage &picture);

} // namespace kmov

#endif
