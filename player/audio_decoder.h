// Sound: the wave-out device, its fixed pool of buffers, and the "adat"
// decoder that fills them.
#ifndef KMOV_PLAYER_AUDIO_DECODER_H
#define KMOV_PLAYER_AUDIO_DECODER_H

#include <stdint.h>

// The constant delta tables: ldp 4 (16 entries) and ldp 6 (64 entries).
extern const int16_t delta_table_16[16];
extern const int16_t delta_table_64[64];

// Opens the device (paused) for 16-bit mono PCM at sample_rate, allocates
// 2 x buffer_pairs buffers of samples_per_buffer samples, prepares them and
// marks them done. No device: wave_out stays null and nothing is reported.
// Returns 1, or 0 for the failure exit of player_open after a reported
// failure ("memory insufficient", "waveOutPrepareHeader %d"). An ldp other
// than 4 or 6 reports "ldp %d not supported" and goes on (returns 1).
int wave_output_open(unsigned wave_device, int32_t sample_rate, int32_t bits_per_code,
                     int32_t samples_per_buffer, int32_t buffer_pairs);

// Decodes the pending "adat" record into the first free buffer and queues
// it, or skips the payload when there is no device or no delta table. While
// the clock follows a started device, a block that finds every buffer
// queued waits (sleeping 1 ms at a time) until the device returns one; only
// a device that stops playing for 3 s, or one never started, leaves the
// block without a buffer, and then it is skipped. On return current_length is 0 and the ring stands
// behind the payload.
void decode_audio_block(void);

// Non-zero while a written buffer has not yet been played (the device has
// sound to play).
int wave_output_busy(void);

// Resets the device, waits 50 ms, unprepares and frees the buffers and
// closes the device; nothing when wave_out is null.
void wave_output_close(void);

#endif
