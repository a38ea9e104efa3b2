// The program: WinMain, the start-up sequence and the player window.
#ifndef KMOV_APP_PLAYER_WINDOW_H
#define KMOV_APP_PLAYER_WINDOW_H

#include "../player/player.h"

#include <windows.h>

#include <stddef.h>

enum {
    PLAYER_ICON = 101, // icon group: the class's large and small icon
    WINDOW_BITMAP_INFO_SIZE = PLAYER_BITMAP_INFO_SIZE, // the player's header and colour table
    MODULE_PATH_SIZE = 1024,
};

#define PLAYER_WINDOW_CLASS "kMovSPWnd"

extern HINSTANCE instance_handle;
extern int show_command;
extern HWND player_window;
extern HPALETTE window_palette;
extern unsigned char window_bitmap_info[WINDOW_BITMAP_INFO_SIZE];

// Registers the class, creates the hidden window, verifies and opens the
// movie behind the executable, sizes the window so that its client area is
// exactly the frame, shows it and starts playback. Returns 1; every failure
// ends the process through fatal_error.
int create_player_window(void);

// Verifies the movie appended to the running executable and opens it.
// Returns 1, or 0 when player_open returned 0.
int open_own_movie(void);

// The palette callback handed to player_open: builds window_palette from a
// copy of the player's bitmap header and colour table.
HPALETTE make_window_palette(void);

// The window title stored in the `size` bytes of `title` as UTF-16 in
// `out`, which has room for `size` units: UTF-8 behind UTF8_MARK, else code
// page 932. It ends at the first NUL or after size - 1 bytes. Bytes that
// are not text in their code page come out as the conversion's
// replacement character.
void startup_title_wide(const char *title, size_t size, WCHAR *out);

LRESULT CALLBACK player_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#endif
