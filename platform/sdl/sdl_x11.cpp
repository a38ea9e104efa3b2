// Window-manager hints that SDL has no call for, on X11. Kept apart from the
// rest of the backend so that Xlib's names (Window, Bool, None, ...) never
// meet the Win32 ones.
#include "sdl_x11.h"

#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

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
