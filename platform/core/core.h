// What platform/core shares between its own files and with the backends:
// the window records behind HWND, the thread's message queue, and the
// last-error slot. Not seen by the player.
#ifndef KMOV_PLATFORM_CORE_H
#define KMOV_PLATFORM_CORE_H

#include <windows.h>

#include <string>

// Fixed non-client metrics of a captioned window, in pixels: the outer
// rectangle is the client area plus a border on every side and a caption
// above. Windows' own values differ by theme; callers must not rely on them.
enum {
    PLATFORM_BORDER = 3,
    PLATFORM_CAPTION = 23,
};

// A window as the backends see it. Owned by the core; valid from
// backend_window_created until backend_window_destroyed returns.
typedef struct PlatformWindow {
    char title[1024]; // UTF-8, NUL-terminated (a 255-unit UTF-16 title fits)
    DWORD style;      // WS_* bits given to CreateWindowExA
    RECT outer;       // screen coordinates of the outer rectangle
    int client_width; // client area size in pixels
    int client_height;
    int visible;   // shown (ShowWindow with anything but SW_HIDE)
    int minimized; // shown minimized
    void *backend; // the backend's own data for this window
} PlatformWindow;

// The program's window icon, as 0xAARRGGBB pixels, top row first; the
// backend puts it on every window it makes afterwards (the headless one
// ignores it). Copied; `width` and `height` from 1 to 256. Builds without
// Windows have no icon resources, so the program hands its icon over here
// before it creates its window.
void platform_set_window_icon(const uint32_t *argb, int width, int height);
// The icon last set, or null (then *width and *height are 0).
const uint32_t *platform_window_icon(int *width, int *height);

// The window record behind a handle, or null for a handle that is not (or
// no longer) a window.
PlatformWindow *platform_window(HWND window);

// Posts a message to the queue of the one GUI thread (what PostMessageA
// does, minus the window check); backends use it for input.
void platform_post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Non-zero when something can be retrieved: a posted message, the quit
// message, or WM_PAINT for a shown window that needs painting.
int platform_queue_ready(void);

// ---- Device contexts (core/device_context.cpp) ------------------------------

// A device context: either a window's (GetDC, BeginPaint), drawing onto its
// client area, or a memory DC (CreateCompatibleDC) that a bitmap is
// selected into.
typedef struct PlatformDC {
    uint32_t magic;
    HWND window;      // the window it draws on; null for a memory DC
    HGDIOBJ bitmap;   // memory DC: the selected bitmap, or null
    HPALETTE palette; // the selected palette, or null (the default palette)
    HBRUSH brush;     // the selected brush, or null
} PlatformDC;

// The record behind a DC handle, or null for anything that is not a live DC.
PlatformDC *platform_dc(HDC dc);
// A new DC for `window` (null: a memory DC); null when out of memory.
HDC platform_dc_new(HWND window);
// Frees a DC; the objects selected into it are not touched.
void platform_dc_free(HDC dc);

// ---- GDI objects (core/gdi32.cpp) -----------------------------------------------

typedef enum PlatformObjectKind {
    PLATFORM_BITMAP = 1,  // an 8-bit DIB section
    PLATFORM_PALETTE = 2, // a logical palette
    PLATFORM_BRUSH = 3,   // a solid (stock) brush
} PlatformObjectKind;

typedef struct PlatformObject {
    uint32_t magic;
    PlatformObjectKind kind;
    // PLATFORM_BITMAP: a top-down 8-bit section of width x height pixels,
    // `stride` bytes a row, colours from the BITMAPINFO it was made from.
    int width, height, stride;
    uint8_t *pixels;
    RGBQUAD colours[256];
    // PLATFORM_PALETTE: `count` entries; PLATFORM_BRUSH: colours[0].
    int count;
    PALETTEENTRY entries[256];
    int stock; // stock objects are never freed
} PlatformObject;

// The record behind a GDI handle of the given kind (0: any), or null.
PlatformObject *platform_object(HGDIOBJ object, PlatformObjectKind kind);
// A new zeroed record of that kind, or null when out of memory; DeleteObject
// frees it (and a bitmap's pixels).
PlatformObject *platform_object_new(PlatformObjectKind kind);

// Makes GetModuleFileNameA name `path` instead of the running program
// (null: the program again). For tests that start the player in-process.
void platform_set_module_path(const char *path);

// ---- Text (core/text.cpp) -------------------------------------------------------

// The core keeps window titles and box texts as UTF-8, what X and SDL take.
// With `escape` set, bytes of a file name that are not UTF-8 travel through
// UTF-16 as the lone surrogates U+DC80..U+DCFF and come back as the same
// bytes, so that any name the system gave opens again; without it they
// become U+FFFD, as in a Windows conversion.
std::string platform_utf8_from_wide(const WCHAR *text, int escape);
std::u16string platform_wide_from_utf8(const char *text, int escape);
// Code page 932 bytes (the A calls' text) as UTF-8, and back; what does not
// convert becomes U+30FB or '?'.
std::string platform_utf8_from_cp932(const char *text);
std::string platform_cp932_from_utf8(const char *text);

// The finest timer period in force through timeBeginPeriod, in
// milliseconds; 0 when every period has been ended.
UINT platform_timer_period(void);

// Sets the thread's last-error code (SetLastError).
void platform_set_error(DWORD code);

#endif
