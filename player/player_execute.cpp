// Record dispatch: carries out the pending record by its tag.
#include "player.h"

#include "audio_decoder.h"
#include "movie_format.h"
#include "player_internal.h"
#include "player_state.h"
#include "video_decoder.h"

#include "../app/fatal_error.h"

// Copies the frame bitmap into the window at the frame's position, through
// the movie's palette selected as a background palette.
static void present_frame(void) {
    HDC dc = GetDC(present_window);
    HGDIOBJ previous_bitmap = SelectObject(memory_dc, frame_bitmap);
    HPALETTE previous_palette = NULL;
    if (movie_palette != NULL)
        previous_palette = SelectPalette(dc, movie_palette, TRUE);
    BitBlt(dc, present_x, present_y, width, height, memory_dc, 0, 0, SRCCOPY);
    if (previous_palette != NULL)
        SelectPalette(dc, previous_palette, TRUE);
    SelectObject(memory_dc, previous_bitmap);
    ReleaseDC(present_window, dc);
}

void player_execute(void) {
    switch (kmov_cmd) {
    case TAG_VDAT:
        decode_video_frame();
        break;
    case TAG_VBLT:
        present_frame();
        break;
    case TAG_ADAT:
        decode_audio_block();
        break;
    case TAG_ASTA:
        if (wave_out != NULL) {
            waveOutRestart(wave_out);
            audio_running = 1;
            // The sound from here on is due with this record.
            player_follow_sound(is_playing ? due_time : timeGetTime());
        }
        break;
    case TAG_END:
        audio_running = 0;
        break;
    default:
        fatal_error("kmov_cmd = 0x%x", kmov_cmd);
        break;
    }
}
