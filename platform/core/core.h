// What platform/core shares between its own files and with the backends:
// the window records behind HWND, the thread's message queue, and the
// last-error slot. Not seen by the player.
#ifndef KMOV_PLATFORM_CORE_H
#define KMOV_PLATFORM_CORE_H

#include <windows.h>

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
    char title[256];  // code page 932 bytes, NUL-terminated
    DWORD style;      // WS_* bits given to CreateWindowExA
    RECT outer;       // screen coordinates of the outer rectangle
    int client_width; // client area size in pixels
    int client_height;
    int visible;   // shown (ShowWindow with anything but SW_HIDE)
    int minimized; // shown minimized
    void *backend; // the backend's own data for this window
} PlatformWindow;

// The window record behind a handle, or null for a handle that is not (or
// no longer) a window.
PlatformWindow *platform_window(HWND window);

// Posts a message to the queue of the one GUI thread (what PostMessageA
// does, minus the window check); backends use it for input.
void platform_post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Non-zero when the queue holds a message or a window needs painting.
int platform_queue_ready(void);

// Sets the thread's last-error code (SetLastError).
void platform_set_error(DWORD code);

#endif
