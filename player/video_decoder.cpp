// The "vdat" decoder. The frame buffer is one linear array of height x
// row_stride bytes; the cursor is row * row_stride + column and every
// neighbour is a fixed offset from it. A row's codes run while the column is
// below width; a run that passes the row end goes on into the padding and
// the next row.
//
// Rows whose every possible reference lies inside the buffer (all but the
// first two and the last few) are decoded without bounds checks; the others
// go through the careful path, where a source byte outside the buffer reads
// as 0 and a write past its end is dropped. Both give the same result
// wherever the references are inside.
#include "video_decoder.h"

#include "../stream/prefetch_ring.h"
#include "frame_codes.h"
#include "player_state.h"

#include <string.h>

#define ALWAYS_INLINE inline __attribute__((always_inline))

// The code bytes at hand: a contiguous piece of the payload in the ring.
typedef struct CodeRun {
    const uint8_t *next;
    const uint8_t *end;
} CodeRun;

// What the decoder reads once the payload (or the stream) is used up.
static const uint8_t zero_codes[64] = {0};

// The next piece of the payload, taken from the ring and counted off
// current_length. Once current_length reaches 0, or the stream ends, no more
// is taken: the codes continue as zeros and current_length stays at 0.
static CodeRun next_code_run(void) {
    CodeRun run;
    int32_t got = ring_take_run(current_length, &run.next);
    if (got > 0) {
        current_length -= got;
        run.end = run.next + got;
        return run;
    }
    current_length = 0;
    run.next = zero_codes;
    run.end = zero_codes + sizeof zero_codes;
    return run;
}

static ALWAYS_INLINE int code_byte(CodeRun *codes) {
    if (codes->next == codes->end)
        *codes = next_code_run();
    return *codes->next++;
}

// Non-zero when one of the eight bytes of `word` is an operation (240 to
// 255: its top four bits set).
static ALWAYS_INLINE uint64_t has_operation(uint64_t word) {
    return word & (word << 1) & (word << 2) & (word << 3) & 0x8080808080808080ull;
}

// ---- In-bounds operations ------------------------------------------------------

// n (FRAME_RUN_MIN to FRAME_RUN_MAX) bytes from src to dst as memmove does. Used where the source
// lies after the destination, or wholly before it.
static ALWAYS_INLINE void move_run(uint8_t *dst, const uint8_t *src, int64_t n) {
    if (n > 16) {
        // Forward in 16-byte pieces, the last 16 bytes read first: where
        // the source lies after the destination no piece is overwritten
        // before it is read.
        uint8_t tail[16], piece[16];
        memcpy(tail, src + n - 16, 16);
        for (int64_t i = 0; i + 16 <= n; i += 16) {
            memcpy(piece, src + i, 16);
            memcpy(dst + i, piece, 16);
        }
        memcpy(dst + n - 16, tail, 16);
    } else if (n >= 8) {
        uint64_t head, tail;
        memcpy(&head, src, 8);
        memcpy(&tail, src + n - 8, 8);
        memcpy(dst, &head, 8);
        memcpy(dst + n - 8, &tail, 8);
    } else if (n >= 4) {
        uint32_t head, tail;
        memcpy(&head, src, 4);
        memcpy(&tail, src + n - 4, 4);
        memcpy(dst, &head, 4);
        memcpy(dst + n - 4, &tail, 4);
    } else {
        uint16_t head, tail;
        memcpy(&head, src, 2);
        memcpy(&tail, src + n - 2, 2);
        memcpy(dst, &head, 2);
        memcpy(dst + n - 2, &tail, 2);
    }
}

// The copy order itself: groups of four bytes in increasing address order,
// each read in full before it is written, then the last 0 to 3 bytes one at
// a time. Where source and destination overlap this order is what defines
// the result.
static void copy_groups(uint8_t *dst, const uint8_t *src, int64_t n) {
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint8_t g0 = src[i], g1 = src[i + 1], g2 = src[i + 2], g3 = src[i + 3];
        dst[i] = g0;
        dst[i + 1] = g1;
        dst[i + 2] = g2;
        dst[i + 3] = g3;
    }
    for (; i < n; i++)
        dst[i] = src[i];
}

