// The web backend: the player in a browser page, built with Emscripten.
//
// The page (web_page.js, kmovsp.html) owns the DOM: one canvas for the one
// window, the error dialog and Web Audio. This file keeps the window's
// client area as RGBA pixels (what BitBlt and FillRect drew last) and hands
// each changed rectangle to the canvas at once; input arrives as a queue of
// page events that backend_poll_events turns into messages.
//
// The player's loop never returns to the browser on its own, so every wait
// here gives the page control (Asyncify: the wasm stack is unwound and
// rewound around the wait): backend_poll_events yields once, WaitMessage
// sleeps until a page event arrives, the timed wait until one arrives or
// its time is up. Sound is in web_audio.cpp.
#include "web.h"

#include "../core/backend.h"
#include "../core/core.h"

#include <emscripten.h>
#include <string.h>
#include <vector>

// ---- The page's side (web_page.js) ------------------------------------------

EM_JS(double, web_now_ms, (void), { return performance.now(); });

// The oldest page event, if any: its kind (WEB_EVENT_*) and client
// coordinates. Returns 0 when none is waiting.
EM_JS(int, web_take_event, (int *kind, int *x, int *y), { return kmovWeb.takeEvent(kind, x, y); });

// Gives the page control for up to `ms` milliseconds (negative: until an
// event arrives); returns early when a page event arrives.
EM_ASYNC_JS(void, web_wait, (int ms), { await kmovWeb.wait(ms); });

EM_ASYNC_JS(void, web_message_box, (const char *text, const char *title),
            { await kmovWeb.messageBox(text, title); });

EM_JS(void, web_screen_size, (int width, int height), { kmovWeb.screenSize(width, height); });
EM_JS(void, web_screen_show, (int shown), { kmovWeb.screenShow(shown); });
EM_JS(void, web_screen_title, (const char *title), { kmovWeb.screenTitle(title); });
EM_JS(void, web_screen_icon, (const uint32_t *argb, int width, int height),
      { kmovWeb.screenIcon(argb, width, height); });
EM_JS(void, web_screen_present,
      (const uint8_t *rgba, int width, int height, int x, int y, int w, int h),
      { kmovWeb.screenPresent(rgba, width, height, x, y, w, h); });

