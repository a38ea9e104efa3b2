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
    // Code page 932 never takes more UTF-16 units than bytes.
    static WCHAR text[FATAL_ERROR_TEXT_SIZE];
    static const WCHAR title[] = {'E', 'r', 'r', 'o', 'r', 0};
    if (MultiByteToWideChar(MESSAGE_CODE_PAGE, 0, fatal_error_text, -1, text,
                            FATAL_ERROR_TEXT_SIZE) == 0)
        text[0] = 0;
    MessageBoxW(NULL, text, title, MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONERROR);
    exit(1);
}

void fatal_error_file_name(const WCHAR *name, char *out, int size) {
    out[0] = 0;
    if (name == NULL)
        return;
    int full = 0;
    while (name[full] != 0)
        full++;
    // A name too long for `out` is cut by whole characters until it fits
    // (never between the two halves of a surrogate pair).
    for (int length = full; length > 0; length--) {
        if (length < full && (name[length - 1] & 0xFC00) == 0xD800)
            continue;
        int written =
            WideCharToMultiByte(MESSAGE_CODE_PAGE, 0, name, length, out, size - 1, NULL, NULL);
        if (written > 0) {
            out[written] = 0;
            return;
        }
    }
}
