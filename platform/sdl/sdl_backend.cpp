// The SDL2 backend: real windows, mouse and close events, the message box
// and the clock. Sound is in sdl_audio.cpp.
//
// Each window is an SDL window with no renderer: the backend keeps the
// client area as 0x00RRGGBB pixels (what BitBlt and FillRect drew last),
// and copies the changed rectangle onto the window's surface at once. An
// exposed window is redrawn from that copy and invalidated, so WM_PAINT
// follows as on Windows.
//
// With no display SDL would quietly fall back to a video driver that shows
// nothing ("offscreen", "dummy"); those are refused unless SDL_VIDEODRIVER
// names them, so the program's CreateWindowExA fails instead of running
// unseen.
#include "sdl_backend.h"
#include "sdl_x11.h"

#include "../core/backend.h"
#include "../core/core.h"

#include <errno.h>
#include <map>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <time.h>
#include <vector>

namespace {

// What the backend keeps for one window (PlatformWindow::backend).
struct SdlWindow {
    SDL_Window *window = nullptr;
    int width = 0, height = 0;    // the client area as the SDL window has it
    std::vector<uint32_t> pixels; // width * height, 0x00RRGGBB, top row first
    std::string title;            // the title as last set, UTF-8
    RECT outer{};                 // the outer rectangle as last applied
    int shown = 0, minimized = 0; // as last applied
    int icon_width = 0;           // the icon as last applied (0: none yet)
    const uint32_t *icon = nullptr;
};

struct State {
    std::map<Uint32, HWND> by_id; // SDL window id -> window
};

// Never destroyed: windows may outlive static destruction at exit.
State &state() {
    static State *s = new State;
    return *s;
}

// At exit the sound device is closed, so that what it holds is played out
// (or written, for SDL's disk driver). The display is left to the process's
// end: closing SDL's video reinstalls Xlib's default error handler and then
// reads the errors still pending on SDL's second display connection (a
// wake-up sent to a window already destroyed), which that handler turns
// into exit code 1.
void shut_down(void) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

SdlWindow *data_of(HWND window) {
    PlatformWindow *record = platform_window(window);
    return record != nullptr ? static_cast<SdlWindow *>(record->backend) : nullptr;
}

// Where the client area's top-left corner lies for the core's outer
// rectangle: the window system adds its own frame around the SDL window.
int client_x(const PlatformWindow *record) {
    return record->outer.left + PLATFORM_BORDER;
}
int client_y(const PlatformWindow *record) {
    return record->outer.top + PLATFORM_BORDER + PLATFORM_CAPTION;
}

// A stand-in icon until the program hands one over: a dark film frame with
// sprocket holes and a warm picture area.
std::vector<uint32_t> placeholder_icon(int size) {
    std::vector<uint32_t> icon(static_cast<size_t>(size) * size);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            uint32_t colour = 0xFF202020u;
            int in_strip = x < 5 || x >= size - 5;
            if (in_strip && (y % 6) >= 2 && (y % 6) < 5 &&
                (x == 2 || x == 3 || x == size - 4 || x == size - 3))
                colour = 0xFFE0E0E0u;
            else if (!in_strip && y >= 4 && y < size - 4) {
                uint32_t r = static_cast<uint32_t>(0xF0 - y * 3);
                uint32_t g = static_cast<uint32_t>(0x60 + x * 4);
                colour = 0xFF000000u | (r << 16) | (g << 8) | 0x40u;
            }
            icon[static_cast<size_t>(y) * size + x] = colour;
        }
    }
    return icon;
}

void apply_icon(SdlWindow *data) {
    int width = 0, height = 0;
    const uint32_t *argb = platform_window_icon(&width, &height);
    if (data->icon_width != 0 && argb == data->icon)
        return;
    std::vector<uint32_t> fallback;
    if (argb == nullptr) {
        if (data->icon_width != 0)
            return;
        fallback = placeholder_icon(32);
        argb = fallback.data();
        width = height = 32;
    }
    SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<uint32_t *>(argb), width, height, 32, width * 4, SDL_PIXELFORMAT_ARGB8888);
    if (surface == nullptr)
        return;
    SDL_SetWindowIcon(data->window, surface);
    SDL_FreeSurface(surface);
    data->icon_width = width;
    data->icon = fallback.empty() ? argb : nullptr;
}

