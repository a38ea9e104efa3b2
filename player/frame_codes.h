// The codes of a "vdat" payload, shared by the player's decoder and by
// everything that writes or checks frames. A frame is coded row by row in
// place over the previous frame: a byte below FRAME_OP_FIRST is a literal
// palette index; the bytes from FRAME_OP_FIRST on are run operations.
// FRAME_OP_SKIP_LONG to FRAME_OP_FILL_LONG carry a count byte b and cover
// b + FRAME_RUN_BIAS pixels; the short forms carry their length in the
// operation byte. Copies read the buffer as it stands when they run (see
// frame_copy_offset); every run operation covers at least 2 pixels.
#ifndef KMOV_PLAYER_FRAME_CODES_H
#define KMOV_PLAYER_FRAME_CODES_H

#include <stdint.h>

enum {
    FRAME_OP_FIRST = 240,            // below: a literal palette index
    FRAME_OP_SKIP_LONG = 240,        // b: leave b + 2 pixels as they are
    FRAME_OP_COPY_RIGHT = 241,       // b: each pixel takes its right neighbour's old value
    FRAME_OP_COPY_BELOW_LEFT = 242,  // b: copies from the row below, as it was
    FRAME_OP_COPY_BELOW = 243,       //
    FRAME_OP_COPY_BELOW_RIGHT = 244, //
    FRAME_OP_COPY_ABOVE_LEFT = 245,  // b: copies from the row above, in groups of four
    FRAME_OP_COPY_ABOVE = 246,       //
    FRAME_OP_COPY_ABOVE_RIGHT = 247, //
    FRAME_OP_FILL_LONG = 248,        // b: b + 2 copies of the pixel on the left
    FRAME_OP_SKIP_SHORT = 249,       // 249 to 252: leave op - 247 pixels (2 to 5)
    FRAME_OP_SKIP_SHORT_LAST = 252,  //
    FRAME_OP_FILL_SHORT = 253,       // 253 to 255: op - 251 copies of the left pixel (2 to 4)

    FRAME_SKIP_SHORT_BIAS = 247,
    FRAME_FILL_SHORT_BIAS = 251,
    FRAME_RUN_BIAS = 2, // a count byte b gives a run of b + 2
    FRAME_RUN_MIN = FRAME_RUN_BIAS,
    FRAME_RUN_MAX = 255 + FRAME_RUN_BIAS,
    FRAME_SKIP_SHORT_MAX = FRAME_OP_SKIP_SHORT_LAST - FRAME_SKIP_SHORT_BIAS, // 5
    FRAME_FILL_SHORT_MAX = 255 - FRAME_FILL_SHORT_BIAS,                      // 4
};

// Non-zero when the operation is followed by a count byte (240 to 248).
static inline int frame_op_has_count(int op) {
    return op >= FRAME_OP_SKIP_LONG && op <= FRAME_OP_FILL_LONG;
}

// The pixels a code covers: 1 for a literal, the run for an operation
// (`count` is its count byte; ignored for literals and the short forms).
static inline int frame_run_length(int op, int count) {
    if (op < FRAME_OP_FIRST)
        return 1;
    if (op >= FRAME_OP_FILL_SHORT)
        return op - FRAME_FILL_SHORT_BIAS;
    if (op >= FRAME_OP_SKIP_SHORT)
        return op - FRAME_SKIP_SHORT_BIAS;
    return count + FRAME_RUN_BIAS;
}

// The short or long skip and fill operations for a run of n (2 to 257).
static inline int frame_skip_op(int n) {
    return n <= FRAME_SKIP_SHORT_MAX ? FRAME_SKIP_SHORT_BIAS + n : FRAME_OP_SKIP_LONG;
}
static inline int frame_fill_op(int n) {
    return n <= FRAME_FILL_SHORT_MAX ? FRAME_FILL_SHORT_BIAS + n : FRAME_OP_FILL_LONG;
}

// The source of a copy (FRAME_OP_COPY_RIGHT to FRAME_OP_COPY_ABOVE_RIGHT):
// its distance in bytes from the cursor in a buffer of `stride` bytes a
// row. 241 reads the pixel to the right, 242 to 244 the row below one
// column left, straight and right, 245 to 247 the row above likewise.
// The two halves, for code that already knows which rows the copy reads:
// the offset of a copy from the row below (242 to 244) and the distance
// back of a copy from the row above (245 to 247).
static inline int64_t frame_copy_below_offset(int op, int64_t stride) {
    return stride + (op - FRAME_OP_COPY_BELOW);
}
static inline int64_t frame_copy_above_distance(int op, int64_t stride) {
    return stride + (FRAME_OP_COPY_ABOVE - op);
}

static inline int64_t frame_copy_offset(int op, int64_t stride) {
    if (op == FRAME_OP_COPY_RIGHT)
        return 1;
    if (op <= FRAME_OP_COPY_BELOW_RIGHT)
        return frame_copy_below_offset(op, stride);
    return -frame_copy_above_distance(op, stride);
}

// Copies that read bytes the run itself may already have written (the row
// above, when the run is longer than its distance) move four bytes at a
// time in increasing address order, each group read in full before it is
// written, then the last 0 to 3 bytes one at a time.
enum { FRAME_COPY_GROUP = 4 };

#endif
