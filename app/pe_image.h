// Reading a Windows program's PE headers: where its CheckSum field is and
// whether an Authenticode certificate table ends the file. Used by the
// integrity check (a signing tool appends the table behind the movie) and
// by `kmov pack` and `kmov verify`.
//
// The headers are untrusted bytes: every read is bounded by the buffer
// handed in, and anything that does not hold together reads as "not a PE
// image" or "no certificate table", never as a fault.
#ifndef KMOV_APP_PE_IMAGE_H
#define KMOV_APP_PE_IMAGE_H

#include <stddef.h>
#include <stdint.h>

enum {
    // Bytes from the start of the file that are searched for the headers.
    // The DOS stub, the PE signature, the file header and the optional
    // header with its data directory lie well inside them in any program a
    // linker writes; a header placed further out counts as absent.
    PE_HEADER_READ = 4096,
    PE_CHECKSUM_FIELD_SIZE = 4,
    PE_DIRECTORY_ENTRY_SIZE = 8, // file offset and size, 32 bits each
};

typedef struct PeHeaders {
    uint32_t checksum_offset;       // file offset of the optional header's CheckSum field
    uint32_t security_entry_offset; // file offset of the security directory entry
    uint32_t certificate_offset;    // the entry's file offset of the certificate table
    uint32_t certificate_size;      // the entry's size in bytes; 0: the program is not signed
} PeHeaders;

// Reads the headers from `head`, the first `size` bytes of a file. Returns
// 1 and fills *headers when they hold an MZ header, a PE signature and a
// PE32 or PE32+ optional header whose data directory includes the security
// entry, all inside `head`; else returns 0 and leaves *headers zeroed.
int pe_read_headers(const unsigned char *head, size_t size, PeHeaders *headers);

// Where the movie checksum of a program stops: the start of its
// certificate table when the headers in `head` (the file's first `size`
// bytes) say that one ends the file (size not 0, offset + size equal to
// `file_size`, offset at or after `movie_offset`); in every other case
// `file_size`, the end of the file.
uint64_t movie_checksum_end(const unsigned char *head, size_t size, uint64_t file_size,
                            uint32_t movie_offset);

#endif
