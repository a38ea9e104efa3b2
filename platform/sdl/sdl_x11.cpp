// Window-manager hints that SDL has no call for, on X11. Kept apart from the
// rest of the backend so that Xlib's names (Window, Bool, None, ...) never
// meet the Win32 ones.
#include "sdl_x11.h"

#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

#if defined(SDL_VIDEO_DRIVER_X11)
static XErrorHandler earlier_handler = nullptr;

static int tolerate_gone_windows(Display *display, XErrorEvent *error) {
    enum { SEND_EVENT_REQUEST = 25 }; // X_SendEvent
    if (error->error_code == BadWindow && error->request_code == SEND_EVENT_REQUEST)
        return 0;
    return earlier_handler != nullptr ? earlier_handler(display, error) : 0;
}
#endif

void sdl_x11_tolerate_gone_windows(void) {
#if defined(SDL_VIDEO_DRIVER_X11)
    const char *driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr || SDL_strcmp(driver, "x11") != 0)
        return;
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    earlier_handler = XSetErrorHandler(tolerate_gone_windows);
#endif
}

void sdl_x11_offer_no_maximize(SDL_Window *window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    // A fixed size alone leaves some window managers drawing a maximize
    // button that does nothing; the Motif hints name what the window offers:
    // moving, minimizing and closing, with a title, border, menu and a
    // minimize box.
    enum : unsigned long {
        FUNCTIONS = 1,
        DECORATIONS = 2,
        FUNC_MOVE = 4,
        FUNC_MINIMIZE = 8,
        FUNC_CLOSE = 32,
        DECOR_BORDER = 2,
        DECOR_TITLE = 8,
        DECOR_MENU = 16,
        DECOR_MINIMIZE = 32,
    };
    const unsigned long hints[5] = {FUNCTIONS | DECORATIONS, FUNC_MOVE | FUNC_MINIMIZE | FUNC_CLOSE,
                                    DECOR_BORDER | DECOR_TITLE | DECOR_MENU | DECOR_MINIMIZE, 0, 0};
    Display *display = info.info.x11.display;
    Atom atom = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display, info.info.x11.window, atom, atom, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(hints), 5);
    XFlush(display);
#else
    (void)window;
#endif
}
