#include "fatal_error.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int fatal_error_shown = 0;
char fatal_error_text[FATAL_ERROR_TEXT_SIZE];

// A lead byte of a two-byte code page 932 character.
static int is_cp932_lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

void fatal_error_format(char *buffer, size_t size, const char *format, va_list arguments) {
    if (size == 0)
        return;
    int wanted = vsnprintf(buffer, size, format, arguments);
    if (wanted < 0) {
        buffer[0] = 0;
        return;
    }
    if ((size_t)wanted < size)
        return;
    // Cut short: drop a dangling lead byte at the end.
    size_t length = size - 1;
    size_t i = 0;
    while (i < length) {
        if (is_cp932_lead((unsigned char)buffer[i])) {
            if (i + 1 >= length) {
                buffer[i] = 0;
                return;
            }
            i += 2;
        } else {
            i += 1;
        }
    }
}

void fatal_error(const char *format, ...) {
    if (fatal_error_shown)
        return;
    fatal_error_shown = 1;
    va_list arguments;
    va_start(arguments, format);
    fatal_error_format(fatal_error_text, sizeof fatal_error_text, format, arguments);
    va_end(arguments);
    MessageBoxA(NULL, fatal_error_text, "Error", MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONERROR);
    exit(1);
}
