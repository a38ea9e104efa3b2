// WINMM stand-ins: the clock and the one wave-out device over the backend's
// audio seam.
//
// The device plays 16-bit mono PCM only and takes no callback: a program
// finds its played buffers by their WHDR_DONE mark, which the backend sets
// (possibly from its own thread) when a buffer has been played or reset.
// Each call checks what Windows checks, in the same order: the handle
// first, then the header and its size, then the header's state.
#include "backend.h"
#include "core.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

constexpr uint32_t DEVICE_MAGIC = 0x6b576f75u;

// The sample rates the device accepts.
constexpr DWORD RATE_MIN = 100;
constexpr DWORD RATE_MAX = 200000;

// The timer resolutions asked for with timeBeginPeriod and not yet ended,
// each with its count.
std::map<UINT, int> timer_periods;

// The periods timeBeginPeriod accepts, in milliseconds.
constexpr UINT PERIOD_MIN = 1;
constexpr UINT PERIOD_MAX = 1000000;

struct WaveDevice {
    uint32_t magic = 0; // DEVICE_MAGIC while open
    DWORD rate = 0;     // samples per second
    // Headers written and not yet seen done, oldest first.
    std::vector<WAVEHDR *> written;
};

WaveDevice device;

HWAVEOUT device_handle() {
    return reinterpret_cast<HWAVEOUT>(&device);
}

bool valid(HWAVEOUT wave_out) {
    return wave_out != nullptr && wave_out == device_handle() && device.magic == DEVICE_MAGIC;
}

DWORD flags_of(const WAVEHDR *header) {
    return __atomic_load_n(&header->dwFlags, __ATOMIC_ACQUIRE);
}

bool supported(const WAVEFORMATEX *format) {
    return format->wFormatTag == WAVE_FORMAT_PCM && format->nChannels == 1 &&
           format->wBitsPerSample == 16 && format->nBlockAlign == 2 &&
           format->nSamplesPerSec >= RATE_MIN && format->nSamplesPerSec <= RATE_MAX &&
           format->nAvgBytesPerSec == format->nSamplesPerSec * 2;
}

// Forgets the written headers that the backend has returned.
void forget_returned() {
    std::erase_if(device.written,
                  [](const WAVEHDR *header) { return (flags_of(header) & WHDR_INQUEUE) == 0; });
}

} // namespace

DWORD timeGetTime(void) {
    return backend_time_ms();
}

// The clock here is always exact to the millisecond, so a period changes no
// timing; the calls are checked and counted as Windows does, and every
// timeBeginPeriod must be matched by a timeEndPeriod of the same period.
MMRESULT timeBeginPeriod(UINT period) {
    if (period < PERIOD_MIN || period > PERIOD_MAX)
        return TIMERR_NOCANDO;
    timer_periods[period]++;
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
    auto found = timer_periods.find(period);
    if (found == timer_periods.end())
        return TIMERR_NOCANDO;
    if (--found->second == 0)
        timer_periods.erase(found);
    return TIMERR_NOERROR;
}

UINT platform_timer_period(void) {
    return timer_periods.empty() ? 0 : timer_periods.begin()->first;
}

MMRESULT waveOutOpen(LPHWAVEOUT wave_out, UINT device_id, LPCWAVEFORMATEX format,
                     DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    (void)callback;
    (void)instance;
    if (wave_out == nullptr || format == nullptr)
        return MMSYSERR_INVALPARAM;
    *wave_out = nullptr;
    if (flags != CALLBACK_NULL)
        return MMSYSERR_INVALFLAG;
    if (device_id != 0 && device_id != WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    if (!supported(format))
        return WAVERR_BADFORMAT;
    if (device.magic == DEVICE_MAGIC)
        return MMSYSERR_ALLOCATED;
    if (!backend_audio_open(format->nSamplesPerSec))
        return MMSYSERR_NODRIVER;
    device.magic = DEVICE_MAGIC;
    device.rate = format->nSamplesPerSec;
    device.written.clear();
    *wave_out = device_handle();
    return MMSYSERR_NOERROR;
}

// Marks a header prepared; preparing it again does nothing.
MMRESULT waveOutPrepareHeader(HWAVEOUT wave_out, LPWAVEHDR header, UINT size) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    // A queued header is prepared too, so this also covers it.
    if (flags_of(header) & WHDR_PREPARED)
        return MMSYSERR_NOERROR;
    if (header->lpData == nullptr)
        return MMSYSERR_INVALPARAM;
    __atomic_fetch_or(&header->dwFlags, WHDR_PREPARED, __ATOMIC_ACQ_REL);
    return MMSYSERR_NOERROR;
}

// Clears the prepared mark; a header that is not prepared is left alone.
MMRESULT waveOutUnprepareHeader(HWAVEOUT wave_out, LPWAVEHDR header, UINT size) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    DWORD state = flags_of(header);
    if (state & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    if (state & WHDR_PREPARED)
        __atomic_fetch_and(&header->dwFlags, ~WHDR_PREPARED, __ATOMIC_ACQ_REL);
    return MMSYSERR_NOERROR;
}

// Queues a prepared header: it loses WHDR_DONE until the backend returns it.
MMRESULT waveOutWrite(HWAVEOUT wave_out, LPWAVEHDR header, UINT size) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    if (header == nullptr || size < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    DWORD state = flags_of(header);
    if (!(state & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (state & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    forget_returned();
    __atomic_store_n(&header->dwFlags, (state & ~WHDR_DONE) | WHDR_INQUEUE, __ATOMIC_RELEASE);
    device.written.push_back(header);
    backend_audio_write(header);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT wave_out) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    backend_audio_pause();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT wave_out) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    backend_audio_restart();
    return MMSYSERR_NOERROR;
}

// Stops output and returns every queued buffer marked done.
MMRESULT waveOutReset(HWAVEOUT wave_out) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    backend_audio_reset();
    forget_returned();
    return MMSYSERR_NOERROR;
}

// The position in the form asked for; a form the device does not keep is
// answered in bytes, with wType changed to say so.
MMRESULT waveOutGetPosition(HWAVEOUT wave_out, LPMMTIME time, UINT size) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    if (time == nullptr || size < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    uint32_t samples = backend_audio_position();
    switch (time->wType) {
    case TIME_SAMPLES:
        time->u.sample = samples;
        break;
    case TIME_MS:
        time->u.ms = static_cast<DWORD>(static_cast<uint64_t>(samples) * 1000 / device.rate);
        break;
    default:
        time->wType = TIME_BYTES;
        time->u.cb = samples * 2;
        break;
    }
    return MMSYSERR_NOERROR;
}

// Fails while buffers are queued, as on Windows: reset first.
MMRESULT waveOutClose(HWAVEOUT wave_out) {
    if (!valid(wave_out))
        return MMSYSERR_INVALHANDLE;
    forget_returned();
    if (!device.written.empty())
        return WAVERR_STILLPLAYING;
    backend_audio_close();
    device.magic = 0;
    return MMSYSERR_NOERROR;
}
