// Opening and closing the movie: header, palette, sound, bitmap, ring and
// the preload up to the first presented frame; and the release in order.
#include "player.h"

#include "audio_decoder.h"
#include "movie_format.h"
#include "player_internal.h"
#include "player_state.h"

#include "../app/event_pump.h"
#include "../app/fatal_error.h"
#include "../stream/byte_source.h"
#include "../stream/prefetch_ring.h"

#include <stdlib.h>
#include <string.h>

// The release steps shared by player_close and a failed player_open, each
// only for what exists, each handle set to null afterwards.
static void player_release(void) {
    wave_output_close();
    ring_free();
    if (memory_dc != NULL) {
        DeleteDC(memory_dc);
        memory_dc = NULL;
    }
    if (frame_bitmap != NULL) {
        DeleteObject(frame_bitmap);
        frame_bitmap = NULL;
    }
    frame_bits = NULL;
    if (bitmap_info != NULL) {
        free(bitmap_info);
        bitmap_info = NULL;
    }
    if (movie_source != NULL) {
        source_close(movie_source);
        movie_source = NULL;
    }
}

void player_preload_to_first_frame(void) {
    for (;;) {
        player_read_record_header();
        if (kmov_cmd == TAG_VBLT)
            break;
        player_execute();
        // A movie that ends before its first frame: the end record stays
        // pending and playback ends at once.
        if (kmov_cmd == TAG_END)
            break;
    }
}

void player_read_record_header(void) {
    uint32_t *words[3] = {&current_delay, (uint32_t *)&current_length, &current_param};
    // Before each word the ring is refilled when it holds fewer than 4
    // bytes; a stream that ends inside a header reads as the end record.
    for (int i = 0; i < 4; i++) {
        if (ring_fill < 4)
            ring_refill(RING_REFILL);
        if (ring_fill < 4) {
            kmov_cmd = TAG_END;
            current_delay = 0;
            current_length = 0;
            current_param = 0;
            return;
        }
        uint32_t word = ring_read_be32();
        if (i == 0)
            kmov_cmd = word;
        else
            *words[i - 1] = word;
    }
}

// player_open and player_open_wide once the source is open (or failed to
// open, with its message shown); `file_name` names the file in messages.
static int player_open_source(ByteSource *source, const char *file_name, HWND window, int x, int y,
                              unsigned wave_device, int32_t movie_offset,
                              PaletteCallback palette_callback);

int player_open(const char *file_name, HWND window, int x, int y, unsigned wave_device,
                int32_t movie_offset, PaletteCallback palette_callback) {
    if (is_open)
        player_close();
    return player_open_source(source_open(file_name), file_name, window, x, y, wave_device,
                              movie_offset, palette_callback);
}

int player_open_wide(const WCHAR *file_name, HWND window, int x, int y, unsigned wave_device,
                     int32_t movie_offset, PaletteCallback palette_callback) {
    if (is_open)
        player_close();
    ByteSource *source = source_open_wide(file_name);
    static char name[SOURCE_NAME_BYTES];
    fatal_error_file_name(file_name, name, (int)sizeof name);
    return player_open_source(source, name, window, x, y, wave_device, movie_offset,
                              palette_callback);
}

static int player_open_source(ByteSource *source, const char *file_name, HWND window, int x, int y,
                              unsigned wave_device, int32_t movie_offset,
                              PaletteCallback palette_callback) {
    movie_source = source;
    if (movie_source == NULL)
        return 0;
    movie_base = movie_offset;
    source_seek(movie_source, movie_offset);

    HDC window_dc = NULL;
    HPALETTE previous_palette = NULL;
    MovieHeader header;
    if (!movie_read_header(movie_source, &header)) {
        fatal_error("%s: not a kmov file", file_name);
        goto exit;
    }
    data_rate = header.data_rate;
    width = header.width;
    height = header.height;
    frame_count = header.frame_count;
    ldp = header.ldp;

    if (header.sample_rate != 0 &&
        !wave_output_open(wave_device, header.sample_rate, header.ldp, header.samples_per_buffer,
                          header.buffer_pairs))
        goto exit;

    bitmap_info = (BITMAPINFO *)calloc(1, PLAYER_BITMAP_INFO_SIZE);
    if (bitmap_info == NULL) {
        fatal_error("memory insufficient");
        goto exit;
    }
    bitmap_info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmap_info->bmiHeader.biWidth = width;
    // A top-down bitmap: row 0 is the top row. (A height of INT32_MIN has
    // no negative counterpart and stays as it is; the section then fails.)
    bitmap_info->bmiHeader.biHeight = height == INT32_MIN ? height : -height;
    bitmap_info->bmiHeader.biPlanes = 1;
    bitmap_info->bmiHeader.biBitCount = 8;
    bitmap_info->bmiHeader.biCompression = BI_RGB;
    bitmap_info->bmiHeader.biClrUsed = MOVIE_PALETTE_COLOURS;
    movie_read_palette(movie_source, bitmap_info->bmiColors);

    // Computed in 64 bits: a huge width must not wrap into a small stride.
    row_stride = (int32_t)(((int64_t)width + 3) & ~(int64_t)3);
    present_x = x == -1 ? 0 : x - width / 2;
    present_y = y == -1 ? 0 : y - height / 2;

    if (palette_callback != NULL)
        movie_palette = palette_callback();

    window_dc = GetDC(window);
    previous_palette = SelectPalette(window_dc, movie_palette, TRUE);

    frame_bitmap =
        CreateDIBSection(window_dc, bitmap_info, DIB_RGB_COLORS, (void **)&frame_bits, NULL, 0);
    if (frame_bitmap == NULL) {
        fatal_error("CreateDIBSection %d", (int)GetLastError());
        goto exit;
    }
    present_window = window;
    memory_dc = CreateCompatibleDC(window_dc);

    if (!ring_create(header.ring_size)) {
        fatal_error("memory error %d", (int)GetLastError());
        goto exit;
    }

    player_preload_to_first_frame();

    preload_target = ring_preload_target(header.preload_size);
    ring_preload();

    frame_position = 0;
    is_open = 1;

exit:
    if (window_dc != NULL) {
        if (previous_palette != NULL)
            SelectPalette(window_dc, previous_palette, TRUE);
        ReleaseDC(window, window_dc);
    }
    if (is_open)
        return 1;
    player_release();
    movie_palette = NULL;
    return 0;
}

void player_close(void) {
    while (is_playing) {
        stop_requested = 1;
        pump_messages(0);
    }
    if (audio_running)
        waveOutPause(wave_out);
    player_release();
    movie_palette = NULL;
    is_open = 0;
    // The next movie's sound starts at its own "asta", not at its first play.
    audio_running = 0;
}

int player_copy_bitmap_info(void *destination, int max_len) {
    if (bitmap_info == NULL)
        return 0;
    if (destination == NULL)
        return PLAYER_BITMAP_INFO_COPIED;
    int count = max_len < PLAYER_BITMAP_INFO_COPIED ? max_len : PLAYER_BITMAP_INFO_COPIED;
    if (count <= 0)
        return 0;
    memcpy(destination, bitmap_info, (size_t)count);
    return count;
}

HBITMAP player_get_bitmap(void) {
    return is_open ? frame_bitmap : NULL;
}
