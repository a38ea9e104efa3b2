// The seam between platform/core (the Win32 machinery shared by every
// backend) and a backend (headless/ for tests and tools, sdl/ for a real
// screen and sound). Exactly one backend is linked into a program; each
// implements every function below. The core calls them blindly; platform/
// never includes player headers.
#ifndef KMOV_PLATFORM_BACKEND_H
#define KMOV_PLATFORM_BACKEND_H

#include <windows.h>

// ---- Clock and sleeping ----------------------------------------------------

// Milliseconds on the backend's clock (wraps at 2^32, like timeGetTime).
uint32_t backend_time_ms(void);
// Sleep(ms): the headless backend advances its clock instead of waiting.
void backend_sleep(uint32_t ms);

// ---- Message box -----------------------------------------------------------

// Shows a modal box and returns when it is dismissed. `text` and `title`
// are UTF-8. Called only from MessageBoxA and MessageBoxW.
void backend_message_box(const char *text, const char *title, unsigned flags);

// ---- Events ------------------------------------------------------------------

// Turns the backend's own event source into queue messages (posted through
// platform_post_message) without blocking.
void backend_poll_events(void);
// WaitMessage: blocks until a message may be in the queue. Returns at once
// when the queue already holds one.
void backend_wait_events(void);
// MsgWaitForMultipleObjects without handles: blocks until a message may be
// in the queue or `ms` milliseconds have passed on backend_time_ms's clock,
// whichever comes first, turning the backend's events into queue messages
// as they come. Returns non-zero when the queue holds something to
// retrieve (at once when it already does), 0 when the time ran out. `ms` 0
// only polls; INFINITE (0xFFFFFFFF) waits like backend_wait_events. Never
// returns before the time is up unless the queue is ready, so the player
// can wait for a due time with it; it may return late by the system's
// wake-up latency. The headless backend advances its clock by `ms` instead
// of waiting; a browser backend yields to the page's event loop.
int backend_wait_events_timeout(uint32_t ms);

// ---- Windows -------------------------------------------------------------------

// A top-level window was created (hidden), changed (size, visibility,
// title), or destroyed. Sizes are those of the client area in pixels.
// backend_window_created returns 0 when the backend cannot make the window
// (no display, say), after setting the last-error code with
// platform_set_error; CreateWindowExA then fails without sending the window
// a message, and backend_window_destroyed is not called for it.
int backend_window_created(HWND window);
void backend_window_changed(HWND window);
void backend_window_destroyed(HWND window);

// A BitBlt onto a window's client area: `pixels` are palette indices,
// `stride` bytes a row, top row first, `colours` the 256 colours they are
// shown through (the section's colour table, or the selected palette's).
void backend_blit(HWND window, int x, int y, int width, int height, const uint8_t *pixels,
                  int stride, const RGBQUAD *colours);
// A FillRect onto a window's client area, in one colour.
void backend_fill(HWND window, const RECT *rect, RGBQUAD colour);

// ---- Wave output -----------------------------------------------------------------

// Opens the one output device for 16-bit mono PCM at `rate` samples per
// second, initially playing. Returns 0 when there is no device.
int backend_audio_open(uint32_t rate);
// Queues a buffer; the core has cleared WHDR_DONE and set WHDR_INQUEUE.
// The backend sets WHDR_DONE (and clears WHDR_INQUEUE) atomically when the
// buffer has been played or reset.
void backend_audio_write(WAVEHDR *header);
void backend_audio_pause(void);
void backend_audio_restart(void);
// Stops output and marks every queued buffer done, in queue order.
void backend_audio_reset(void);
// waveOutGetPosition: samples the device has taken from written buffers
// since it was opened or last reset (silence played while it had nothing
// queued, or while paused, does not count). Stays 0 while a device that
// starts late has not yet begun to play; the player follows it to keep
// its pictures in step with the sound.
uint32_t backend_audio_position(void);
void backend_audio_close(void);

#endif