namespace {

// The one window the page shows (PlatformWindow::backend).
struct WebWindow {
    HWND handle = nullptr;
    int width = 0, height = 0;                      // the client area, as the canvas has it
    std::vector<uint8_t> pixels;                    // width * height RGBA, top row first
    char title[sizeof PlatformWindow::title] = {0}; // as last set, UTF-8
    int shown = 0;
    const uint32_t *icon = nullptr; // as last set
};

WebWindow *the_window = nullptr;

void present(WebWindow *data, int x, int y, int width, int height) {
    if (!data->shown || width <= 0 || height <= 0)
        return;
    web_screen_present(data->pixels.data(), data->width, data->height, x, y, width, height);
}

// Resizes the kept pixels, keeping what overlaps; new pixels are black.
void resize_pixels(WebWindow *data, int width, int height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
    for (size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = 255;
    for (int y = 0; y < height && y < data->height; y++)
        memcpy(pixels.data() + static_cast<size_t>(y) * width * 4,
               data->pixels.data() + static_cast<size_t>(y) * data->width * 4,
               static_cast<size_t>(width < data->width ? width : data->width) * 4);
    data->pixels.swap(pixels);
    data->width = width;
    data->height = height;
    web_screen_size(width, height);
}

// The program's icon is the page's icon (the browser's tab).
void apply_icon(WebWindow *data) {
    int width = 0, height = 0;
    const uint32_t *argb = platform_window_icon(&width, &height);
    if (argb == nullptr || argb == data->icon)
        return;
    data->icon = argb;
    web_screen_icon(argb, width, height);
}

// The canvas is at least 1 by 1 pixel; an empty client area keeps one.
int at_least_one(int size) {
    return size > 0 ? size : 1;
}

WebWindow *data_of(HWND window) {
    PlatformWindow *record = platform_window(window);
    return record != nullptr ? static_cast<WebWindow *>(record->backend) : nullptr;
}

// Clips a rectangle to a width x height area; false when nothing is left.
bool clip(int &x, int &y, int &width, int &height, int area_width, int area_height, int &skip_x,
          int &skip_y) {
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

} // namespace

// ---- Clock and sleeping ----------------------------------------------------

uint32_t backend_time_ms(void) {
    return static_cast<uint32_t>(static_cast<uint64_t>(web_now_ms()));
}

void backend_sleep(uint32_t ms) {
    emscripten_sleep(ms);
}

// ---- Message box -----------------------------------------------------------

void backend_message_box(const char *text, const char *title, unsigned flags) {
    (void)flags; // the page's dialog has one look: an error with one button
    web_message_box(text, title);
}

// ---- Events ------------------------------------------------------------------

// Moves the page's events into the queue.
static void take_events(void) {
    int kind = 0, x = 0, y = 0;
    while (web_take_event(&kind, &x, &y)) {
        HWND window = the_window != nullptr ? the_window->handle : nullptr;
        if (window == nullptr)
            continue;
        LPARAM where = MAKELPARAM(x, y);
        switch (kind) {
        case WEB_EVENT_LBUTTONDOWN:
            // Every press is one WM_LBUTTONDOWN, the second of a double
            // click too.
            platform_post_message(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
            break;
        case WEB_EVENT_LBUTTONUP:
            platform_post_message(window, WM_LBUTTONUP, 0, where);
            break;
        case WEB_EVENT_CLOSE:
            platform_post_message(window, WM_CLOSE, 0, 0);
            break;
        default:
            break;
        }
    }
}

void backend_poll_events(void) {
    // The page gets control on every look at the queue: a loop that only
    // polls still lets the browser draw, play and deliver input.
    web_wait(0);
    take_events();
}

void backend_wait_events(void) {
    take_events();
    while (!platform_queue_ready()) {
        web_wait(-1);
        take_events();
    }
}

// The page sleeps until an event arrives or the time is up; a wake-up with
// nothing for the queue (a press off the canvas) sleeps again for the rest.
int backend_wait_events_timeout(uint32_t ms) {
    take_events();
    if (platform_queue_ready())
        return 1;
    if (ms == INFINITE) {
        backend_wait_events();
        return 1;
    }
    uint32_t start = backend_time_ms();
    for (uint32_t waited = 0; waited < ms; waited = backend_time_ms() - start) {
        web_wait(static_cast<int>(ms - waited < 0x7FFFFFFFu ? ms - waited : 0x7FFFFFFFu));
        take_events();
        if (platform_queue_ready())
            return 1;
    }
    return 0;
}

// ---- Windows -------------------------------------------------------------------

int backend_window_created(HWND window) {
    PlatformWindow *record = platform_window(window);
    if (record == nullptr) {
        platform_set_error(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (the_window != nullptr) { // the page has one canvas
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    WebWindow *data = new WebWindow;
    data->handle = window;
    resize_pixels(data, at_least_one(record->client_width), at_least_one(record->client_height));
    memcpy(data->title, record->title, sizeof data->title);
    web_screen_title(data->title);
    apply_icon(data);
    record->backend = data;
    the_window = data;
    return 1;
}

void backend_window_changed(HWND window) {
    PlatformWindow *record = platform_window(window);
    WebWindow *data = data_of(window);
    if (data == nullptr)
        return;
    if (memcmp(data->title, record->title, sizeof data->title) != 0) {
        memcpy(data->title, record->title, sizeof data->title);
        web_screen_title(data->title);
    }
    apply_icon(data);
    int width = at_least_one(record->client_width);
    int height = at_least_one(record->client_height);
    if (width != data->width || height != data->height)
        resize_pixels(data, width, height);
    // A minimized window has no minimized form in a page: it stays shown.
    if (record->visible != data->shown) {
        data->shown = record->visible;
        web_screen_show(data->shown);
        present(data, 0, 0, data->width, data->height);
    }
}

void backend_window_destroyed(HWND window) {
    WebWindow *data = data_of(window);
    if (data == nullptr)
        return;
    web_screen_show(0);
    platform_window(window)->backend = nullptr;
    if (the_window == data)
        the_window = nullptr;
    delete data;
}

// ---- Drawing -------------------------------------------------------------------

void backend_blit(HWND window, int x, int y, int width, int height, const uint8_t *pixels,
                  int stride, const RGBQUAD *colours) {
    WebWindow *data = data_of(window);
    if (data == nullptr || pixels == nullptr || colours == nullptr)
        return;
    int skip_x, skip_y;
    if (!clip(x, y, width, height, data->width, data->height, skip_x, skip_y))
        return;
    // RGBA as one little-endian word: red in the lowest byte.
    uint32_t lookup[256];
    for (int i = 0; i < 256; i++)
        lookup[i] = 0xFF000000u | (static_cast<uint32_t>(colours[i].rgbBlue) << 16) |
                    (static_cast<uint32_t>(colours[i].rgbGreen) << 8) | colours[i].rgbRed;
    for (int row = 0; row < height; row++) {
        const uint8_t *src = pixels + static_cast<ptrdiff_t>(row + skip_y) * stride + skip_x;
        uint8_t *dst = data->pixels.data() + (static_cast<size_t>(y + row) * data->width + x) * 4;
        for (int col = 0; col < width; col++)
            memcpy(dst + col * 4, &lookup[src[col]], 4);
    }
    present(data, x, y, width, height);
}

void backend_fill(HWND window, const RECT *rect, RGBQUAD colour) {
    WebWindow *data = data_of(window);
    if (data == nullptr || rect == nullptr)
        return;
    int x = rect->left, y = rect->top;
    int width = rect->right - rect->left, height = rect->bottom - rect->top;
    int skip_x, skip_y;
    if (!clip(x, y, width, height, data->width, data->height, skip_x, skip_y))
        return;
    uint8_t value[4] = {colour.rgbRed, colour.rgbGreen, colour.rgbBlue, 255};
    for (int row = 0; row < height; row++) {
        uint8_t *dst = data->pixels.data() + (static_cast<size_t>(y + row) * data->width + x) * 4;
        for (int col = 0; col < width; col++)
            memcpy(dst + col * 4, value, 4);
    }
    present(data, x, y, width, height);
}
