// ByteSource: a buffered, strictly sequential reader over one file.
//
// Reads never fail: past the end of the data a byte read yields 0xFF and a
// block read comes back short (0 once exhausted). Only a file that cannot be
// opened, or a short read that is not the end of the file, is reported,
// through fatal_error.
#ifndef KMOV_STREAM_BYTE_SOURCE_H
#define KMOV_STREAM_BYTE_SOURCE_H

#include <windows.h>

#include <stdint.h>

enum {
    SOURCE_CAPACITY = 0x8000, // bytes read from the file per refill
    // Room for a wide file name of up to 1023 units as code page 932 bytes
    // in a message.
    SOURCE_NAME_BYTES = 2048,
};

typedef struct ByteSource ByteSource;

struct ByteSource {
    unsigned char *buffer;       // SOURCE_CAPACITY bytes, owned
    int32_t available;           // bytes in buffer not yet handed out
    int32_t position;            // index in buffer of the next byte
    int32_t capacity;            // SOURCE_CAPACITY
    int (*refill)(ByteSource *); // called by the reads when available is 0
    int32_t at_end;              // set by the first short refill; cleared by a seek
    int32_t size;                // file size in bytes, taken at open
    int32_t file_offset;         // file offset the next refill reads from
    HANDLE handle;               // the open file
};

// Opens `file_name` (an ANSI path) for reading; nothing is read yet.
// On failure reports "%s: オープンできません (%d)" with the GetLastError code
// and returns null (if fatal_error returns at all).
ByteSource *source_open(const char *file_name);

// The same for a wide (UTF-16) path, opened through CreateFileW: the
// program's own path, which may hold any character whatever the system's
// code page. The message names the file in code page 932 ('?' for what it
// lacks).
ByteSource *source_open_wide(const WCHAR *file_name);

// Fills the buffer from the file; returns the count read. Reached only
// through the `refill` field. Does nothing once at_end is set. A short read
// that does not end exactly at the end of the file reports "リードエラー(%d)".
int source_refill(ByteSource *source);

// One byte, 0 to 255; 0xFF when no byte can be had.
int source_read_byte(ByteSource *source);

// The next four bytes as a big-endian word; each missing byte counts as 0xFF.
uint32_t source_read_be32(ByteSource *source);

// Copies up to `count` bytes to `destination`; returns the number copied,
// short only when the data runs out.
int32_t source_read_block(ByteSource *source, void *destination, int32_t count);

// Moves to the absolute file offset `offset`, discarding the buffer and
// clearing at_end. No range check: a seek beyond the end makes the next
// refill report a read error. Returns SetFilePointer's result.
DWORD source_seek(ByteSource *source, int32_t offset);

// Closes the file and frees everything; null is ignored.
void source_close(ByteSource *source);

#endif
