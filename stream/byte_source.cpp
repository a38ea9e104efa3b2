#include "byte_source.h"

#include "../app/fatal_error.h"

#include <stdlib.h>
#include <string.h>

// The rest of an open once the file is open: the size, the buffer and the
// refill operation. Returns null (the file closed, the record freed) when
// the buffer cannot be had.
static ByteSource *source_attach(ByteSource *source, HANDLE handle) {
    source->handle = handle;
    source->size = (int32_t)GetFileSize(handle, NULL);
    source->capacity = SOURCE_CAPACITY;
    source->buffer = (unsigned char *)malloc(SOURCE_CAPACITY);
    if (source->buffer == NULL) {
        fatal_error("memory insufficient");
        CloseHandle(handle);
        free(source);
        return NULL;
    }
    source->refill = source_refill;
    return source;
}

ByteSource *source_open(const char *file_name) {
    ByteSource *source = (ByteSource *)calloc(1, sizeof(ByteSource));
    if (source == NULL) {
        fatal_error("memory insufficient");
        return NULL;
    }
    HANDLE handle = CreateFileA(file_name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        fatal_error("%s: オープンできません (%d)", file_name, (int)GetLastError());
        free(source);
        return NULL;
    }
    return source_attach(source, handle);
}

ByteSource *source_open_wide(const WCHAR *file_name) {
    ByteSource *source = (ByteSource *)calloc(1, sizeof(ByteSource));
    if (source == NULL) {
        fatal_error("memory insufficient");
        return NULL;
    }
    HANDLE handle = CreateFileW(file_name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError(); // before the name's conversion can change it
        static char name[SOURCE_NAME_BYTES];
        fatal_error_file_name(file_name, name, (int)sizeof name);
        fatal_error("%s: オープンできません (%d)", name, (int)code);
        free(source);
        return NULL;
    }
    return source_attach(source, handle);
}

int source_refill(ByteSource *source) {
    if (source->at_end)
        return 0;
    source->position = 0;
    DWORD count = 0;
    ReadFile(source->handle, source->buffer, (DWORD)source->capacity, &count, NULL);
    source->available = (int32_t)count;
    if (source->available != source->capacity) {
        source->at_end = 1;
        // The short read must end exactly at the end of the file; compare in
        // 64 bits so that an offset beyond the size cannot wrap the test.
        if ((int64_t)source->size - source->file_offset != source->available) {
            fatal_error("リードエラー(%d)", (int)GetLastError());
            return source->available;
        }
    }
    source->file_offset += source->available;
    return source->available;
}

int source_read_byte(ByteSource *source) {
    if (source->available == 0) {
        source->refill(source);
        if (source->available == 0)
            return 0xFF;
    }
    source->available--;
    return source->buffer[source->position++];
}

uint32_t source_read_be32(ByteSource *source) {
    uint32_t word = 0;
    for (int i = 0; i < 4; i++)
        word = (word << 8) | (uint32_t)source_read_byte(source);
    return word;
}

int32_t source_read_block(ByteSource *source, void *destination, int32_t count) {
    if (count <= 0)
        return 0;
    unsigned char *out = (unsigned char *)destination;
    int32_t copied = 0;
    int32_t wanted = count;
    while (wanted > 0) {
        if (source->available == 0) {
            source->refill(source);
            if (source->available == 0)
                return copied;
        }
        int32_t piece = source->available < wanted ? source->available : wanted;
        memcpy(out, source->buffer + source->position, (size_t)piece);
        source->available -= piece;
        source->position += piece;
        out += piece;
        copied += piece;
        wanted -= piece;
    }
    return copied;
}

DWORD source_seek(ByteSource *source, int32_t offset) {
    source->file_offset = offset;
    source->available = 0;
    source->at_end = 0;
    source->position = 0;
    return SetFilePointer(source->handle, offset, NULL, FILE_BEGIN);
}

void source_close(ByteSource *source) {
    if (source == NULL)
        return;
    if (source->buffer != NULL)
        free(source->buffer);
    if (source->handle != NULL)
        CloseHandle(source->handle);
    free(source);
}
