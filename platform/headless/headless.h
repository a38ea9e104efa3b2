// The headless backend's controls, for tests and for the kmov tools.
//
// Nothing is shown and nothing waits: the clock is the test's, message
// boxes are recorded (and echoed to stderr), WaitMessage calls the test's
// wait hook instead of blocking, every BitBlt onto a window and every
// FillRect is captured, and wave-out buffers are captured as samples and
// completed when the test says so.
#ifndef KMOV_PLATFORM_HEADLESS_H
#define KMOV_PLATFORM_HEADLESS_H

#include <windows.h>

#include <string>
#include <vector>

// ---- Clock -------------------------------------------------------------------

// timeGetTime's value. Sleep(ms) advances it by ms.
void headless_set_time(uint32_t ms);
void headless_advance_time(uint32_t ms);
uint32_t headless_time(void);

// ---- Message boxes -------------------------------------------------------------

struct HeadlessMessageBox {
    std::string text;  // the box's text in code page 932 (the player's message bytes)
    std::string title; // likewise
    unsigned flags;
};
// Every box shown since the last headless_reset, in order.
const std::vector<HeadlessMessageBox> &headless_message_boxes(void);
// Runs while a box is "up" (after it was recorded, before MessageBoxA
// returns): what a real box's modal loop would let run.
void headless_set_message_box_hook(void (*hook)(const HeadlessMessageBox &box));
// Each box (MessageBoxA or MessageBoxW) is echoed to stderr as one line
// "MessageBoxA [title] 0xFLAGS text" (code page 932 bytes, flags in 8 hex
// digits) unless this is turned off.
void headless_set_message_box_echo(int on);

// ---- Input and waiting -----------------------------------------------------------

// Called when WaitMessage, or GetMessageA, finds nothing to retrieve (no
// posted message, no quit message, no shown window to paint): it should
// post a message (or advance the clock and complete audio) so that waiting
// ends. With no hook, or when the hook leaves the queue empty, the wait
// reports on stderr that the program would block forever and aborts the
// process. Tests use it to deliver the next message or to count the waits.
void headless_set_wait_hook(void (*hook)(void));
// Called by a timed wait (MsgWaitForMultipleObjects with a timeout) that
// finds the queue empty, with the timeout in ms, instead of advancing the
// clock by that much: it may advance the clock by less and post a message,
// as input arriving during the wait. Without it the clock jumps to the end
// of the wait.
void headless_set_timed_wait_hook(void (*hook)(uint32_t ms));
// Called whenever the program looks for input (PeekMessageA, GetMessageA),
// so a test can let time pass and act while a busy loop runs.
void headless_set_poll_hook(void (*hook)(void));
// Scripted input, as the window system would deliver it to `window`: a
// click posts WM_LBUTTONDOWN (MK_LBUTTON) then WM_LBUTTONUP at client
// position (x, y), so a double click is two clicks; a close request posts
// WM_CLOSE (the close box, the system menu or Alt+F4).
void headless_click(HWND window, int x, int y);
void headless_close(HWND window);

// A hidden captioned window of a plain class (its procedure DefWindowProcA),
// 640 x 480 outside, for code that needs a window to present into: the
// tools' playback, tests and benchmarks.
HWND headless_make_window(const char *title);
// ---- Windows -----------------------------------------------------------------------

// With 0, every CreateWindowExA fails (GetLastError 8, not enough memory) as
// when there is no display to put a window on, until reset.
void headless_set_window_creation(int succeeds);

// ---- Captured drawing --------------------------------------------------------------

struct HeadlessBlit {
    HWND window;
    uint32_t time; // headless clock when the blit ran
    int x, y, width, height;
    std::vector<uint8_t> pixels;        // width * height palette indices, rows without padding
    std::vector<RGBQUAD> colours;       // the 256 colours they were shown through
    uint32_t rgb(int px, int py) const; // 0xRRGGBB of one pixel
};
struct HeadlessFill {
    HWND window;
    uint32_t time;
    RECT rect;
    RGBQUAD colour;
};
const std::vector<HeadlessBlit> &headless_blits(void);
const std::vector<HeadlessFill> &headless_fills(void);
// Keeps only the most recent `count` blits (0 keeps all); long playbacks
// in the tools use it to bound memory.
void headless_set_blit_limit(size_t count);
// Called for every blit onto a window as it happens (tools stream frames).
void headless_set_blit_hook(void (*hook)(const HeadlessBlit &blit));

// ---- Wave output -----------------------------------------------------------------

// Makes waveOutOpen fail as with no device (MMSYSERR_NODRIVER) until reset.
void headless_set_audio_device(int present);
struct HeadlessAudioEvent {
    enum Kind { OPEN, WRITE, PAUSE, RESTART, RESET, CLOSE } kind;
    uint32_t time;
    std::vector<int16_t> samples; // WRITE: the buffer's samples as written
};
// Every open, write, pause, restart, reset and close, in order.
const std::vector<HeadlessAudioEvent> &headless_audio_events(void);
// Buffers queued and not yet done, oldest first.
size_t headless_audio_queued(void);
// Completes up to `count` of the oldest queued buffers (sets WHDR_DONE)
// regardless of pause state; returns how many it completed.
size_t headless_audio_complete(size_t count);
// When on, advancing the clock plays queued buffers at the device's sample
// rate while it runs (not paused): each finished buffer is marked done, and
// the device's position counts the samples played. When off, the position
// counts the running time at the sample rate, as a device that keeps up.
void headless_set_audio_paced(int on);
// A device that starts late: after it is opened or restarted from a pause
// it plays nothing (its position stays) for the first `ms` milliseconds of
// running time. Applies from the next open or restart; 0 by default.
void headless_set_audio_start_delay(uint32_t ms);
// A device that falls behind once (a sound server held off the processor):
// after `at_ms` milliseconds of running time it plays nothing for `ms`,
// then goes on where it stopped. With `plays_on`, it plays on and only the
// position it reports stands for those `ms`, then catches up at once (a
// device that reports in steps). Applies from the next open; off (0) by
// default.
void headless_set_audio_hiccup(uint32_t at_ms, uint32_t ms, int plays_on);

// ---- Timer resolution --------------------------------------------------------------

// The finest period asked for with timeBeginPeriod and not yet ended (0:
// none), so a test can see that playback holds one only while it plays.
unsigned headless_timer_period(void);

// ---- The program --------------------------------------------------------------------

// GetModuleFileNameA and GetModuleFileNameW name this file (the system's
// bytes) instead of the running program (null:
// the program again), so a test can start the player on a packed file.
void headless_set_module_path(const char *path);

// ---- Whole state -----------------------------------------------------------------

// Forgets every record and hook, sets the clock to 0, and restores the
// defaults (echo on, windows can be created, audio device present, not
// paced, no start delay). Windows and queued messages are the core's and are left as they
// are.
void headless_reset(void);

#endif
