#include "pe_image.h"

#include <string.h>

enum {
    DOS_LFANEW = 0x3C,        // offset of the PE header's file offset in the MZ header
    FILE_HEADER_SIZE = 20,    // COFF file header behind the 4-byte signature
    OPTIONAL_SIZE_FIELD = 16, // SizeOfOptionalHeader within the file header
    OPTIONAL_CHECKSUM = 64,   // CheckSum within the optional header (both kinds)
    PE32_MAGIC = 0x10B,
    PE32_PLUS_MAGIC = 0x20B,
    PE32_DIRECTORY_COUNT = 92, // NumberOfRvaAndSizes, PE32
    PE32_PLUS_DIRECTORY_COUNT = 108,
    SECURITY_DIRECTORY = 4, // the certificate table's slot in the data directory
};

// A little-endian value of `width` bytes at `offset`, if all of it lies
// inside the buffer.
static int read_le(const unsigned char *bytes, size_t size, uint64_t offset, int width,
                   uint32_t *value) {
    if (offset > size || (uint64_t)width > size - offset)
        return 0;
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; i--)
        v = (v << 8) | bytes[offset + (uint64_t)i];
    *value = v;
    return 1;
}

int pe_read_headers(const unsigned char *head, size_t size, PeHeaders *headers) {
    memset(headers, 0, sizeof *headers);
    uint32_t lfanew, signature, optional_size, magic;
    if (head == NULL || size < 2 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    if (!read_le(head, size, DOS_LFANEW, 4, &lfanew) ||
        !read_le(head, size, lfanew, 4, &signature) || signature != 0x00004550u) // "PE\0\0"
        return 0;
    uint64_t file_header = (uint64_t)lfanew + 4;
    uint64_t optional = file_header + FILE_HEADER_SIZE;
    if (!read_le(head, size, file_header + OPTIONAL_SIZE_FIELD, 2, &optional_size) ||
        !read_le(head, size, optional, 2, &magic))
        return 0;
    uint64_t count_field;
    if (magic == PE32_MAGIC)
        count_field = PE32_DIRECTORY_COUNT;
    else if (magic == PE32_PLUS_MAGIC)
        count_field = PE32_PLUS_DIRECTORY_COUNT;
    else
        return 0;
    uint32_t directories;
    if (!read_le(head, size, optional + count_field, 4, &directories) ||
        directories <= SECURITY_DIRECTORY)
        return 0;
    // The entry must lie inside the optional header as the file header
    // sizes it, and inside what was read.
    uint64_t entry = count_field + 4 + (uint64_t)SECURITY_DIRECTORY * PE_DIRECTORY_ENTRY_SIZE;
    if (entry + PE_DIRECTORY_ENTRY_SIZE > optional_size)
        return 0;
    uint32_t offset, length, checksum;
    if (!read_le(head, size, optional + entry, 4, &offset) ||
        !read_le(head, size, optional + entry + 4, 4, &length) ||
        !read_le(head, size, optional + OPTIONAL_CHECKSUM, 4, &checksum))
        return 0;
    headers->checksum_offset = (uint32_t)(optional + OPTIONAL_CHECKSUM);
    headers->security_entry_offset = (uint32_t)(optional + entry);
    headers->certificate_offset = offset;
    headers->certificate_size = length;
    return 1;
}

uint64_t movie_checksum_end(const unsigned char *head, size_t size, uint64_t file_size,
                            uint32_t movie_offset) {
    PeHeaders headers;
    if (!pe_read_headers(head, size, &headers) || headers.certificate_size == 0)
        return file_size;
    uint64_t table = headers.certificate_offset;
    if (table + headers.certificate_size != file_size || table < movie_offset)
        return file_size;
    return table;
}
