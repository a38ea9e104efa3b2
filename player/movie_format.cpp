#include "movie_format.h"

#include <string.h>

int movie_read_header(ByteSource *source, MovieHeader *header) {
    header->magic = source_read_be32(source);
#define MOVIE_HEADER_READ(name, meaning) header->name = (int32_t)source_read_be32(source);
    MOVIE_HEADER_FIELDS(MOVIE_HEADER_READ)
#undef MOVIE_HEADER_READ
    for (int i = 0; i < MOVIE_HEADER_RESERVED; i++)
        header->reserved[i] = (int32_t)source_read_be32(source);
    return header->magic == MOVIE_MAGIC;
}

void movie_read_palette(ByteSource *source, RGBQUAD colours[256]) {
    memset(colours, 0, 256 * sizeof(RGBQUAD));
    for (int i = 0; i < MOVIE_PALETTE_COLOURS; i++) {
        colours[i].rgbRed = (BYTE)source_read_byte(source);
        colours[i].rgbGreen = (BYTE)source_read_byte(source);
        colours[i].rgbBlue = (BYTE)source_read_byte(source);
        source_read_byte(source);
        colours[i].rgbReserved = 0;
    }
}

int movie_walk_records(ByteSource *source,
                       int (*visit)(const RecordHeader *record, int64_t payload_offset,
                                    void *context),
                       void *context, int64_t *end_offset) {
    int64_t offset = (int64_t)source->file_offset - source->available;
    int64_t size = source->size;
    *end_offset = offset;
    for (;;) {
        if (size - offset < RECORD_HEADER_SIZE)
            return MOVIE_WALK_CUT;
        RecordHeader record;
        record.tag = source_read_be32(source);
        record.delay = source_read_be32(source);
        record.length = source_read_be32(source);
        record.param = source_read_be32(source);
        int64_t payload = offset + RECORD_HEADER_SIZE;
        if ((int64_t)record.length > size - payload)
            return MOVIE_WALK_CUT;
        offset = payload + record.length;
        *end_offset = offset;
        if (!visit(&record, payload, context))
            return MOVIE_WALK_STOPPED;
        if (record.tag == TAG_END)
            return MOVIE_WALK_END;
        if (record.length % 4 != 0)
            return MOVIE_WALK_UNALIGNED;
        if (record.length != 0)
            source_seek(source, (int32_t)offset);
    }
}
