#include "integrity.h"

#include "fatal_error.h"
#include "startup_block.h"

uint32_t movie_checksum_stream(FILE *stream) {
    uint32_t sum = 0;
    unsigned char word[4];
    while (fread(word, 4, 1, stream) == 1) {
        uint32_t value = (uint32_t)word[0] | ((uint32_t)word[1] << 8) | ((uint32_t)word[2] << 16) |
                         ((uint32_t)word[3] << 24);
        sum = movie_checksum_step(sum, value);
    }
    return sum;
}

void verify_movie_checksum(const char *file_name) {
    FILE *stream = fopen(file_name, "rb");
    if (stream == NULL) {
        fatal_error("ﾃﾞｰﾀが正しくありません");
        return;
    }
    uint32_t sum = 0;
    // A movie_offset at or beyond the end of the file gives the sum 0.
    if (fseek(stream, (long)startup_block.movie_offset, SEEK_SET) == 0)
        sum = movie_checksum_stream(stream);
    else
        sum = startup_block.movie_checksum + 1; // cannot be positioned: never passes
    fclose(stream);
    if (sum != startup_block.movie_checksum)
        fatal_error("ﾃﾞｰﾀが正しくありません");
}