// How many screen pixels each client pixel takes on a side: 1, or what
// KMOV_PLAYER_SCALE asks for (2 to 8; `kmov play --scale N` sets it). The
// program sees its client area at its own size; only the SDL window, the
// drawing (nearest neighbour) and the mouse positions are scaled.
enum { MAX_WINDOW_SCALE = 8 };
int window_scale() {
    static int scale = 0;
    if (scale == 0) {
        const char *asked = getenv("KMOV_PLAYER_SCALE");
        int value = asked != nullptr ? atoi(asked) : 1;
        scale = value >= 1 && value <= MAX_WINDOW_SCALE ? value : 1;
    }
    return scale;
}

// present() for a scaled window: each kept pixel drawn as a scale x scale
// block, a row at a time.
void present_scaled(SdlWindow *data, SDL_Surface *surface, int x, int y, int width, int height,
                    int scale) {
    std::vector<uint32_t> row(static_cast<size_t>(width) * scale);
    for (int source_y = y; source_y < y + height; source_y++) {
        const uint32_t *src = data->pixels.data() + static_cast<size_t>(source_y) * data->width;
        for (int i = 0; i < width * scale; i++)
            row[static_cast<size_t>(i)] = src[x + i / scale];
        for (int copy = 0; copy < scale; copy++) {
            int target_y = source_y * scale + copy;
            int target_width = width * scale;
            if (target_y >= surface->h || x * scale >= surface->w)
                return;
            if (x * scale + target_width > surface->w)
                target_width = surface->w - x * scale;
            uint8_t *dst = static_cast<uint8_t *>(surface->pixels) +
                           static_cast<size_t>(target_y) * surface->pitch +
                           static_cast<size_t>(x) * scale * surface->format->BytesPerPixel;
            SDL_ConvertPixels(target_width, 1, SDL_PIXELFORMAT_RGB888, row.data(), target_width * 4,
                              surface->format->format, dst, surface->pitch);
        }
    }
}

// Copies a rectangle of the kept pixels onto the window. The rectangle is
// already clipped to the client area.
void present(SdlWindow *data, int x, int y, int width, int height) {
    if (!data->shown || width <= 0 || height <= 0)
        return;
    SDL_Surface *surface = SDL_GetWindowSurface(data->window);
    if (surface == nullptr)
        return;
    if (const int scale = window_scale(); scale > 1) {
        if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0)
            return;
        present_scaled(data, surface, x, y, width, height, scale);
        if (SDL_MUSTLOCK(surface))
            SDL_UnlockSurface(surface);
        SDL_Rect rect = {x * scale, y * scale, width * scale, height * scale};
        SDL_UpdateWindowSurfaceRects(data->window, &rect, 1);
        return;
    }
    if (x + width > surface->w)
        width = surface->w - x;
    if (y + height > surface->h)
        height = surface->h - y;
    if (width <= 0 || height <= 0)
        return;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0)
        return;
    const uint32_t *src = data->pixels.data() + static_cast<size_t>(y) * data->width + x;
    uint8_t *dst = static_cast<uint8_t *>(surface->pixels) +
                   static_cast<size_t>(y) * surface->pitch +
                   static_cast<size_t>(x) * surface->format->BytesPerPixel;
    SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_RGB888, src, data->width * 4,
                      surface->format->format, dst, surface->pitch);
    if (SDL_MUSTLOCK(surface))
        SDL_UnlockSurface(surface);
    SDL_Rect rect = {x, y, width, height};
    SDL_UpdateWindowSurfaceRects(data->window, &rect, 1);
}

void present_all(SdlWindow *data) {
    present(data, 0, 0, data->width, data->height);
}

