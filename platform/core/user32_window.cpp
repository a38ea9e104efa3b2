// USER32 stand-ins: window classes, windows, their geometry and painting,
// and the thread's message queue.
//
// Behaviour follows Windows where a program can see it:
// - Retrieval order: posted messages first, in the order posted; then the
//   quit message (PostQuitMessage only sets a flag, so it comes after what
//   was already queued); then WM_PAINT for the first shown window with an
//   invalid region. WM_PAINT is never removed from the queue: it keeps
//   coming until BeginPaint (or DefWindowProcA's WM_PAINT) validates.
// - A top-level window without WS_POPUP always has a caption. The outer
//   rectangle is the client area plus PLATFORM_BORDER on each side and
//   PLATFORM_CAPTION above (core.h); the client area is never negative.
// - DestroyWindow sends WM_DESTROY, then WM_NCDESTROY; messages still posted
//   to the window are dropped, and the handle is invalid afterwards
//   (handles are never reused).
// - Failures return Windows' codes through GetLastError:
//   ERROR_CLASS_ALREADY_EXISTS, ERROR_CANNOT_FIND_WND_CLASS,
//   ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_PARAMETER.
//
// Not stood in for: message range and window filters (ignored), sent
// messages from other threads, WM_ERASEBKGND, WM_SIZE/WM_MOVE
// notifications, keyboard translation, z-order, child windows.
#include "backend.h"
#include "core.h"

#include <deque>
#include <map>
#include <memory>
#include <string.h>
#include <strings.h>
#include <string>
#include <vector>

