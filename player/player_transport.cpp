// The playback clock and the transport: the tick that executes each record
// when it falls due, and play, pause and replay.
#include "player.h"

#include "audio_decoder.h"
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

enum {
    TIMER_PERIOD_MS = 1,   // the timer resolution asked for while playing
    SOUND_POLL_MS = 5,     // how often a record held for the sound looks at the device again
    SOUND_STALL_MS = 3000, // a device whose position stands this long is no longer followed
    SOUND_GAP_MS = 200,    // a device idle this long starts afresh with the next block
    SOUND_DRIFT_MS = 40,   // how far the pictures may run ahead of what the device has played
    SOUND_QUEUED_MS = 250, // a device that holds less than this is short of sound, not slow
};

uint32_t player_sound_position(void) {
    MMTIME time;
    time.wType = TIME_SAMPLES;
    if (wave_out == NULL || waveOutGetPosition(wave_out, &time, sizeof time) != MMSYSERR_NOERROR)
        return 0;
    switch (time.wType) {
    case TIME_SAMPLES:
        return time.u.sample;
    case TIME_BYTES:
        return time.u.cb / 2;
    case TIME_MS:
        return (uint32_t)((uint64_t)time.u.ms * (uint32_t)wave_sample_rate / 1000);
    default:
        return 0;
    }
}

void player_follow_sound(uint32_t time) {
    if (wave_out == NULL || wave_sample_rate <= 0) {
        sound_sync = 0;
        return;
    }
    sound_sync = 1;
    sound_started = 0;
    sound_held = 0;
    sound_anchor_time = time;
    sound_anchor_position = player_sound_position();
    sound_last_position = sound_anchor_position;
    sound_moved_time = timeGetTime();
}

int player_sound_stalled(uint32_t now) {
    uint32_t position = player_sound_position();
    if (position != sound_last_position) {
        sound_last_position = position;
        sound_moved_time = now;
    }
    return (uint32_t)(now - sound_moved_time) >= SOUND_STALL_MS;
}

void player_sound_block_coming(void) {
    if (!sound_sync || wave_output_busy())
        return;
    uint32_t now = timeGetTime();
    player_sound_stalled(now);
    if ((uint32_t)(now - sound_moved_time) >= SOUND_GAP_MS)
        player_follow_sound(is_playing ? due_time : now);
}

// The pictures wait for the sound to begin: a device may start playing a
// second or more after "asta" (or a resume) started it, a sound server
// setting up its stream, and a record must not be shown before the sound
// that belongs with it. While the device's position stands at the anchor,
// the records due after the anchor are held (returns 0); once it moves, the
// rest of the movie is moved later by as much as the device began late, and
// from then on the clock runs on its own, as the device does. Only ever
// later: no record runs before its due time. A device that has not begun
// after 3 s is given up, and the pictures go on by the clock.
//
// Once it plays, the pictures keep to what it has played (see
// sound_holds_picture).
static int sound_allows(uint32_t now) {
    int stalled = player_sound_stalled(now);
    uint32_t played = sound_last_position - sound_anchor_position;
    if (played != 0) {
        // It began about `heard` ms ago, never before the anchor. Rounded
        // up: a position read a fraction of a millisecond after the anchor
        // must not count as a late start.
        uint64_t heard_ms =
            ((uint64_t)played * 1000 + (uint32_t)wave_sample_rate - 1) / (uint32_t)wave_sample_rate;
        uint32_t heard = heard_ms > INT32_MAX ? INT32_MAX : (uint32_t)heard_ms;
        sound_started = 1;
        int32_t late = (int32_t)((now - heard) - sound_anchor_time);
        if (late > 0) {
            sound_anchor_time += (uint32_t)late;
            due_time += (uint32_t)late;
        }
        return record_is_due(now);
    }
    if ((int32_t)(due_time - sound_anchor_time) <= 0 || !wave_output_busy())
        return 1; // nothing that belongs after the start, or nothing to play
    if (stalled) {
        sound_sync = 0;
        return 1;
    }
    return 0;
}

