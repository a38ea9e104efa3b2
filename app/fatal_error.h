// The one way the player reports a failure.
#ifndef KMOV_APP_FATAL_ERROR_H
#define KMOV_APP_FATAL_ERROR_H

#include <windows.h>

#include <stdarg.h>
#include <stddef.h>

enum {
    FATAL_ERROR_TEXT_SIZE = 4096, // bytes of fatal_error_text, terminator included
    MESSAGE_CODE_PAGE = 932,      // the code page of every message the player formats
};

// Set by the first fatal_error call and never cleared.
extern int fatal_error_shown;
// The formatted message of the first call (code page 932 bytes).
extern char fatal_error_text[FATAL_ERROR_TEXT_SIZE];

// Formats the message (printf conventions) into fatal_error_text, shows it
// in a task-modal error box titled "Error" and ends the process with
// exit(1), so exit handlers run. Nothing of the player is released first.
// The box is shown through the wide call, the text converted from code page
// 932, so that it reads the same whatever the system's code page; the bytes
// in fatal_error_text stay those formatted.
//
// Returns only when a message is already being shown (a failure found while
// the first box's modal loop dispatches messages): then nothing is shown and
// the caller must go on without effect or release what it acquired.
void fatal_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The bounded formatting step of fatal_error: writes at most `size` bytes
// (terminator included) into `buffer`. A message that does not fit is cut
// at the last whole character: never inside a two-byte code page 932
// character, so the box never shows half a character.
void fatal_error_format(char *buffer, size_t size, const char *format, va_list arguments)
    __attribute__((format(printf, 3, 0)));

// A wide file name as code page 932 bytes for a message: characters the
// code page lacks become '?'. Always NUL-terminated within `size` bytes (a
// name that does not fit is cut); `size` must be at least 1.
void fatal_error_file_name(const WCHAR *name, char *out, int size);

#endif