// Resizes the kept pixels, keeping what overlaps; new pixels are black.
void resize_pixels(SdlWindow *data, int width, int height) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height && y < data->height; y++)
        for (int x = 0; x < width && x < data->width; x++)
            pixels[static_cast<size_t>(y) * width + x] =
                data->pixels[static_cast<size_t>(y) * data->width + x];
    data->pixels.swap(pixels);
    data->width = width;
    data->height = height;
}

// SDL windows are at least 1 by 1 pixel; an empty client area keeps one.
int at_least_one(int size) {
    return size > 0 ? size : 1;
}

// Turns one SDL event into queue messages.
void handle_event(const SDL_Event &event) {
    Uint32 id = 0;
    switch (event.type) {
    case SDL_WINDOWEVENT:
        id = event.window.windowID;
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        id = event.button.windowID;
        break;
    default:
        return; // SDL_QUIT too: closing comes per window, as WM_CLOSE
    }
    auto it = state().by_id.find(id);
    if (it == state().by_id.end())
        return;
    HWND window = it->second;
    PlatformWindow *record = platform_window(window);
    if (record == nullptr)
        return;
    SdlWindow *data = static_cast<SdlWindow *>(record->backend);
    if (event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_MOUSEBUTTONUP) {
        if (event.button.button != SDL_BUTTON_LEFT)
            return;
        // Every press is one WM_LBUTTONDOWN: the second press of a double
        // click too, since the window class asks for no double clicks.
        LPARAM where = MAKELPARAM(event.button.x / window_scale(), event.button.y / window_scale());
        if (event.type == SDL_MOUSEBUTTONDOWN)
            platform_post_message(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
        else
            platform_post_message(window, WM_LBUTTONUP, 0, where);
        return;
    }
    switch (event.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
        platform_post_message(window, WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT_SHOWN:
        // SDL sets hints of its own while it maps the window.
        sdl_x11_offer_no_maximize(data->window);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        present_all(data);
        InvalidateRect(window, nullptr, FALSE);
        break;
    // The user may minimize and restore the window through the window
    // system; the record follows, so WM_PAINT comes again once restored.
    case SDL_WINDOWEVENT_MINIMIZED:
        record->minimized = 1;
        data->minimized = 1;
        break;
    case SDL_WINDOWEVENT_RESTORED:
        record->minimized = 0;
        data->minimized = 0;
        InvalidateRect(window, nullptr, FALSE);
        break;
    default:
        break;
    }
}

} // namespace

int sdl_start(Uint32 subsystem) {
    if (SDL_WasInit(subsystem) == subsystem)
        return 1;
    static int first = 1;
    if (first) {
        first = 0;
        // Ctrl+C and the like end the program as they would any other;
        // SDL would turn them into SDL_QUIT, which the player never sees.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        // A click that activates the window is also a click in it.
        SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
        SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
        // Frames go to the window through the display's own image transfer
        // (shared memory on X11), not through a GL texture: where GL is only
        // emulated in software (a virtual display, a machine without a GPU
        // driver) that costs several times the CPU of the whole player.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        atexit(shut_down);
    }
    if (SDL_InitSubSystem(subsystem) != 0)
        return 0;
    if (subsystem == SDL_INIT_VIDEO) {
        const char *driver = SDL_GetCurrentVideoDriver();
        const char *asked = SDL_getenv("SDL_VIDEODRIVER");
        int unseen = driver == nullptr || strcmp(driver, "offscreen") == 0 ||
                     strcmp(driver, "dummy") == 0 || strcmp(driver, "evdev") == 0;
        if (unseen &&
            (asked == nullptr || driver == nullptr || SDL_strcasecmp(asked, driver) != 0)) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            SDL_SetError("no display (SDL would use the \"%s\" video driver)",
                         driver != nullptr ? driver : "none");
            return 0;
        }
        sdl_x11_tolerate_gone_windows();
    }
    return 1;
}

// ---- Clock and sleeping ----------------------------------------------------

