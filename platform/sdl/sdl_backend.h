// What the SDL backend's files share: starting SDL once per subsystem and
// shutting it down when the process exits.
#ifndef KMOV_PLATFORM_SDL_BACKEND_H
#define KMOV_PLATFORM_SDL_BACKEND_H

#include <SDL.h>

// Starts one SDL subsystem (SDL_INIT_VIDEO, SDL_INIT_AUDIO) if it is not
// running yet; 1 when it runs. The first start sets the hints the player
// needs and arranges for SDL_Quit at exit, so the audio thread is stopped
// before anything it reads goes away.
int sdl_start(Uint32 subsystem);

#endif