// A copy from `distance` bytes before the cursor (the row above). When the
// run is longer than the distance and the distance is at least 4, the four-
// byte groups never read a byte of the run before it is written, so the run
// repeats its first `distance` bytes; nearer sources need the group order.
static ALWAYS_INLINE void copy_from_before(uint8_t *dst, int64_t distance, int64_t n) {
    if (distance >= n) {
        move_run(dst, dst - distance, n);
    } else if (distance >= 4) {
        while (n > 0) {
            int64_t piece = n < distance ? n : distance;
            memcpy(dst, dst - distance, (size_t)piece);
            dst += piece;
            n -= piece;
        }
    } else {
        copy_groups(dst, dst - distance, n);
    }
}

// n (FRAME_RUN_MIN to FRAME_RUN_MAX) copies of the byte before dst, read once.
static ALWAYS_INLINE void fill_run(uint8_t *dst, int64_t n) {
    uint8_t value = dst[-1];
    if (n >= 16) {
        uint64_t word = value * 0x0101010101010101ull;
        uint64_t pair[2] = {word, word};
        uint8_t *end = dst + n;
        for (; dst + 16 <= end; dst += 16)
            memcpy(dst, pair, 16);
        memcpy(end - 16, pair, 16);
    } else if (n >= 8) {
        uint64_t word = value * 0x0101010101010101ull;
        memcpy(dst, &word, 8);
        memcpy(dst + n - 8, &word, 8);
    } else if (n >= 4) {
        uint32_t word = value * 0x01010101u;
        memcpy(dst, &word, 4);
        memcpy(dst + n - 4, &word, 4);
    } else {
        uint16_t word = (uint16_t)(value * 0x0101u);
        memcpy(dst, &word, 2);
        memcpy(dst + n - 2, &word, 2);
    }
}

// One row whose references all lie inside the buffer: row >= 2, width <=
// row_stride and at least 2 x row_stride + FRAME_RUN_MAX bytes from the row's
// start to the buffer's end.
static CodeRun decode_row_inside(CodeRun codes, uint8_t *row) {
    const int64_t w = width;
    const int64_t stride = row_stride;
    int64_t col = 0;
    while (col < w) {
        // Literals eight at a time while the codes hold no operation.
        while (w - col >= 8 && codes.end - codes.next >= 8) {
            uint64_t word;
            memcpy(&word, codes.next, 8);
            if (has_operation(word))
                break;
            memcpy(row + col, &word, 8);
            codes.next += 8;
            col += 8;
        }
        if (col >= w)
            break;
        uint8_t *dst = row + col;
        int op = code_byte(&codes);
        if (op < FRAME_OP_FIRST) {
            *dst = (uint8_t)op;
            col++;
            continue;
        }
        int64_t n;
        if (op > FRAME_OP_FILL_LONG) {
            if (op <= FRAME_OP_SKIP_SHORT_LAST) {
                col += op - FRAME_SKIP_SHORT_BIAS;
                continue;
            }
            n = op - FRAME_FILL_SHORT_BIAS;
            fill_run(dst, n);
            col += n;
            continue;
        }
        n = code_byte(&codes) + FRAME_RUN_BIAS;
        switch (op) {
        case FRAME_OP_SKIP_LONG:
            break;
        case FRAME_OP_COPY_RIGHT:
            move_run(dst, dst + 1, n);
            break;
        case FRAME_OP_COPY_BELOW_LEFT:
        case FRAME_OP_COPY_BELOW:
        case FRAME_OP_COPY_BELOW_RIGHT:
            move_run(dst, dst + frame_copy_below_offset(op, stride), n);
            break;
        case FRAME_OP_COPY_ABOVE_LEFT:
        case FRAME_OP_COPY_ABOVE:
        case FRAME_OP_COPY_ABOVE_RIGHT:
            copy_from_before(dst, frame_copy_above_distance(op, stride), n);
            break;
        default: // FRAME_OP_FILL_LONG
            fill_run(dst, n);
            break;
        }
        col += n;
    }
    return codes;
}

