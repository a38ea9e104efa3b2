// The SDL backend's wave output: one SDL audio device for 16-bit mono at
// the movie's rate, fed from the queue of written buffers.
//
// SDL calls the feed on its own audio thread, with the device locked; every
// other call here takes the same lock. A buffer is marked done (WHDR_DONE
// set, WHDR_INQUEUE cleared, atomically, since the player reads the marks
// without a lock) as soon as its last sample has gone to SDL; buffers go in
// the order they were written. While paused, or with nothing queued, the
// device plays silence.
#include "sdl_backend.h"

#include "../core/backend.h"

#include <deque>
#include <string.h>

namespace {

struct Audio {
    SDL_AudioDeviceID device = 0;
    std::deque<WAVEHDR *> queue; // written, not yet done; oldest first
    size_t played = 0;           // bytes of the oldest buffer already played
    int paused = 0;
    uint32_t position = 0;             // samples taken from buffers since open or reset
    uint32_t position_before_feed = 0; // position before the last feed took its piece
    uint32_t fed_at = 0;               // backend_time_ms of the last feed
    uint32_t rate = 0;
};

// Never destroyed: the audio thread may run while the process exits.
Audio &audio() {
    static Audio *a = new Audio;
    return *a;
}

void mark_done(WAVEHDR *header) {
    __atomic_fetch_and(&header->dwFlags, ~WHDR_INQUEUE, __ATOMIC_SEQ_CST);
    __atomic_fetch_or(&header->dwFlags, WHDR_DONE, __ATOMIC_SEQ_CST);
}

// Marks every queued buffer done, oldest first. The device is locked.
void return_all(Audio &a) {
    while (!a.queue.empty()) {
        WAVEHDR *header = a.queue.front();
        a.queue.pop_front();
        mark_done(header);
    }
    a.played = 0;
}

// SDL's feed, on the audio thread.
void feed(void *userdata, Uint8 *stream, int length) {
    Audio &a = *static_cast<Audio *>(userdata);
    a.position_before_feed = a.position;
    a.fed_at = backend_time_ms();
    size_t want = static_cast<size_t>(length);
    size_t filled = 0;
    while (!a.paused && filled < want && !a.queue.empty()) {
        WAVEHDR *header = a.queue.front();
        size_t size = header->dwBufferLength & ~DWORD{1}; // whole samples
        size_t take = size - a.played;
        if (take > want - filled)
            take = want - filled;
        memcpy(stream + filled, header->lpData + a.played, take);
        filled += take;
        a.played += take;
        a.position += static_cast<uint32_t>(take / 2);
        if (a.played >= size) {
            a.queue.pop_front();
            a.played = 0;
            mark_done(header);
        }
    }
    memset(stream + filled, 0, want - filled); // signed 16-bit silence
}

} // namespace

int backend_audio_open(uint32_t rate) {
    Audio &a = audio();
    if (a.device != 0 || !sdl_start(SDL_INIT_AUDIO))
        return 0;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = static_cast<int>(rate);
    want.format = AUDIO_S16SYS;
    want.channels = 1;
    // About 90 ms a feed. The output's own buffer holds about one feed (a
    // sound server's stream asks for that much), and it runs dry, inserting
    // silence, whenever SDL's thread is held off for longer than that: 20 ms
    // was too little on a busy machine. Movies queue about a second ahead,
    // so a feed still finds its sound queued.
    Uint16 samples = 256;
    while (samples < 8192 && samples * 12u < rate)
        samples = static_cast<Uint16>(samples * 2);
    want.samples = samples;
    want.callback = feed;
    want.userdata = &a;
    SDL_AudioSpec have;
    a.queue.clear();
    a.played = 0;
    a.paused = 0;
    a.position = 0;
    a.position_before_feed = 0;
    a.rate = rate;
    // SDL converts to whatever the hardware takes.
    a.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (a.device == 0)
        return 0;
    SDL_PauseAudioDevice(a.device, 0);
    return 1;
}

void backend_audio_write(WAVEHDR *header) {
    Audio &a = audio();
    if (a.device == 0) {
        mark_done(header);
        return;
    }
    SDL_LockAudioDevice(a.device);
    a.queue.push_back(header);
    SDL_UnlockAudioDevice(a.device);
}

namespace {

// Runs `change` on the device's state with the audio thread held off; does
// nothing when no device is open.
template <typename Change> void with_device_locked(Change change) {
    Audio &a = audio();
    if (a.device == 0)
        return;
    SDL_LockAudioDevice(a.device);
    change(a);
    SDL_UnlockAudioDevice(a.device);
}

} // namespace

void backend_audio_pause(void) {
    with_device_locked([](Audio &a) { a.paused = 1; });
}

void backend_audio_restart(void) {
    with_device_locked([](Audio &a) { a.paused = 0; });
}

void backend_audio_reset(void) {
    with_device_locked([](Audio &a) {
        return_all(a);
        a.position = 0;
        a.position_before_feed = 0;
    });
}

// What the device has played: SDL asks for sound a piece ahead of what is
// heard, so the piece the last feed took counts as playing out at the
// device's rate from the moment it was taken. 0 until the output has really
// begun to ask for sound, however long that takes.
uint32_t backend_audio_position(void) {
    uint32_t position = 0;
    with_device_locked([&position](Audio &a) {
        uint32_t since = backend_time_ms() - a.fed_at;
        uint64_t playing = static_cast<uint64_t>(since) * a.rate / 1000;
        uint32_t piece = a.position - a.position_before_feed;
        position = a.position_before_feed +
                   (a.paused || playing >= piece ? piece : static_cast<uint32_t>(playing));
    });
    return position;
}

void backend_audio_close(void) {
    Audio &a = audio();
    if (a.device == 0)
        return;
    SDL_LockAudioDevice(a.device);
    return_all(a);
    SDL_UnlockAudioDevice(a.device);
    SDL_CloseAudioDevice(a.device);
    a.device = 0;
}
