#include "integrity.h"

#include "fatal_error.h"
#include "pe_image.h"
#include "startup_block.h"

uint32_t movie_checksum_stream(FILE *stream, uint64_t length) {
    uint32_t sum = 0;
    unsigned char word[4];
    for (; length >= 4 && fread(word, 4, 1, stream) == 1; length -= 4) {
        uint32_t value = (uint32_t)word[0] | ((uint32_t)word[1] << 8) | ((uint32_t)word[2] << 16) |
                         ((uint32_t)word[3] << 24);
        sum = movie_checksum_step(sum, value);
    }
    return sum;
}

// The end of the bytes the checksum covers: the file's size, or the start
// of a certificate table that ends the file. UINT64_MAX (to the end of the
// file, as without signatures) when the size cannot be had.
static uint64_t checksum_end(FILE *stream) {
    static unsigned char head[PE_HEADER_READ];
    if (fseek(stream, 0, SEEK_SET) != 0)
        return UINT64_MAX;
    size_t got = fread(head, 1, sizeof head, stream);
    if (fseek(stream, 0, SEEK_END) != 0)
        return UINT64_MAX;
    long size = ftell(stream);
    if (size < 0)
        return UINT64_MAX;
    return movie_checksum_end(head, got, (uint64_t)size, startup_block.movie_offset);
}

void verify_movie_checksum(const WCHAR *file_name) {
    static const WCHAR read_binary[] = {'r', 'b', 0};
    FILE *stream = _wfopen(file_name, read_binary);
    if (stream == NULL) {
        fatal_error("ﾃﾞｰﾀが正しくありません");
        return;
    }
    uint64_t end = checksum_end(stream);
    // A movie_offset at or beyond the end gives the sum 0.
    uint32_t sum = 0;
    if (end > startup_block.movie_offset) {
        if (fseek(stream, (long)startup_block.movie_offset, SEEK_SET) == 0)
            sum = movie_checksum_stream(stream, end - startup_block.movie_offset);
        else
            sum = startup_block.movie_checksum + 1; // cannot be positioned: never passes
    }
    fclose(stream);
    if (sum != startup_block.movie_checksum)
        fatal_error("ﾃﾞｰﾀが正しくありません");
}
