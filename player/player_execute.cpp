// Record dispatch: carries out the pending record by its tag.
#include "player.h"

#include "audio_decoder.h"
#include "movie_format.h"
#include "player_internal.h"
#include "player_state.h"
#include "video_decoder.h"

#include "../app/fatal_error.h"

#include <stdio.h>
#include <stdlib.h>

// When the environment names a file in KMOV_PRESENT_LOG, every present
// appends one line to it: the record's due time, the clock when its present
// began and when it was done (timeGetTime ms), and the device's position
// then (samples, and the rate). It is how the timing of a real player is measured; off otherwise.
static FILE *present_log;
static int present_log_looked;

static void log_present(uint32_t began) {
    if (!present_log_looked) {
        present_log_looked = 1;
        const char *name = getenv("KMOV_PRESENT_LOG");
        if (name != NULL && name[0] != 0)
            present_log = fopen(name, "w");
    }
    if (present_log == NULL)
        return;
    fprintf(present_log, "due %lu begun %lu shown %lu sound %lu rate %ld\n",
            (unsigned long)due_time, (unsigned long)began, (unsigned long)timeGetTime(),
            (unsigned long)player_sound_position(),
            (long)(wave_out != NULL ? wave_sample_rate : 0));
    fflush(present_log);
}

// Copies the frame bitmap into the window at the frame's position, through
// the movie's palette selected as a background palette.
static void present_frame(void) {
    uint32_t began = timeGetTime();
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
    log_present(began);
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
