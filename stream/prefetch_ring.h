// The PrefetchRing: the power-of-two ring of record-stream bytes between
// the movie's ByteSource and the player. Its fields are player state
// (player/player_state.h); it draws from movie_source, which it does not own.
#ifndef KMOV_STREAM_PREFETCH_RING_H
#define KMOV_STREAM_PREFETCH_RING_H

#include <stdint.h>

enum {
    RING_MIN_CAPACITY = 2048,
    RING_REFILL = 2048, // the standard refill when a take finds too few bytes
    RING_MAX_CAPACITY = 1 << 30,
};

// ---- Sizing, as functions of the movie header ---------------------------------
// What the player makes of the header's ring_size, preload_size and
// data_rate. Pure: the stream planner that sizes a movie's header calls the
// same functions.

// The smallest power of two that is at least RING_MIN_CAPACITY and at least
// ring_size. Above RING_MAX_CAPACITY the ring cannot be had.
int64_t ring_capacity_for(int64_t ring_size);

// (preload_size + preload_size / 8 + 2047) rounded down to a multiple of
// 2048, at most `capacity`; 0 for a preload_size of 0 or less.
int64_t ring_preload_target_for(int64_t preload_size, int64_t capacity);

// The bytes the clock wants read ahead after a record header of `delay` ms:
// what the movie consumes in that time at the header's data_rate (the
// product is taken modulo 2^32, as the player has always done).
uint32_t ring_top_up_wanted(uint32_t delay, int32_t bytes_per_second);

// What it reads of them: at most `free_space`, in whole RING_REFILL pieces.
uint32_t ring_top_up_amount(uint32_t wanted, uint32_t free_space);

// ---- The ring ------------------------------------------------------------------

// Sizes the ring: ring_capacity = ring_capacity_for(ring_size); allocates ring_data and resets.
// Returns 1, or 0 when the array cannot be had (ring_data stays null,
// ring_capacity 0, the last error ERROR_NOT_ENOUGH_MEMORY; the caller
// reports "memory error %d"). A ring_size above RING_MAX_CAPACITY cannot be
// had: its capacity would not fit the signed 32-bit fields.
int ring_create(int32_t ring_size);

// ring_read = ring_write = ring_fill = 0; the array is left as it is.
void ring_reset(void);

// Reads up to n bytes from movie_source, limited to the free space, in at
// most two pieces (up to the end of the array, then from index 0).
void ring_refill(int32_t n);

// One byte; refills RING_REFILL bytes first when the ring is empty; 0 when
// nothing can be had (then nothing is taken).
int ring_read_byte(void);

// A big-endian word; refills first when fewer than 4 bytes are held. When
// fewer than 4 can be had even then, takes nothing and returns 0 (the
// record-header readers treat that as the end of the movie). A word that
// would run past the end of the array (a stream whose lengths are not
// multiples of 4) takes each byte at its own masked index.
uint32_t ring_read_be32(void);

// The decoders' bulk take, equal in effect to ring_read_byte calls: takes
// up to `limit` bytes that lie contiguously in the array at the read
// position, refilling RING_REFILL bytes first only when the ring is empty.
// Points *bytes at them (valid until the next refill) and returns how many
// were taken: 0 when limit <= 0 or nothing more can be had.
int32_t ring_take_run(int32_t limit, const uint8_t **bytes);

// Takes and drops up to `count` bytes, a run at a time; returns the number
// dropped (short only when the stream is exhausted).
int32_t ring_skip(int32_t count);

// ring_preload_target_for(preload_size, ring_capacity): computed in 64 bits,
// so no header value overflows it.
int32_t ring_preload_target(int32_t preload_size);

// Fills the ring up to preload_target bytes in one refill.
void ring_preload(void);

// Frees ring_data (null afterwards) and empties the ring (capacity 0).
void ring_free(void);

#endif
