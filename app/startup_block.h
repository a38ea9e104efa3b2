// The StartupBlock: where the appended movie starts, its checksum and the
// window title, in the program's initialised data. `kmov pack` finds it by
// the marker laid in front of it and writes the three values.
#ifndef KMOV_APP_STARTUP_BLOCK_H
#define KMOV_APP_STARTUP_BLOCK_H

#include <stdint.h>

enum {
    STARTUP_MARKER_SIZE = 16,
    STARTUP_TITLE_SIZE = 256, // NUL-terminated; the bytes behind it are zero
    STARTUP_BLOCK_SIZE = 8 + STARTUP_TITLE_SIZE,
};

// Sixteen bytes found exactly once in a player template: in front of the
// block. Nothing else in the program holds them.
#define STARTUP_MARKER "\x7fkMovSP-startup" // 15 bytes and the terminator

// The mark in front of a window title stored as UTF-8 (a byte-order mark);
// a title without it is code page 932, in which these bytes are no
// character.
#define UTF8_MARK "\xEF\xBB\xBF"
enum { UTF8_MARK_SIZE = 3 };

// Little-endian on every target this program has.
typedef struct StartupBlock {
    uint32_t movie_offset;   // file offset of the movie: the length of the image before it
    uint32_t movie_checksum; // verify_movie_checksum's sum over the movie
    char window_title[STARTUP_TITLE_SIZE]; // caption: code page 932, or UTF8_MARK + UTF-8
} StartupBlock;

typedef struct StartupRecord {
    char marker[STARTUP_MARKER_SIZE];
    StartupBlock block;
} StartupRecord;

// The program's own block (app/startup_block.cpp). Only read at run time.
extern StartupRecord startup_record;
#define startup_block (startup_record.block)

#endif
