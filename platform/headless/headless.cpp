// The headless backend: a clock the test drives, recorded message boxes,
// captured drawing and sound, scripted input. See headless.h.
#include "headless.h"

#include "../core/backend.h"
#include "../core/core.h"

#include <deque>
#include <stdio.h>
#include <stdlib.h>

namespace {

struct AudioDevice {
    int open = 0;
    int paused = 0;
    uint32_t rate = 0;
    std::deque<WAVEHDR *> queue;
    uint64_t played_in_head = 0; // samples of the oldest buffer already played (paced mode)
    uint32_t remainder = 0;      // sample-rate remainder carried between clock steps
    uint32_t position = 0;       // samples played since open or reset (waveOutGetPosition)
    uint32_t held_back = 0;      // ms of running time still to pass before sound comes out
    uint32_t ran = 0;            // ms of running time since open, after the start delay
    uint32_t hiccup_at = 0;      // ms of running time after which the device stops for a while
    uint32_t hiccup_left = 0;    // ms of that stop still to come
    int frozen = 0;              // the position reported stands (a hiccup that plays on)
    uint32_t frozen_position = 0;
};

struct State {
    uint32_t time = 0;
    std::vector<HeadlessMessageBox> boxes;
    // The copies handed to the box hook: a deque keeps each in place while
    // a box shown from inside a hook adds the next, and a hook may leave by
    // a jump (the fuzz targets do) without a local copy left to destroy.
    std::deque<HeadlessMessageBox> hooked_boxes;
    void (*box_hook)(const HeadlessMessageBox &) = nullptr;
    int echo = 1;
    void (*wait_hook)(void) = nullptr;
    void (*timed_wait_hook)(uint32_t) = nullptr;
    void (*poll_hook)(void) = nullptr;
    std::vector<HeadlessBlit> blits;
    size_t blit_limit = 0;
    void (*blit_hook)(const HeadlessBlit &) = nullptr;
    std::vector<HeadlessFill> fills;
    int windows_fail = 0;
    int audio_present = 1;
    int audio_paced = 0;
    uint32_t audio_start_delay = 0;
    uint32_t audio_hiccup_at = 0, audio_hiccup_length = 0;
    int audio_hiccup_plays_on = 0;
    std::vector<HeadlessAudioEvent> audio_events;
    AudioDevice audio;
};

// Never destroyed: audio may still be queued at static destruction.
State *&current_state() {
    static State *s = new State;
    return s;
}

State &state() {
    return *current_state();
}

void record_audio(HeadlessAudioEvent::Kind kind) {
    state().audio_events.push_back({kind, state().time, {}});
}

void mark_done(WAVEHDR *header) {
    __atomic_fetch_and(&header->dwFlags, ~WHDR_INQUEUE, __ATOMIC_SEQ_CST);
    __atomic_fetch_or(&header->dwFlags, WHDR_DONE, __ATOMIC_SEQ_CST);
}

// Lets `ms` milliseconds of the running device pass: first whatever is
// left of its start delay, then sound at the device's rate, less a hiccup
// that falls in them. Paced, it plays
// the queued buffers and counts what it played; otherwise it counts the
// time as played (a device that keeps up, its buffers completed by the
// test).
void play_for(uint32_t ms) {
    AudioDevice &device = state().audio;
    if (!device.open || device.paused || device.rate == 0)
        return;
    uint32_t held = ms < device.held_back ? ms : device.held_back;
    device.held_back -= held;
    ms -= held;
    if (device.hiccup_left > 0) {
        uint32_t before = device.ran < device.hiccup_at ? device.hiccup_at - device.ran : 0;
        if (ms > before) {
            uint32_t stop = ms - before < device.hiccup_left ? ms - before : device.hiccup_left;
            device.hiccup_left -= stop;
            if (!state().audio_hiccup_plays_on) {
                ms -= stop;
            } else if (device.hiccup_left > 0 && !device.frozen) {
                device.frozen = 1;
                device.frozen_position =
                    device.position + static_cast<uint32_t>(uint64_t{before} * device.rate / 1000);
            }
        }
    }
    if (device.hiccup_left == 0)
        device.frozen = 0;
    device.ran += ms;
    uint64_t budget = (static_cast<uint64_t>(ms) * device.rate + device.remainder) / 1000;
    device.remainder =
        static_cast<uint32_t>((static_cast<uint64_t>(ms) * device.rate + device.remainder) % 1000);
    if (!state().audio_paced) {
        device.position += static_cast<uint32_t>(budget);
        return;
    }
    while (budget > 0 && !device.queue.empty()) {
        WAVEHDR *head = device.queue.front();
        uint64_t length = head->dwBufferLength / 2;
        uint64_t left = length - device.played_in_head;
        if (budget < left) {
            device.played_in_head += budget;
            device.position += static_cast<uint32_t>(budget);
            return;
        }
        budget -= left;
        device.position += static_cast<uint32_t>(left);
        device.played_in_head = 0;
        device.queue.pop_front();
        mark_done(head);
    }
}

} // namespace