namespace {

// Where and how large CW_USEDEFAULT puts a window.
constexpr int DEFAULT_X = 64;
constexpr int DEFAULT_Y = 48;
constexpr int DEFAULT_WIDTH = 640;
constexpr int DEFAULT_HEIGHT = 480;
constexpr WORD FIRST_CLASS_ATOM = 0xC000; // string atoms start here on Windows

struct WindowClass {
    std::string name;
    WORD atom;
    UINT style;
    WNDPROC proc;
};

struct Window {
    PlatformWindow pub;
    HWND handle;
    WNDPROC proc;
    RECT frame;     // non-client widths: left, top (border + caption), right, bottom
    int destroying; // inside DestroyWindow: no second destruction
    int invalid;    // the update region is not empty
    RECT update;    // bounding rectangle of the update region, client coordinates
    BOOL erase;     // an InvalidateRect asked for the background to be erased
};

struct State {
    std::vector<WindowClass> classes;
    std::map<HWND, std::unique_ptr<Window>> windows; // by handle, which is creation order
    uintptr_t next_handle = 0x10010;
    std::deque<MSG> queue;
    int quit_pending = 0;
    WPARAM quit_code = 0;
};

// Never destroyed: windows may outlive static destruction at exit.
State &state() {
    static State *s = new State;
    return *s;
}

int is_atom(const void *name) {
    return reinterpret_cast<uintptr_t>(name) < 0x10000;
}

// A class as CreateWindowEx names it: an atom, or a name in UTF-8.
struct ClassKey {
    uintptr_t atom; // 0: by name
    std::string name;
};

ClassKey key_of(LPCSTR name) {
    if (is_atom(name))
        return {reinterpret_cast<uintptr_t>(name), {}};
    return {0, platform_utf8_from_cp932(name)};
}
ClassKey key_of(LPCWSTR name) {
    if (is_atom(name))
        return {reinterpret_cast<uintptr_t>(name), {}};
    return {0, platform_utf8_from_wide(name, 0)};
}

// Class names compare without regard to ASCII case, as on Windows.
WindowClass *find_class(const ClassKey &key) {
    for (WindowClass &c : state().classes) {
        if (key.atom != 0 ? c.atom == key.atom : strcasecmp(c.name.c_str(), key.name.c_str()) == 0)
            return &c;
    }
    return nullptr;
}

Window *find_window(HWND handle) {
    auto it = state().windows.find(handle);
    return it == state().windows.end() ? nullptr : it->second.get();
}

// The window behind a handle, or null with ERROR_INVALID_WINDOW_HANDLE.
Window *window_or_error(HWND handle) {
    Window *w = find_window(handle);
    if (w == nullptr)
        platform_set_error(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

LRESULT send(Window *w, UINT message, WPARAM wparam, LPARAM lparam) {
    return w->proc(w->handle, message, wparam, lparam);
}

void update_client_size(Window *w) {
    int width = w->pub.outer.right - w->pub.outer.left - w->frame.left - w->frame.right;
    int height = w->pub.outer.bottom - w->pub.outer.top - w->frame.top - w->frame.bottom;
    w->pub.client_width = width > 0 ? width : 0;
    w->pub.client_height = height > 0 ? height : 0;
}

// Adds `rect` (client coordinates; null: all of it) to the update region.
void invalidate(Window *w, const RECT *rect, BOOL erase) {
    RECT r = {0, 0, w->pub.client_width, w->pub.client_height};
    if (rect != nullptr) {
        if (rect->left > r.left)
            r.left = rect->left;
        if (rect->top > r.top)
            r.top = rect->top;
        if (rect->right < r.right)
            r.right = rect->right;
        if (rect->bottom < r.bottom)
            r.bottom = rect->bottom;
    }
    if (r.left >= r.right || r.top >= r.bottom)
        return;
    if (!w->invalid) {
        w->update = r;
        w->invalid = 1;
    } else {
        if (r.left < w->update.left)
            w->update.left = r.left;
        if (r.top < w->update.top)
            w->update.top = r.top;
        if (r.right > w->update.right)
            w->update.right = r.right;
        if (r.bottom > w->update.bottom)
            w->update.bottom = r.bottom;
    }
    if (erase)
        w->erase = TRUE;
}

// The first window that WM_PAINT is due for: shown, not minimized, invalid.
Window *window_to_paint(void) {
    for (auto &entry : state().windows) {
        Window *w = entry.second.get();
        if (w->invalid && w->pub.visible && !w->pub.minimized && !w->destroying)
            return w;
    }
    return nullptr;
}

// The next message in retrieval order, removed when `remove` is set (never
// WM_PAINT, which stays until validated). False when there is none.
BOOL next_message(MSG *msg, int remove) {
    State &s = state();
    if (!s.queue.empty()) {
        *msg = s.queue.front();
        if (remove)
            s.queue.pop_front();
        return TRUE;
    }
    if (s.quit_pending) {
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = s.quit_code;
        msg->time = backend_time_ms();
        if (remove)
            s.quit_pending = 0;
        return TRUE;
    }
    if (Window *w = window_to_paint()) {
        *msg = MSG{};
        msg->hwnd = w->handle;
        msg->message = WM_PAINT;
        msg->time = backend_time_ms();
        return TRUE;
    }
    return FALSE;
}

// Copies a UTF-8 title into the window record, cut at a whole character
// when it is too long.
void set_title(Window *w, const std::string &title) {
    size_t room = sizeof w->pub.title - 1;
    size_t length = title.size();
    if (length > room) {
        length = room;
        while (length > 0 && (static_cast<unsigned char>(title[length]) & 0xC0) == 0x80)
            length--;
    }
    memcpy(w->pub.title, title.data(), length);
    w->pub.title[length] = 0;
}

// Frees a window's record after its last message.
void forget_window(Window *w) {
    HWND handle = w->handle;
    std::deque<MSG> &queue = state().queue;
    for (auto it = queue.begin(); it != queue.end();)
        it = it->hwnd == handle ? queue.erase(it) : it + 1;
    backend_window_destroyed(handle);
    state().windows.erase(handle);
}

} // namespace

// ---- Core interface (core.h) ----------------------------------------------------

PlatformWindow *platform_window(HWND window) {
    Window *w = find_window(window);
    return w != nullptr ? &w->pub : nullptr;
}

void platform_post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wparam;
    msg.lParam = lparam;
    msg.time = backend_time_ms();
    state().queue.push_back(msg);
}

int platform_queue_ready(void) {
    return !state().queue.empty() || state().quit_pending || window_to_paint() != nullptr;
}

// ---- Classes and windows -------------------------------------------------------------

namespace {

// RegisterClassExA and RegisterClassExW once the name is UTF-8.
template <typename ClassInfo> WORD register_class(const ClassInfo *window_class) {
    if (window_class == nullptr || window_class->cbSize != sizeof(ClassInfo) ||
        window_class->cbClsExtra < 0 || window_class->cbWndExtra < 0 ||
        window_class->lpszClassName == nullptr || is_atom(window_class->lpszClassName)) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ClassKey key = key_of(window_class->lpszClassName);
    if (find_class(key) != nullptr) {
        platform_set_error(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    State &s = state();
    WORD atom = static_cast<WORD>(FIRST_CLASS_ATOM + s.classes.size());
    s.classes.push_back(
        {key.name, atom, window_class->style,
         window_class->lpfnWndProc != nullptr ? window_class->lpfnWndProc : DefWindowProcA});
    return atom;
}

// CreateWindowExA and CreateWindowExW: the names as the caller gave them
// (handed on in the CREATESTRUCT of the same kind) and the title in UTF-8.
template <typename CreateInfo, typename Text>
HWND create_window(DWORD ex_style, Text class_name, Text title, const std::string &title_utf8,
                   DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                   HINSTANCE instance, LPVOID param) {
    WindowClass *window_class = class_name != nullptr ? find_class(key_of(class_name)) : nullptr;
    if (window_class == nullptr) {
        platform_set_error(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (parent != nullptr && find_window(parent) == nullptr) {
        platform_set_error(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    State &s = state();
    auto record = std::make_unique<Window>();
    Window *w = record.get();
    w->handle = reinterpret_cast<HWND>(s.next_handle);
    s.next_handle += 2;
    w->proc = window_class->proc;
    w->pub.style = style;
    set_title(w, title_utf8);

    // Top-level windows that are not pop-ups always get a caption.
    DWORD effective = (style & WS_POPUP) ? style : style | WS_CAPTION;
    int border = (effective & (WS_BORDER | WS_THICKFRAME)) ? PLATFORM_BORDER : 0;
    int caption = (effective & WS_CAPTION) == WS_CAPTION ? PLATFORM_CAPTION : 0;
    w->frame = {border, border + caption, border, border};

    if (x == CW_USEDEFAULT) {
        x = DEFAULT_X;
        y = DEFAULT_Y;
    }
    if (width == CW_USEDEFAULT) {
        width = DEFAULT_WIDTH;
        height = DEFAULT_HEIGHT;
    }
    if (width < 0)
        width = 0;
    if (height < 0)
        height = 0;
    w->pub.outer = {x, y, x + width, y + height};
    w->pub.minimized = (style & WS_MINIMIZE) ? 1 : 0;
    update_client_size(w);

    HWND handle = w->handle;
    s.windows.emplace(handle, std::move(record));
    if (!backend_window_created(handle)) {
        s.windows.erase(handle);
        return nullptr;
    }

    CreateInfo create{};
    create.lpCreateParams = param;
    create.hInstance = instance;
    create.hMenu = menu;
    create.hwndParent = parent;
    create.cx = width;
    create.cy = height;
    create.x = x;
    create.y = y;
    create.style = static_cast<LONG>(style);
    create.lpszName = title;
    create.lpszClass = class_name;
    create.dwExStyle = ex_style;
    LPARAM lparam = reinterpret_cast<LPARAM>(&create);
    // The procedure refuses creation with FALSE for WM_NCCREATE or -1 for
    // WM_CREATE; the window then goes with WM_NCDESTROY alone. It may also
    // destroy the window itself meanwhile.
    int refused = !send(w, WM_NCCREATE, 0, lparam);
    if (!refused && (w = find_window(handle)) != nullptr)
        refused = send(w, WM_CREATE, 0, lparam) == -1;
    w = find_window(handle);
    if (w == nullptr)
        return nullptr;
    if (refused) {
        if (!w->destroying) {
            w->destroying = 1;
            send(w, WM_NCDESTROY, 0, 0);
            forget_window(w);
        }
        return nullptr;
    }
    if (style & WS_VISIBLE)
        ShowWindow(handle, SW_SHOW);
    return handle;
}

} // namespace

WORD RegisterClassExA(const WNDCLASSEXA *window_class) {
    return register_class(window_class);
}

WORD RegisterClassExW(const WNDCLASSEXW *window_class) {
    return register_class(window_class);
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    return create_window<CREATESTRUCTA>(ex_style, class_name, title,
                                        platform_utf8_from_cp932(title), style, x, y, width, height,
                                        parent, menu, instance, param);
}

HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    return create_window<CREATESTRUCTW>(ex_style, class_name, title,
                                        platform_utf8_from_wide(title, 0), style, x, y, width,
                                        height, parent, menu, instance, param);
}

BOOL DestroyWindow(HWND window) {
    Window *w = window_or_error(window);
    if (w == nullptr)
        return FALSE;
    if (w->destroying)
        return TRUE;
    w->destroying = 1;
    w->pub.visible = 0;
    send(w, WM_DESTROY, 0, 0);
    send(w, WM_NCDESTROY, 0, 0);
    forget_window(w);
    return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    (void)wparam;
    (void)lparam;
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (BeginPaint(window, &paint) != nullptr)
            EndPaint(window, &paint);
        return 0;
    }
    default:
        return 0;
    }
}

// No message the stand-ins send carries text, so the W procedure is the A one.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

// ---- The message queue -------------------------------------------------------------------

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (window != nullptr && window_or_error(window) == nullptr)
        return FALSE;
    platform_post_message(window, message, wparam, lparam);
    return TRUE;
}

void PostQuitMessage(int exit_code) {
    state().quit_pending = 1;
    state().quit_code = static_cast<WPARAM>(exit_code);
}

BOOL PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
    (void)window;
    (void)first;
    (void)last;
    if (msg == nullptr)
        return FALSE;
    backend_poll_events();
    return next_message(msg, remove & PM_REMOVE);
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT first, UINT last) {
    (void)window;
    (void)first;
    (void)last;
    if (msg == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return -1;
    }
    for (;;) {
        backend_poll_events();
        if (next_message(msg, 1))
            return msg->message != WM_QUIT;
        backend_wait_events();
    }
}

BOOL WaitMessage(void) {
    if (!platform_queue_ready())
        backend_wait_events();
    return TRUE;
}

// Only the form that waits for the queue alone: no handles. Any input that
// can be retrieved counts, whatever the wake mask, since the queue holds
// nothing but input, posted messages and paints.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL wait_all,
                                DWORD milliseconds, DWORD wake_mask) {
    (void)handles;
    (void)wait_all;
    if (count != 0 || wake_mask == 0) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    backend_poll_events();
    if (platform_queue_ready())
        return WAIT_OBJECT_0 + count;
    return backend_wait_events_timeout(milliseconds) ? WAIT_OBJECT_0 + count : WAIT_TIMEOUT;
}

// No keyboard input reaches the queue, so there is nothing to translate.
BOOL TranslateMessage(const MSG *msg) {
    (void)msg;
    return FALSE;
}

LRESULT DispatchMessageA(const MSG *msg) {
    if (msg == nullptr || msg->hwnd == nullptr)
        return 0;
    Window *w = window_or_error(msg->hwnd);
    if (w == nullptr)
        return 0;
    // The procedure may destroy the window: nothing of it is touched after.
    return send(w, msg->message, msg->wParam, msg->lParam);
}

// The queue holds no text messages, so the W calls retrieve and dispatch
// exactly what the A calls do.
BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
    return PeekMessageA(msg, window, first, last, remove);
}

BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last) {
    return GetMessageA(msg, window, first, last);
}

LRESULT DispatchMessageW(const MSG *msg) {
    return DispatchMessageA(msg);
}

// ---- Geometry and visibility -----------------------------------------------------------------

BOOL GetWindowRect(HWND window, LPRECT rect) {
    Window *w = window_or_error(window);
    if (w == nullptr)
        return FALSE;
    if (rect == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *rect = w->pub.outer;
    return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
    Window *w = window_or_error(window);
    if (w == nullptr)
        return FALSE;
    if (rect == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *rect = {0, 0, w->pub.client_width, w->pub.client_height};
    return TRUE;
}

BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
    (void)insert_after; // there is no z-order
    Window *w = window_or_error(window);
    if (w == nullptr)
        return FALSE;
    RECT old = w->pub.outer;
    int old_width = w->pub.client_width;
    int old_height = w->pub.client_height;
    RECT &outer = w->pub.outer;
    if (!(flags & SWP_NOMOVE)) {
        outer.right += x - outer.left;
        outer.bottom += y - outer.top;
        outer.left = x;
        outer.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        outer.right = outer.left + (cx > 0 ? cx : 0);
        outer.bottom = outer.top + (cy > 0 ? cy : 0);
    }
    update_client_size(w);
    if (w->pub.client_width != old_width || w->pub.client_height != old_height)
        invalidate(w, nullptr, TRUE);
    if (memcmp(&old, &outer, sizeof old) != 0)
        backend_window_changed(window);
    return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
    Window *w = window_or_error(window);
    if (w == nullptr)
        return FALSE;
    int was_visible = w->pub.visible;
    int was_minimized = w->pub.minimized;
    switch (command) {
    case SW_HIDE:
        w->pub.visible = 0;
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        w->pub.visible = 1;
        w->pub.minimized = 1;
        break;
    case SW_SHOW:
    case SW_SHOWNA: // shown in the state it had
        w->pub.visible = 1;
        break;
    default: // SW_SHOWNORMAL, SW_RESTORE, SW_SHOWDEFAULT and the like
        w->pub.visible = 1;
        w->pub.minimized = 0;
        break;
    }
    // Coming into view, the whole client area needs painting.
    int was_seen = was_visible && !was_minimized;
    if (w->pub.visible && !w->pub.minimized && !was_seen)
        invalidate(w, nullptr, TRUE);
    if (w->pub.visible != was_visible || w->pub.minimized != was_minimized)
        backend_window_changed(window);
    return was_visible ? TRUE : FALSE;
}

// ---- Painting and device contexts -----------------------------------------------------------

BOOL InvalidateRect(HWND window, const RECT *rect, BOOL erase) {
    if (window == nullptr) { // every window
        for (auto &entry : state().windows)
            invalidate(entry.second.get(), nullptr, erase);
        return TRUE;
    }
    Window *w = window_or_error(window);
    if (w == nullptr)
        return FALSE;
    invalidate(w, rect, erase);
    return TRUE;
}

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    Window *w = window_or_error(window);
    if (w == nullptr)
        return nullptr;
    if (paint == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HDC dc = platform_dc_new(window);
    if (dc == nullptr) {
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    memset(paint, 0, sizeof *paint);
    paint->hdc = dc;
    paint->fErase = w->erase; // the background is never erased for the caller
    if (w->invalid)
        paint->rcPaint = w->update;
    w->invalid = 0;
    w->erase = FALSE;
    w->update = RECT{};
    return dc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT *paint) {
    (void)window;
    if (paint != nullptr && platform_dc(paint->hdc) != nullptr)
        platform_dc_free(paint->hdc);
    return TRUE;
}

// GetDC(null) is the screen's DC: drawing onto it shows nothing.
HDC GetDC(HWND window) {
    if (window != nullptr && window_or_error(window) == nullptr)
        return nullptr;
    return platform_dc_new(window);
}

int ReleaseDC(HWND window, HDC dc) {
    PlatformDC *record = platform_dc(dc);
    if (record == nullptr || record->window != window)
        return 0;
    platform_dc_free(dc);
    return 1;
}

// ---- Resources and metrics ---------------------------------------------------------------

// There are no resources: every load gives a handle that stands for the
// requested icon or cursor and is never drawn.
HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    (void)instance;
    (void)name;
    static char icon;
    return reinterpret_cast<HICON>(&icon);
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    (void)instance;
    (void)name;
    static char cursor;
    return reinterpret_cast<HCURSOR>(&cursor);
}

HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT load) {
    (void)instance;
    (void)name;
    (void)type;
    (void)cx;
    (void)cy;
    (void)load;
    static char image;
    return &image;
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    default:
        return 0;
    }
}
