// The playback clock and the transport: the tick that executes each record
// when it falls due, and play, pause and replay.
#include "player.h"

#include "movie_format.h"
#include "player_internal.h"
#include "player_state.h"

#include "../app/event_pump.h"
#include "../stream/byte_source.h"
#include "../stream/prefetch_ring.h"

// The pending record is due once the clock has reached due_time. The
// difference is taken as a signed 32-bit value so that the test holds
// across the wrap of the millisecond counter (every 49.7 days).
static int record_is_due(uint32_t now) {
    return (int32_t)(now - due_time) >= 0;
}

// Reads ahead about as many bytes as the movie consumes during `delay` ms,
// in whole 2048-byte pieces and never more than the ring's free space.
static void top_up(uint32_t delay) {
    uint32_t amount = ring_top_up_amount(ring_top_up_wanted(delay, data_rate),
                                         (uint32_t)(ring_capacity - ring_fill));
    if (amount > 0)
        ring_refill((int32_t)amount);
}

int player_tick(void) {
    if (kmov_cmd == TAG_END || stop_requested) {
        event_delete(player_tick);
        is_playing = 0;
        if (kmov_cmd == TAG_END)
            frame_position = frame_count;
        return 0;
    }
    if (!record_is_due(timeGetTime()))
        return 1;
    if (kmov_cmd != 0)
        player_execute();
    player_read_record_header();
    if (current_delay == 0)
        return 1;
    top_up(current_delay);
    due_time += current_delay;
    return 1;
}

int player_play(void) {
    if (!is_open || is_playing)
        return 0;
    if (frame_position >= frame_count) {
        if (wave_out != NULL) {
            waveOutReset(wave_out);
            waveOutPause(wave_out);
        }
        audio_running = 0;
        source_seek(movie_source, movie_base + MOVIE_RECORDS_OFFSET);
        ring_reset();
        player_preload_to_first_frame();
        ring_preload();
        frame_position = 0;
    }
    is_playing = 1;
    stop_requested = 0;
    due_time = timeGetTime();
    if (audio_running)
        waveOutRestart(wave_out);
    if (kmov_cmd == 0) {
        player_read_record_header();
        if (current_delay != 0)
            due_time += current_delay;
    }
    event_register(player_tick);
    return 1;
}

int player_pause(void) {
    while (is_playing) {
        stop_requested = 1;
        pump_messages(0);
    }
    if (audio_running)
        waveOutPause(wave_out);
    return 1;
}

int player_is_playing(void) {
    return is_playing;
}