// ---- Clock ----------------------------------------------------------------------

void headless_set_time(uint32_t ms) {
    uint32_t step = ms - state().time;
    state().time = ms;
    play_for(step);
}
void headless_advance_time(uint32_t ms) {
    state().time += ms;
    play_for(ms);
}
uint32_t headless_time(void) {
    return state().time;
}

uint32_t backend_time_ms(void) {
    return state().time;
}
void backend_sleep(uint32_t ms) {
    headless_advance_time(ms);
}

// ---- Message boxes -------------------------------------------------------------------

const std::vector<HeadlessMessageBox> &headless_message_boxes(void) {
    return state().boxes;
}
void headless_set_message_box_hook(void (*hook)(const HeadlessMessageBox &)) {
    state().box_hook = hook;
}
void headless_set_message_box_echo(int on) {
    state().echo = on;
}

// The box is recorded in code page 932, the bytes the player formatted its
// message in (the box itself shows UTF-8), so that tests compare those.
void backend_message_box(const char *text, const char *title, unsigned flags) {
    state().boxes.push_back(
        {platform_cp932_from_utf8(text), platform_cp932_from_utf8(title), flags});
    const HeadlessMessageBox &box = state().hooked_boxes.emplace_back(state().boxes.back());
    if (state().echo) {
        fprintf(stderr, "MessageBoxA [%s] 0x%08x %s\n", box.title.c_str(), flags, box.text.c_str());
        fflush(stderr);
    }
    if (state().box_hook != nullptr)
        state().box_hook(box);
}

// ---- Input and waiting -----------------------------------------------------------------

void headless_set_wait_hook(void (*hook)(void)) {
    state().wait_hook = hook;
}

