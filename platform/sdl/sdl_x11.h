// What the SDL backend asks of an X11 window manager beyond SDL's calls.
#ifndef KMOV_PLATFORM_SDL_X11_H
#define KMOV_PLATFORM_SDL_X11_H

#include <SDL.h>

// Offers moving, minimizing and closing but no maximize (the window has a
// fixed size). Does nothing when the window is not on X11.
void sdl_x11_offer_no_maximize(SDL_Window *window);

// Lets a message sent to a window that is already gone (a BadWindow error
// of a SendEvent request, which SDL's wake-up of its event wait can make
// when a window is destroyed while the wait is being woken) pass without
// ending the program, as Xlib's default handler would with exit code 1.
// Every other X error goes to the handler in place before. Call once the
// video subsystem is up; does nothing off X11.
void sdl_x11_tolerate_gone_windows(void);

#endif