uint32_t backend_time_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void backend_sleep(uint32_t ms) {
    struct timespec left = {static_cast<time_t>(ms / 1000),
                            static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// ---- Message box -----------------------------------------------------------

void backend_message_box(const char *text, const char *title, unsigned flags) {
    std::string message = text;
    std::string caption = title;
    // Also on stderr, so a run from a terminal or a script keeps the text.
    fprintf(stderr, "MessageBoxA [%s] 0x%08x %s\n", caption.c_str(), flags, message.c_str());
    fflush(stderr);
    Uint32 kind = SDL_MESSAGEBOX_INFORMATION;
    switch (flags & 0xF0u) {
    case 0x10u: // MB_ICONERROR
        kind = SDL_MESSAGEBOX_ERROR;
        break;
    case 0x30u: // MB_ICONWARNING
        kind = SDL_MESSAGEBOX_WARNING;
        break;
    default:
        break;
    }
    // Over the first shown window, if there is one.
    SDL_Window *parent = nullptr;
    for (auto &entry : state().by_id) {
        SdlWindow *data = data_of(entry.second);
        if (data != nullptr && data->shown) {
            parent = data->window;
            break;
        }
    }
    if (SDL_ShowSimpleMessageBox(kind, caption.c_str(), message.c_str(), parent) != 0) {
        fprintf(stderr, "MessageBoxA: cannot show the box: %s\n", SDL_GetError());
        fflush(stderr);
    }
}

// ---- Events ------------------------------------------------------------------

void backend_poll_events(void) {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0)
        return;
    SDL_Event event;
    while (SDL_PollEvent(&event))
        handle_event(event);
}

void backend_wait_events(void) {
    if (platform_queue_ready())
        return;
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        // No window: nothing can arrive. Do not spin.
        backend_sleep(10);
        return;
    }
    while (!platform_queue_ready()) {
        SDL_Event event;
        if (!SDL_WaitEvent(&event)) {
            backend_sleep(10);
            return;
        }
        handle_event(event);
        backend_poll_events();
    }
}

int backend_wait_events_timeout(uint32_t ms) {
    if (ms == INFINITE) {
        backend_wait_events();
        return 1;
    }
    backend_poll_events();
    if (platform_queue_ready())
        return 1;
    uint32_t deadline = backend_time_ms() + ms;
    for (;;) {
        int32_t left = static_cast<int32_t>(deadline - backend_time_ms());
        if (left <= 0)
            return 0;
        if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
            // No window: nothing can arrive before the time is up.
            backend_sleep(static_cast<uint32_t>(left));
            return platform_queue_ready();
        }
        // SDL sleeps in the display connection's poll until an event comes
        // or the time is up; it returns 0 for both time-out and failure.
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, left)) {
            handle_event(event);
            backend_poll_events();
            if (platform_queue_ready())
                return 1;
        }
    }
}

// ---- Windows -------------------------------------------------------------------

