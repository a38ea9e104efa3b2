// The player's operations: what the window and start-up call.
#ifndef KMOV_PLAYER_PLAYER_H
#define KMOV_PLAYER_PLAYER_H

#include <windows.h>

#include <stdint.h>

typedef HPALETTE (*PaletteCallback)(void);

enum {
    PLAYER_BITMAP_INFO_SIZE = 1064,   // BITMAPINFOHEADER + 256 RGBQUADs
    PLAYER_BITMAP_INFO_COPIED = 1000, // the header and the 240 used colours
};

// Opens the movie at file offset movie_offset of file_name: header, palette,
// sound, bitmap, ring; executes the records in front of the first "vblt"
// and preloads. Frames are presented into `window`, centred on (x, y), or
// with that edge at 0 where x or y is -1. Returns 1, or 0 after a reported
// failure (with everything released). Closes an open movie first.
int player_open(const char *file_name, HWND window, int x, int y, unsigned wave_device,
                int32_t movie_offset, PaletteCallback palette_callback);
// The same for a wide (UTF-16) path, opened through CreateFileW: what the
// program uses for its own file, whose name may hold any character.
int player_open_wide(const WCHAR *file_name, HWND window, int x, int y, unsigned wave_device,
                     int32_t movie_offset, PaletteCallback palette_callback);

// Stops playback and releases everything, in the order: sound, ring,
// memory DC, bitmap, bitmap header, byte source.
void player_close(void);

// Copies min(max_len, PLAYER_BITMAP_INFO_COPIED) bytes of the bitmap header and colour table;
// returns the count, 1000 for a null destination, 0 when nothing is open.
int player_copy_bitmap_info(void *destination, int max_len);

// The bitmap holding the current frame, or null when nothing is open.
HBITMAP player_get_bitmap(void);

// Executes the pending record by its tag.
void player_execute(void);

// Starts playback from the pending record, rewinding first after the end.
// Returns 1, or 0 when nothing is open or playback already runs.
int player_play(void);
// Stops the tick and waits until it has stopped; pauses the sound. Returns 1.
int player_pause(void);
// Non-zero while the tick is registered.
int player_is_playing(void);
// The idle event: executes at most one due record per call. Returns 1 while
// it stays registered, 0 in the call that removes it.
int player_tick(void);

#endif
