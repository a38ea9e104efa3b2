// The Linux player's window icon, in the program's initialised data, where
// `kmov pack --icon` finds it by the marker in front of it and writes
// another picture (builds without Windows have no icon resources).
#ifndef KMOV_RES_WINDOW_ICON_H
#define KMOV_RES_WINDOW_ICON_H

#include <stdint.h>

enum {
    WINDOW_ICON_MARKER_SIZE = 16,
    WINDOW_ICON_MAX_SIZE = 64, // pixels on a side that the record holds
};

// Sixteen bytes found exactly once in the Linux player template.
#define WINDOW_ICON_MARKER "\x7fkMovSP-winicon" // 15 bytes and the terminator

// Little-endian on every target this program has. The icon is width x
// height 0xAARRGGBB pixels, top row first, at the start of argb; a size of
// 0 or above WINDOW_ICON_MAX_SIZE means no icon.
typedef struct WindowIconRecord {
    char marker[WINDOW_ICON_MARKER_SIZE];
    uint32_t width;
    uint32_t height;
    uint32_t argb[WINDOW_ICON_MAX_SIZE * WINDOW_ICON_MAX_SIZE];
} WindowIconRecord;

#endif
