// The integrity check of the movie appended to the program.
#ifndef KMOV_APP_INTEGRITY_H
#define KMOV_APP_INTEGRITY_H

#include <windows.h>

#include <stdint.h>
#include <stdio.h>

// One step of the movie checksum: the running sum rotated left by one bit,
// plus the next word (taken little-endian), modulo 2^32.
static inline uint32_t movie_checksum_step(uint32_t sum, uint32_t word) {
    return ((sum << 1) | (sum >> 31)) + word;
}

// The sum over the whole 4-byte little-endian words among the next `length`
// bytes of `stream` (fewer when the stream ends first): sum =
// rotate-left(sum, 1) + word, modulo 2^32. A last group of 1 to 3 bytes is
// not part of it; no bytes give 0.
uint32_t movie_checksum_stream(FILE *stream, uint64_t length);

// Sums every whole word from startup_block.movie_offset to the end of the
// file `file_name` (the running program's path, opened through the wide
// call so that any name opens) and returns when it equals
// startup_block.movie_checksum; otherwise reports "ﾃﾞｰﾀが正しくありません".
// When the program's PE headers say that an Authenticode certificate table
// ends the file, behind the movie, the sum stops where that table begins:
// signing appends it, and the movie is still the same (see pe_image.h). A
// file that cannot be opened or positioned gets the same message, and the
// failed stream is never read.
void verify_movie_checksum(const WCHAR *file_name);

#endif
