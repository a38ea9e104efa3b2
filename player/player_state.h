// The player's state: one set of process-wide variables for the one open
// movie, all zero at program start. This is the one list of them; the
// operations that set and read each are named beside it. They have no
// accessors: the player's files read and write them directly.
#ifndef KMOV_PLAYER_PLAYER_STATE_H
#define KMOV_PLAYER_PLAYER_STATE_H

#include "../stream/byte_source.h"

#include <windows.h>

#include <stdint.h>

// ---- The open movie (player_open sets, player_close releases) --------------

extern int is_open;              // a movie is open
extern ByteSource *movie_source; // the file; read by ring refills and the rewind
extern int32_t movie_base;       // file offset of the movie's magic
extern int32_t data_rate;        // header: movie bytes per second of playback
extern int32_t width, height;    // header: frame size in pixels
extern int32_t frame_count;      // header: the end position
extern int32_t ldp;              // header: bits per audio code

// ---- Picture (player_open sets; present and the video decoder read) -------------

extern BITMAPINFO *bitmap_info;      // 1064 bytes: header and 256-entry colour table
extern HBITMAP frame_bitmap;         // the 8-bit top-down DIB section
extern uint8_t *frame_bits;          // its pixels: height rows of row_stride bytes
extern int32_t row_stride;           // (width + 3) & ~3
extern HDC memory_dc;                // compatible with the window's DC; presents from it
extern HWND present_window;          // the window frames are drawn into
extern int32_t present_x, present_y; // client coordinates of the frame's corner
extern HPALETTE movie_palette;       // from the palette callback; never deleted here

// ---- The PrefetchRing (stream/prefetch_ring.h operates on these) ---------------

extern uint8_t *ring_data;     // ring_capacity bytes
extern int32_t ring_capacity;  // a power of two, at least 2048
extern int32_t ring_mask;      // ring_capacity - 1
extern int32_t ring_read;      // index of the next byte to take
extern int32_t ring_write;     // index where the next refill writes
extern int32_t ring_fill;      // bytes written and not yet taken
extern int32_t preload_target; // bytes the ring is filled to before playback

// ---- Sound (wave_output_open sets; player/audio_decoder.h) -----------------

extern HWAVEOUT wave_out;           // null: no sound output
extern WAVEHDR *wave_headers;       // wave_header_count headers, or null
extern int32_t wave_header_count;   // 2 x buffer_pairs
extern int32_t wave_buffer_samples; // samples_per_buffer: what each buffer holds
extern const int16_t *delta_table;  // delta_table_16 (ldp 4) or delta_table_64 (ldp 6)
extern int32_t wave_sample_rate;    // samples per second of the open device

// ---- Pictures following the sound (player_follow_sound anchors; the tick
// and decode_audio_block read) ---------------------------------------------------

extern int sound_sync;                 // the clock follows the device's position
extern int sound_started;              // the device has played since the anchor
extern uint32_t sound_anchor_time;     // clock time at which the anchor sample is due
extern uint32_t sound_anchor_position; // device position (samples) of the anchor
extern uint32_t sound_last_position;   // the position last read
extern uint32_t sound_moved_time;      // clock time the position was last seen to move
extern uint32_t sound_written;         // samples written to the device since open or reset
extern uint32_t sound_held; // ms the pictures have been held for the sound since the anchor

// ---- The pending record (every record-header read; the decoders count
// current_length down) -----------------------------------------------------------

extern uint32_t kmov_cmd;      // tag word; 0 = no record pending
extern uint32_t current_delay; // ms after the previous record's due time
extern int32_t current_length; // payload bytes not yet consumed
extern uint32_t current_param; // record parameter ("adat": samples in the block)

// ---- Transport (player_play, player_pause, player_close, player_tick) -----------

extern uint32_t due_time;      // timeGetTime value at which the pending record runs
extern int is_playing;         // the tick is registered
extern int stop_requested;     // the tick stops at its next call
extern int audio_running;      // "asta" has restarted the wave-out device
extern int32_t frame_position; // 0 after a preload; frame_count at the end

#endif
