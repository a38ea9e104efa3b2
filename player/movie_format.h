// The movie file format: a 64-byte MovieHeader, a 960-byte palette of 240
// colours, then the record stream from movie offset 1024. Every record is a
// 16-byte RecordHeader followed by `length` payload bytes (a multiple of 4).
// All multi-byte integers are big-endian.
#ifndef KMOV_PLAYER_MOVIE_FORMAT_H
#define KMOV_PLAYER_MOVIE_FORMAT_H

#include "../stream/byte_source.h"

#include <windows.h>

#include <stdint.h>

// A tag's four ASCII characters read as one big-endian word.
#define MOVIE_TAG(a, b, c, d)                                                                      \
    (((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d))

enum : uint32_t {
    MOVIE_MAGIC = MOVIE_TAG('k', 'M', 'o', 'v'),
    TAG_VDAT = MOVIE_TAG('v', 'd', 'a', 't'), // a compressed frame
    TAG_VBLT = MOVIE_TAG('v', 'b', 'l', 't'), // present the frame
    TAG_ADAT = MOVIE_TAG('a', 'd', 'a', 't'), // a compressed audio block
    TAG_ASTA = MOVIE_TAG('a', 's', 't', 'a'), // start the wave-out device
    TAG_END = MOVIE_TAG('e', 'n', 'd', ' '),  // the last record
};

enum {
    MOVIE_HEADER_SIZE = 64,
    MOVIE_PALETTE_COLOURS = 240,
    MOVIE_PALETTE_SIZE = MOVIE_PALETTE_COLOURS * 4,
    MOVIE_RECORDS_OFFSET = MOVIE_HEADER_SIZE + MOVIE_PALETTE_SIZE, // 1024
    RECORD_HEADER_SIZE = 16,
};

// The header words after the magic, in file order: the one list of them,
// which the reader, the movie writer and `kmov info` all go through.
// X(name, meaning). Each is read as a signed 32-bit value; meaningful
// values are non-negative. Four reserved words follow them.
#define MOVIE_HEADER_FIELDS(X)                                                                     \
    X(data_rate, "movie bytes per second of playback")                                             \
    X(ring_size, "smallest ring capacity the movie needs")                                         \
    X(preload_size, "bytes wanted in the ring before playback")                                    \
    X(width, "frame width in pixels")                                                              \
    X(height, "frame height in rows")                                                              \
    X(frame_rate, "thousandths of a frame per second (not used by the player)")                    \
    X(frame_count, "number of \"vblt\" records")                                                   \
    X(sample_rate, "samples per second; 0 = no sound")                                             \
    X(ldp, "bits per audio code, 4 or 6")                                                          \
    X(samples_per_buffer, "16-bit samples per wave buffer")                                        \
    X(buffer_pairs, "the player allocates 2 x buffer_pairs wave buffers")

enum { MOVIE_HEADER_RESERVED = 4 };

typedef struct MovieHeader {
    uint32_t magic;
#define MOVIE_HEADER_DECLARE(name, meaning) int32_t name;
    MOVIE_HEADER_FIELDS(MOVIE_HEADER_DECLARE)
#undef MOVIE_HEADER_DECLARE
    int32_t reserved[MOVIE_HEADER_RESERVED];
} MovieHeader;

typedef struct RecordHeader {
    uint32_t tag;
    uint32_t delay;  // ms from the previous record's due time
    uint32_t length; // payload bytes
    uint32_t param;  // "adat": low 16 bits = samples in the block
} RecordHeader;

// Reads the magic and the fifteen header words in file order, one
// source_read_be32 each, leaving the source at movie offset 64. Returns 1
// when the magic is "kMov", else 0 (the words are read either way).
int movie_read_header(ByteSource *source, MovieHeader *header);

// Reads the 240 palette entries (four source_read_byte calls each: red,
// green, blue, ignored) into colours[0..239] as RGBQUADs with reserved 0;
// entries 240 to 255 are set to zero.
void movie_read_palette(ByteSource *source, RGBQUAD colours[256]);

// Walks the record stream with the source standing at movie offset 1024 of
// a movie. Calls `visit` for every whole record header, in order, with the
// file offset of its payload; payloads are skipped by a seek, not read. A
// record whose header or payload is cut short by the end of the file is not
// visited. Stops after the "end " record,
// at a header cut short by the end of the file, or when `visit` returns 0.
// Never seeks past the end of the file.
//
// Returns one of the MOVIE_WALK_* results below; `*end_offset` receives the
// file offset behind the last whole record visited.
enum {
    MOVIE_WALK_END = 0,       // stopped after an "end " record
    MOVIE_WALK_CUT = 1,       // the file ended inside a header or a payload
    MOVIE_WALK_STOPPED = 2,   // visit returned 0
    MOVIE_WALK_UNALIGNED = 3, // a length that is not a multiple of 4
};
int movie_walk_records(ByteSource *source,
                       int (*visit)(const RecordHeader *record, int64_t payload_offset,
                                    void *context),
                       void *context, int64_t *end_offset);

#endif
