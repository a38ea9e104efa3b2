// The window icon handed over by the program (core.h): one image, kept
// for the backends to put on the windows they make.
#include "core.h"

#include <vector>

namespace {

struct Icon {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
};

// Never destroyed: a backend may read it while the process exits.
Icon &icon() {
    static Icon *i = new Icon;
    return *i;
}

} // namespace

void platform_set_window_icon(const uint32_t *argb, int width, int height) {
    if (argb == nullptr || width < 1 || height < 1 || width > 256 || height > 256)
        return;
    icon().pixels.assign(argb, argb + static_cast<size_t>(width) * height);
    icon().width = width;
    icon().height = height;
}

const uint32_t *platform_window_icon(int *width, int *height) {
    *width = icon().width;
    *height = icon().height;
    return icon().pixels.empty() ? nullptr : icon().pixels.data();
}