// Once the device plays, a picture due ahead of the sound the device has
// played by more than SOUND_DRIFT_MS is held, and the rest of the movie with
// it, until the device has caught up: a sound server that fell behind (held
// off a busy processor, or a stream that took longer to settle than to
// start) plays every sample late, and the pictures follow what is heard.
// Returns 1 while the picture is held. A device whose position came late and
// then caught up (one that reports in steps) leaves the pictures behind the
// sound: by more than SOUND_DRIFT_MS, they are given back the time they were
// held, never more, so no record runs before its place on the timeline the
// device began with.
//
// Only while the device has at least SOUND_QUEUED_MS of sound written and
// not yet played: the blocks are records of the same schedule, so a device
// that lags because it has run short must get the next ones, which holding
// the pictures would hold too. A device whose position stands for 3 s is no
// longer followed, as at the start.
static int sound_holds_picture(uint32_t now) {
    if (!audio_running)
        return 0;
    if (player_sound_stalled(now)) {
        sound_sync = 0;
        return 0;
    }
    uint32_t position = sound_last_position;
    uint32_t queued = sound_written - position;
    if ((int32_t)queued <= 0 ||
        (uint64_t)queued * 1000 < (uint64_t)SOUND_QUEUED_MS * (uint32_t)wave_sample_rate)
        return 0;
    uint64_t heard_ms =
        (uint64_t)(position - sound_anchor_position) * 1000 / (uint32_t)wave_sample_rate;
    uint32_t heard = heard_ms > INT32_MAX ? INT32_MAX : (uint32_t)heard_ms;
    // How far this picture's place on the timeline is ahead of what the
    // device has played.
    int32_t ahead = (int32_t)((due_time - heard) - sound_anchor_time);
    if (ahead < -SOUND_DRIFT_MS && sound_held > 0) {
        uint32_t back = (uint32_t)-ahead < sound_held ? (uint32_t)-ahead : sound_held;
        sound_held -= back;
        sound_anchor_time -= back;
        due_time -= back;
        return 0;
    }
    if (ahead <= SOUND_DRIFT_MS)
        return 0;
    sound_held += (uint32_t)ahead;
    sound_anchor_time += (uint32_t)ahead;
    due_time += (uint32_t)ahead;
    return !record_is_due(now);
}

// Reads ahead about as many bytes as the movie consumes during `delay` ms,
// in whole 2048-byte pieces and never more than the ring's free space.
static void top_up(uint32_t delay) {
    uint32_t amount = ring_top_up_amount(ring_top_up_wanted(delay, data_rate),
                                         (uint32_t)(ring_capacity - ring_fill));
    if (amount > 0)
        ring_refill((int32_t)amount);
}

// Between records the tick asks the pump to wake it at the due time (or,
// while it waits for the sound to begin, a few ms later), so the thread
// sleeps instead of polling the clock.
int player_tick(void) {
    if (kmov_cmd == TAG_END || stop_requested) {
        event_delete(player_tick);
        is_playing = 0;
        timeEndPeriod(TIMER_PERIOD_MS);
        if (kmov_cmd == TAG_END)
            frame_position = frame_count;
        return 0;
    }
    uint32_t now = timeGetTime();
    if (!record_is_due(now)) {
        event_wake_at(due_time);
        return 1;
    }
    if (sound_sync && !sound_started && !sound_allows(now)) {
        event_wake_at(record_is_due(now) ? now + SOUND_POLL_MS : due_time);
        return 1;
    }
    if (sound_sync && sound_started && kmov_cmd == TAG_VBLT && sound_holds_picture(now)) {
        event_wake_at(due_time);
        return 1;
    }
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
            sound_written = 0;
        }
        audio_running = 0;
        sound_sync = 0;
        source_seek(movie_source, movie_base + MOVIE_RECORDS_OFFSET);
        ring_reset();
        player_preload_to_first_frame();
        ring_preload();
        frame_position = 0;
    }
    is_playing = 1;
    stop_requested = 0;
    due_time = timeGetTime();
    if (audio_running) {
        waveOutRestart(wave_out);
        // The device may take its time to begin again.
        player_follow_sound(due_time);
    }
    if (kmov_cmd == 0) {
        player_read_record_header();
        if (current_delay != 0)
            due_time += current_delay;
    }
    event_register(player_tick);
    // Wake-ups on the millisecond while playing; the tick ends the period
    // when it leaves the table.
    timeBeginPeriod(TIMER_PERIOD_MS);
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