// ---- The careful path, for rows near the buffer's edges ---------------------------

static ALWAYS_INLINE uint8_t byte_at(const uint8_t *buffer, int64_t size, int64_t i) {
    return i >= 0 && i < size ? buffer[i] : 0;
}

static ALWAYS_INLINE void put_byte(uint8_t *buffer, int64_t size, int64_t i, uint8_t value) {
    if (i < size)
        buffer[i] = value;
}

// copy_groups with every byte checked; `offset` is the source's distance
// from the destination.
static void copy_careful(uint8_t *buffer, int64_t size, int64_t pos, int64_t offset, int64_t n) {
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint8_t group[4];
        for (int k = 0; k < 4; k++)
            group[k] = byte_at(buffer, size, pos + offset + i + k);
        for (int k = 0; k < 4; k++)
            put_byte(buffer, size, pos + i + k, group[k]);
    }
    for (; i < n; i++)
        put_byte(buffer, size, pos + i, byte_at(buffer, size, pos + offset + i));
}

static void fill_careful(uint8_t *buffer, int64_t size, int64_t pos, int64_t n) {
    uint8_t value = byte_at(buffer, size, pos - 1);
    for (int64_t i = 0; i < n && pos + i < size; i++)
        buffer[pos + i] = value;
}

static CodeRun decode_row_careful(CodeRun codes, uint8_t *buffer, int64_t size, int64_t start) {
    const int64_t stride = row_stride;
    int64_t col = 0;
    while (col < width) {
        int64_t pos = start + col;
        int op = code_byte(&codes);
        if (op < FRAME_OP_FIRST) {
            put_byte(buffer, size, pos, (uint8_t)op);
            col++;
            continue;
        }
        int64_t n;
        if (op > FRAME_OP_FILL_LONG) {
            if (op <= FRAME_OP_SKIP_SHORT_LAST) {
                col += op - FRAME_SKIP_SHORT_BIAS;
                continue;
            }
            n = op - FRAME_FILL_SHORT_BIAS;
            fill_careful(buffer, size, pos, n);
            col += n;
            continue;
        }
        n = code_byte(&codes) + FRAME_RUN_BIAS;
        if (op == FRAME_OP_COPY_RIGHT)
            copy_careful(buffer, size, pos, 1, n);
        else if (op <= FRAME_OP_COPY_BELOW_RIGHT && op != FRAME_OP_SKIP_LONG)
            copy_careful(buffer, size, pos, frame_copy_below_offset(op, stride), n);
        else if (op <= FRAME_OP_COPY_ABOVE_RIGHT && op != FRAME_OP_SKIP_LONG)
            copy_careful(buffer, size, pos, -frame_copy_above_distance(op, stride), n);
        else if (op == FRAME_OP_FILL_LONG)
            fill_careful(buffer, size, pos, n);
        col += n;
    }
    return codes;
}

void decode_video_frame(void) {
    CodeRun codes = {zero_codes, zero_codes};
    if (frame_bits != NULL && width > 0 && height > 0 && row_stride > 0) {
        const int64_t stride = row_stride;
        const int64_t size = (int64_t)height * stride;
        for (int64_t row = 0; row < height; row++) {
            int64_t start = row * stride;
            if (row >= 2 && width <= stride && start + 2 * stride + FRAME_RUN_MAX <= size)
                codes = decode_row_inside(codes, frame_bits + start);
            else
                codes = decode_row_careful(codes, frame_bits, size, start);
        }
    }
    // The rest of the payload: its padding, or whatever the codes left.
    if (current_length > 0)
        ring_skip(current_length);
    current_length = 0;
}
