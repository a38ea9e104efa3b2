// The PrefetchRing over the player state's ring fields. Every position is
// reduced with ring_mask at the start of the operation that uses it, so
// ring_read and ring_write may stand at ring_capacity between operations.
#include "prefetch_ring.h"

#include "../player/player_state.h"

#include <stdlib.h>

int64_t ring_capacity_for(int64_t ring_size) {
    int64_t capacity = RING_MIN_CAPACITY;
    while (capacity < ring_size)
        capacity *= 2;
    return capacity;
}

int64_t ring_preload_target_for(int64_t preload_size, int64_t capacity) {
    if (preload_size <= 0)
        return 0;
    int64_t t = (preload_size + preload_size / 8 + 2047) & ~(int64_t)2047;
    return t < capacity ? t : capacity;
}

uint32_t ring_top_up_wanted(uint32_t delay, int32_t bytes_per_second) {
    return (uint32_t)((uint64_t)delay * (uint32_t)bytes_per_second / 1000);
}

uint32_t ring_top_up_amount(uint32_t wanted, uint32_t free_space) {
    uint32_t amount = wanted < free_space ? wanted : free_space;
    return amount & ~(uint32_t)(RING_REFILL - 1);
}

int ring_create(int32_t ring_size) {
    ring_free();
    // A capacity above RING_MAX_CAPACITY would not fit the signed 32-bit fields.
    int64_t capacity = ring_capacity_for(ring_size);
    uint8_t *data = capacity > RING_MAX_CAPACITY ? NULL : (uint8_t *)malloc((size_t)capacity);
    if (data == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ring_data = data;
    ring_capacity = (int32_t)capacity;
    ring_mask = ring_capacity - 1;
    ring_reset();
    return 1;
}

void ring_reset(void) {
    ring_read = 0;
    ring_write = 0;
    ring_fill = 0;
}

// Reads up to `count` bytes into the array at ring_write; returns the count.
static int32_t ring_read_piece(int32_t count) {
    int32_t got = source_read_block(movie_source, ring_data + ring_write, count);
    ring_write += got;
    ring_fill += got;
    return got;
}

void ring_refill(int32_t n) {
    if (ring_data == NULL || movie_source == NULL)
        return;
    int32_t space = ring_capacity - ring_fill;
    if (n > space)
        n = space;
    if (n <= 0)
        return;
    ring_write &= ring_mask;
    int32_t room = ring_capacity - ring_write;
    if (room >= n) {
        ring_read_piece(n);
        return;
    }
    // Up to the end of the array, then from index 0 unless the source ran dry.
    if (ring_read_piece(room) < room)
        return;
    ring_write = 0;
    ring_read_piece(n - room);
}

int ring_read_byte(void) {
    if (ring_fill == 0) {
        ring_refill(RING_REFILL);
        if (ring_fill == 0)
            return 0;
    }
    ring_fill--;
    int32_t p = ring_read & ring_mask;
    ring_read = p + 1;
    return ring_data[p];
}

uint32_t ring_read_be32(void) {
    if (ring_fill < 4) {
        ring_refill(RING_REFILL);
        if (ring_fill < 4)
            return 0;
    }
    ring_fill -= 4;
    int32_t p = ring_read & ring_mask;
    if (p <= ring_capacity - 4) {
        const uint8_t *b = ring_data + p;
        ring_read = p + 4;
        return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
    }
    // Only a misaligned stream gets here: the word wraps to index 0.
    uint32_t word = 0;
    for (int i = 0; i < 4; i++)
        word = (word << 8) | ring_data[(p + i) & ring_mask];
    ring_read = (p + 4) & ring_mask;
    return word;
}

int32_t ring_take_run(int32_t limit, const uint8_t **bytes) {
    if (limit <= 0)
        return 0;
    if (ring_fill == 0) {
        ring_refill(RING_REFILL);
        if (ring_fill == 0)
            return 0;
    }
    int32_t p = ring_read & ring_mask;
    int32_t count = ring_capacity - p;
    if (count > ring_fill)
        count = ring_fill;
    if (count > limit)
        count = limit;
    *bytes = ring_data + p;
    ring_fill -= count;
    ring_read = p + count;
    return count;
}

int32_t ring_skip(int32_t count) {
    int32_t dropped = 0;
    const uint8_t *ignored;
    while (dropped < count) {
        int32_t got = ring_take_run(count - dropped, &ignored);
        if (got == 0)
            break;
        dropped += got;
    }
    return dropped;
}

int32_t ring_preload_target(int32_t preload_size) {
    return (int32_t)ring_preload_target_for(preload_size, ring_capacity);
}

void ring_preload(void) {
    if (ring_fill < preload_target)
        ring_refill(preload_target - ring_fill);
}

void ring_free(void) {
    free(ring_data);
    ring_data = NULL;
    ring_capacity = 0;
    ring_mask = 0;
    ring_reset();
}