int backend_window_created(HWND window) {
    PlatformWindow *record = platform_window(window);
    if (record == nullptr) {
        platform_set_error(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (!sdl_start(SDL_INIT_VIDEO)) {
        fprintf(stderr, "kmov: cannot open a window: %s\n", SDL_GetError());
        fflush(stderr);
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    SdlWindow *data = new SdlWindow;
    data->title = record->title;
    data->outer = record->outer;
    int width = at_least_one(record->client_width);
    int height = at_least_one(record->client_height);
    // Fixed size (not resizable, and no maximize offered), hidden until
    // ShowWindow.
    data->window =
        SDL_CreateWindow(record->title, client_x(record), client_y(record), width * window_scale(),
                         height * window_scale(), SDL_WINDOW_HIDDEN);
    if (data->window == nullptr) {
        fprintf(stderr, "kmov: cannot open a window: %s\n", SDL_GetError());
        fflush(stderr);
        delete data;
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    sdl_x11_offer_no_maximize(data->window);
    resize_pixels(data, width, height);
    apply_icon(data);
    record->backend = data;
    state().by_id[SDL_GetWindowID(data->window)] = window;
    return 1;
}

void backend_window_changed(HWND window) {
    PlatformWindow *record = platform_window(window);
    SdlWindow *data = record != nullptr ? static_cast<SdlWindow *>(record->backend) : nullptr;
    if (data == nullptr)
        return;
    if (data->title != record->title) {
        data->title = record->title;
        SDL_SetWindowTitle(data->window, record->title);
    }
    apply_icon(data);
    int width = at_least_one(record->client_width);
    int height = at_least_one(record->client_height);
    if (width != data->width || height != data->height) {
        SDL_SetWindowSize(data->window, width * window_scale(), height * window_scale());
        resize_pixels(data, width, height);
    }
    if (record->outer.left != data->outer.left || record->outer.top != data->outer.top)
        SDL_SetWindowPosition(data->window, client_x(record), client_y(record));
    data->outer = record->outer;
    if (record->visible && !data->shown) {
        SDL_ShowWindow(data->window);
        data->shown = 1;
        present_all(data);
    } else if (!record->visible && data->shown) {
        SDL_HideWindow(data->window);
        data->shown = 0;
    }
    if (data->shown && record->minimized != data->minimized) {
        if (record->minimized)
            SDL_MinimizeWindow(data->window);
        else
            SDL_RestoreWindow(data->window);
        data->minimized = record->minimized;
    }
}

void backend_window_destroyed(HWND window) {
    PlatformWindow *record = platform_window(window);
    SdlWindow *data = record != nullptr ? static_cast<SdlWindow *>(record->backend) : nullptr;
    if (data == nullptr)
        return;
    state().by_id.erase(SDL_GetWindowID(data->window));
    SDL_DestroyWindow(data->window);
    record->backend = nullptr;
    delete data;
}

// ---- Drawing -------------------------------------------------------------------

// Clips a rectangle to a width x height area; false when nothing is left.
static bool clip(int &x, int &y, int &width, int &height, int area_width, int area_height,
                 int &skip_x, int &skip_y) {
    skip_x = x < 0 ? -x : 0;
    skip_y = y < 0 ? -y : 0;
    x += skip_x;
    y += skip_y;
    width -= skip_x;
    height -= skip_y;
    if (x + width > area_width)
        width = area_width - x;
    if (y + height > area_height)
        height = area_height - y;
    return width > 0 && height > 0;
}

void backend_blit(HWND window, int x, int y, int width, int height, const uint8_t *pixels,
                  int stride, const RGBQUAD *colours) {
    SdlWindow *data = data_of(window);
    if (data == nullptr || pixels == nullptr || colours == nullptr)
        return;
    int skip_x, skip_y;
    if (!clip(x, y, width, height, data->width, data->height, skip_x, skip_y))
        return;
    uint32_t lookup[256];
    for (int i = 0; i < 256; i++)
        lookup[i] = (static_cast<uint32_t>(colours[i].rgbRed) << 16) |
                    (static_cast<uint32_t>(colours[i].rgbGreen) << 8) | colours[i].rgbBlue;
    for (int row = 0; row < height; row++) {
        const uint8_t *src = pixels + static_cast<ptrdiff_t>(row + skip_y) * stride + skip_x;
        uint32_t *dst = data->pixels.data() + static_cast<size_t>(y + row) * data->width + x;
        for (int col = 0; col < width; col++)
            dst[col] = lookup[src[col]];
    }
    present(data, x, y, width, height);
}

void backend_fill(HWND window, const RECT *rect, RGBQUAD colour) {
    SdlWindow *data = data_of(window);
    if (data == nullptr || rect == nullptr)
        return;
    int x = rect->left, y = rect->top;
    int width = rect->right - rect->left, height = rect->bottom - rect->top;
    int skip_x, skip_y;
    if (!clip(x, y, width, height, data->width, data->height, skip_x, skip_y))
        return;
    uint32_t value = (static_cast<uint32_t>(colour.rgbRed) << 16) |
                     (static_cast<uint32_t>(colour.rgbGreen) << 8) | colour.rgbBlue;
    for (int row = 0; row < height; row++) {
        uint32_t *dst = data->pixels.data() + static_cast<size_t>(y + row) * data->width + x;
        for (int col = 0; col < width; col++)
            dst[col] = value;
    }
    present(data, x, y, width, height);
}