void headless_click(HWND window, int x, int y) {
    platform_post_message(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    platform_post_message(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void headless_close(HWND window) {
    platform_post_message(window, WM_CLOSE, 0, 0);
}

void headless_set_poll_hook(void (*hook)(void)) {
    state().poll_hook = hook;
}

void backend_poll_events(void) {
    if (state().poll_hook != nullptr)
        state().poll_hook();
}

void headless_set_timed_wait_hook(void (*hook)(uint32_t ms)) {
    state().timed_wait_hook = hook;
}

int backend_wait_events_timeout(uint32_t ms) {
    if (platform_queue_ready())
        return 1;
    if (ms == INFINITE) {
        backend_wait_events();
        return 1;
    }
    if (state().timed_wait_hook != nullptr)
        state().timed_wait_hook(ms);
    else
        headless_advance_time(ms);
    return platform_queue_ready();
}

void backend_wait_events(void) {
    if (platform_queue_ready())
        return;
    if (state().wait_hook != nullptr)
        state().wait_hook();
    if (!platform_queue_ready()) {
        fprintf(stderr, "headless: WaitMessage would block forever (empty queue, nothing to "
                        "wake it)\n");
        abort();
    }
}

// ---- Windows and drawing ------------------------------------------------------------------

void headless_set_window_creation(int succeeds) {
    state().windows_fail = !succeeds;
}

int backend_window_created(HWND window) {
    (void)window;
    if (state().windows_fail) {
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return 1;
}
void backend_window_changed(HWND window) {
    (void)window;
}
void backend_window_destroyed(HWND window) {
    (void)window;
}

HWND headless_make_window(const char *title) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXA window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.lpszClassName = "kmovHeadless";
        registered = RegisterClassExA(&window_class) != 0;
    }
    return CreateWindowExA(0, "kmovHeadless", title, WS_CAPTION, 0, 0, 640, 480, nullptr, nullptr,
                           nullptr, nullptr);
}

uint32_t HeadlessBlit::rgb(int px, int py) const {
    const RGBQUAD &c = colours[pixels[static_cast<size_t>(py) * width + px]];
    return (static_cast<uint32_t>(c.rgbRed) << 16) | (static_cast<uint32_t>(c.rgbGreen) << 8) |
           c.rgbBlue;
}

const std::vector<HeadlessBlit> &headless_blits(void) {
    return state().blits;
}
const std::vector<HeadlessFill> &headless_fills(void) {
    return state().fills;
}
void headless_set_blit_limit(size_t count) {
    state().blit_limit = count;
}
void headless_set_blit_hook(void (*hook)(const HeadlessBlit &)) {
    state().blit_hook = hook;
}

void backend_blit(HWND window, int x, int y, int width, int height, const uint8_t *pixels,
                  int stride, const RGBQUAD *colours) {
    HeadlessBlit blit;
    blit.window = window;
    blit.time = state().time;
    blit.x = x;
    blit.y = y;
    blit.width = width;
    blit.height = height;
    blit.pixels.resize(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; row++)
        for (int col = 0; col < width; col++)
            blit.pixels[static_cast<size_t>(row) * width + col] =
                pixels[static_cast<size_t>(row) * stride + col];
    blit.colours.assign(colours, colours + 256);
    if (state().blit_hook != nullptr)
        state().blit_hook(blit);
    std::vector<HeadlessBlit> &blits = state().blits;
    if (state().blit_limit != 0 && blits.size() >= state().blit_limit)
        blits.erase(blits.begin(),
                    blits.begin() + static_cast<long>(blits.size() - state().blit_limit + 1));
    blits.push_back(std::move(blit));
}

void backend_fill(HWND window, const RECT *rect, RGBQUAD colour) {
    state().fills.push_back({window, state().time, *rect, colour});
}

// ---- Wave output ---------------------------------------------------------------------------

void headless_set_audio_device(int present) {
    state().audio_present = present;
}
const std::vector<HeadlessAudioEvent> &headless_audio_events(void) {
    return state().audio_events;
}
size_t headless_audio_queued(void) {
    return state().audio.queue.size();
}
void headless_set_audio_paced(int on) {
    state().audio_paced = on;
}
void headless_set_audio_start_delay(uint32_t ms) {
    state().audio_start_delay = ms;
}
void headless_set_audio_hiccup(uint32_t at_ms, uint32_t ms, int plays_on) {
    state().audio_hiccup_at = at_ms;
    state().audio_hiccup_length = ms;
    state().audio_hiccup_plays_on = plays_on;
}
uint32_t backend_audio_position(void) {
    const AudioDevice &device = state().audio;
    return device.frozen ? device.frozen_position : device.position;
}
unsigned headless_timer_period(void) {
    return platform_timer_period();
}

size_t headless_audio_complete(size_t count) {
    size_t done = 0;
    AudioDevice &device = state().audio;
    while (done < count && !device.queue.empty()) {
        mark_done(device.queue.front());
        device.queue.pop_front();
        device.played_in_head = 0;
        done++;
    }
    return done;
}

int backend_audio_open(uint32_t rate) {
    if (!state().audio_present)
        return 0;
    AudioDevice &device = state().audio;
    device.open = 1;
    device.paused = 0;
    device.rate = rate;
    device.queue.clear();
    device.played_in_head = 0;
    device.remainder = 0;
    device.position = 0;
    device.held_back = state().audio_start_delay;
    device.ran = 0;
    device.hiccup_at = state().audio_hiccup_at;
    device.hiccup_left = state().audio_hiccup_length;
    device.frozen = 0;
    record_audio(HeadlessAudioEvent::OPEN);
    return 1;
}

void backend_audio_write(WAVEHDR *header) {
    HeadlessAudioEvent event{HeadlessAudioEvent::WRITE, state().time, {}};
    const int16_t *samples = reinterpret_cast<const int16_t *>(header->lpData);
    event.samples.assign(samples, samples + header->dwBufferLength / 2);
    state().audio_events.push_back(std::move(event));
    state().audio.queue.push_back(header);
}

void backend_audio_pause(void) {
    state().audio.paused = 1;
    record_audio(HeadlessAudioEvent::PAUSE);
}

void backend_audio_restart(void) {
    if (state().audio.paused)
        state().audio.held_back = state().audio_start_delay;
    state().audio.paused = 0;
    record_audio(HeadlessAudioEvent::RESTART);
}

void backend_audio_reset(void) {
    record_audio(HeadlessAudioEvent::RESET);
    headless_audio_complete(state().audio.queue.size());
    state().audio.position = 0;
}

void backend_audio_close(void) {
    record_audio(HeadlessAudioEvent::CLOSE);
    state().audio.open = 0;
    state().audio.queue.clear();
}

// ---- The program -----------------------------------------------------------------------------

void headless_set_module_path(const char *path) {
    platform_set_module_path(path);
}

// ---- Whole state -------------------------------------------------------------------------------

void headless_reset(void) {
    // A fresh record in place of the old one: what it allocates equals what
    // the old one frees, so a reset leaves the heap's count as it was.
    State *fresh = new State;
    fresh->audio = state().audio; // an open device stays open: it is the core's
    delete current_state();
    current_state() = fresh;
}
