#include "player_state.h"

int is_open;
ByteSource *movie_source;
int32_t movie_base;
int32_t data_rate;
int32_t width, height;
int32_t frame_count;
int32_t ldp;

BITMAPINFO *bitmap_info;
HBITMAP frame_bitmap;
uint8_t *frame_bits;
int32_t row_stride;
HDC memory_dc;
HWND present_window;
int32_t present_x, present_y;
HPALETTE movie_palette;

uint8_t *ring_data;
int32_t ring_capacity;
int32_t ring_mask;
int32_t ring_read;
int32_t ring_write;
int32_t ring_fill;
int32_t preload_target;

HWAVEOUT wave_out;
WAVEHDR *wave_headers;
int32_t wave_header_count;
int32_t wave_buffer_samples;
const int16_t *delta_table;
int32_t wave_sample_rate;

int sound_sync;
int sound_started;
uint32_t sound_anchor_time;
uint32_t sound_anchor_position;
uint32_t sound_last_position;
uint32_t sound_moved_time;
uint32_t sound_written;
uint32_t sound_held;

uint32_t kmov_cmd;
uint32_t current_delay;
int32_t current_length;
uint32_t current_param;

uint32_t due_time;
int is_playing;
int stop_requested;
int audio_running;
int32_t frame_position;
