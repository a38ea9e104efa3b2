// What the SDL backend asks of an X11 window manager beyond SDL's calls.
#ifndef KMOV_PLATFORM_SDL_X11_H
#define KMOV_PLATFORM_SDL_X11_H

#include <SDL.h>

// Offers moving, minimizing and closing but no maximize (the window has a
// fixed size). Does nothing when the window is not on X11.
void sdl_x11_offer_no_maximize(SDL_Window *window);

#endif
