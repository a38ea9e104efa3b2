// The PrefetchRing: the power-of-two ring of record-stream bytes between
// the movie's ByteSource and the player. Its fields are player state
// (player/player_state.h); it draws from movie_source, which it does not own.
#ifndef KMOV_STREAM_PREFETCH_RING_H
#define KMOV_STREAM_PREFETCH_RING_H

#include <stdint.h>

enum {
    RING_MIN_CAPACITY = 2048,
    RING_REFILL = 2048, // the standard refill when a take finds too few bytes
};

// Sizes the ring: ring_capacity = the smallest power of two that is at least
// RING_MIN_CAPACITY and at least ring_size; allocates ring_data and resets.
// Returns 1, or 0 when the array cannot be had (ring_data stays null; the
// caller reports "memory error %d").
int ring_create(int32_t ring_size);

// ring_read = ring_write = ring_fill = 0; the array is left as it is.
void ring_reset(void);

// Reads up to n bytes from movie_source, limited to the free space, in at
// most two pieces (up to the end of the array, then from index 0).
void ring_refill(int32_t n);

// One byte; refills RING_REFILL bytes first when the ring is empty; 0 when
// nothing can be had (then nothing is taken).
int ring_read_byte(void);

// A big-endian word; refills first when fewer than 4 bytes are held.
uint32_t ring_read_be32(void);

// (preload_size + preload_size / 8 + 2047) rounded down to a multiple of
// 2048, at most ring_capacity; 0 for a preload_size of 0.
int32_t ring_preload_target(int32_t preload_size);

// Fills the ring up to preload_target bytes in one refill.
void ring_preload(void);

// Frees ring_data (null afterwards).
void ring_free(void);

#endif
