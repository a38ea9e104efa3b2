// The wave-out device, its fixed pool of buffers, and the "adat" decoder.
//
// The device is opened without a callback; a buffer is free while its
// header carries WHDR_DONE, which the audio system sets on its own when the
// buffer has been played or reset, so the flag is read atomically.
#include "audio_decoder.h"

#include "../app/fatal_error.h"
#include "../stream/prefetch_ring.h"
#include "player_internal.h"
#include "player_state.h"

#include <stdlib.h>
#include <string.h>

const int16_t delta_table_16[16] = {
    0, 8, 26, 86, 283, 927, 3043, 9986, -32768, -9986, -3043, -927, -283, -86, -26, -8,
};

const int16_t delta_table_64[64] = {
    0,      1,      2,      3,      4,     5,     6,     7,     //
    10,     15,     20,     29,     40,    56,    78,    109,   //
    153,    214,    299,    419,    586,   819,   1145,  1601,  //
    2240,   3132,   4380,   6126,   8567,  11980, 16754, 23431, //
    -32768, -23431, -16754, -11980, -8567, -6126, -4380, -3132, //
    -2240,  -1601,  -1145,  -819,   -586,  -419,  -299,  -214,  //
    -153,   -109,   -78,    -56,    -40,   -29,   -20,   -15,   //
    -10,    -7,     -6,     -5,     -4,    -3,    -2,    -1,    //
};

enum {
    SAMPLE_BYTES = 2,
    BLOCK_SAMPLES_MASK = 0xFFFF, // the low 16 bits of an "adat" param
    CLOSE_WAIT_MS = 50,          // lets the device return its buffers after the reset
    WAVE_WAIT_LIMIT_MS = 3000,   // the longest a block waits for a buffer
    WAVE_WAIT_LOOK_MS = 50,      // how often a waiting block looks at the device's position
};

// The whole pool (headers and sample memory) is kept below this: a header
// asking for more is treated as memory that cannot be had.
static const int64_t WAVE_POOL_LIMIT = (int64_t)1 << 28;

int wave_output_open(unsigned wave_device, int32_t sample_rate, int32_t bits_per_code,
                     int32_t samples_per_buffer, int32_t buffer_pairs) {
    WAVEFORMATEX format;
    memset(&format, 0, sizeof format);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = (DWORD)sample_rate;
    format.nAvgBytesPerSec = (DWORD)sample_rate * SAMPLE_BYTES;
    format.nBlockAlign = SAMPLE_BYTES;
    format.wBitsPerSample = 16;
    format.cbSize = 0;

    wave_out = NULL;
    wave_headers = NULL;
    wave_header_count = 0;
    delta_table = NULL;
    wave_sample_rate = sample_rate;
    sound_written = 0;
    waveOutOpen(&wave_out, wave_device, &format, 0, 0, CALLBACK_NULL);
    if (wave_out == NULL)
        return 1;

    // Sizes in 64 bits: a negative or huge header value must not turn into
    // a small allocation.
    int64_t count = 2 * (int64_t)buffer_pairs;
    int64_t buffer_bytes = SAMPLE_BYTES * (int64_t)samples_per_buffer;
    int64_t per_buffer = (int64_t)sizeof(WAVEHDR) + buffer_bytes;
    if (buffer_pairs < 0 || samples_per_buffer < 0 ||
        (count > 0 && per_buffer > WAVE_POOL_LIMIT / count)) {
        fatal_error("memory insufficient");
        return 0;
    }
    wave_buffer_samples = samples_per_buffer;
    if (count > 0) {
        wave_headers = (WAVEHDR *)calloc((size_t)count, sizeof(WAVEHDR));
        if (wave_headers == NULL) {
            fatal_error("memory insufficient");
            return 0;
        }
        wave_header_count = (int32_t)count;
    }
    for (int32_t i = 0; i < wave_header_count; i++) {
        WAVEHDR *header = &wave_headers[i];
        // At least one sample, so that an empty buffer is still a pointer.
        header->lpData =
            (LPSTR)malloc(buffer_bytes > 0 ? (size_t)buffer_bytes : (size_t)SAMPLE_BYTES);
        if (header->lpData == NULL) {
            fatal_error("memory insufficient");
            return 0;
        }
        header->dwBufferLength = (DWORD)buffer_bytes;
        MMRESULT result = waveOutPrepareHeader(wave_out, header, sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR) {
            fatal_error("waveOutPrepareHeader %d", (int)result);
            return 0;
        }
        header->dwFlags |= WHDR_DONE;
    }

    if (bits_per_code == 4)
        delta_table = delta_table_16;
    else if (bits_per_code == 6)
        delta_table = delta_table_64;
    else
        fatal_error("ldp %d not supported", (int)bits_per_code);
    waveOutPause(wave_out);
    return 1;
}

// The first buffer, lowest index first, that the device has marked done.
static WAVEHDR *free_buffer(void) {
    if (wave_headers == NULL)
        return NULL;
    for (int32_t i = 0; i < wave_header_count; i++)
        if (__atomic_load_n(&wave_headers[i].dwFlags, __ATOMIC_ACQUIRE) & WHDR_DONE)
            return &wave_headers[i];
    return NULL;
}

int wave_output_busy(void) {
    for (int32_t i = 0; i < wave_header_count; i++)
        if (!(__atomic_load_n(&wave_headers[i].dwFlags, __ATOMIC_ACQUIRE) & WHDR_DONE))
            return 1;
    return 0;
}

// Waits for the device to return a buffer, while it plays. Dropping the
// block instead would lose its sound for good. The done marks are read
// every millisecond; the device's position, which may cost a call into
// the audio system's own thread, only now and then.
static WAVEHDR *wait_for_buffer(void) {
    uint32_t start = timeGetTime();
    uint32_t looked = start;
    for (;;) {
        WAVEHDR *header = free_buffer();
        if (header != NULL)
            return header;
        uint32_t now = timeGetTime();
        if (now - start >= WAVE_WAIT_LIMIT_MS)
            return NULL;
        if (now - looked >= WAVE_WAIT_LOOK_MS) {
            looked = now;
            if (player_sound_stalled(now))
                return NULL;
        }
        Sleep(1);
    }
}

// The payload bytes at hand, as in the video decoder: a contiguous piece
// taken from the ring and counted off current_length; zeros once the
// payload or the stream is used up.
typedef struct PayloadRun {
    const uint8_t *next;
    const uint8_t *end;
} PayloadRun;

static const uint8_t zero_bytes[16] = {0};

static uint32_t payload_byte(PayloadRun *run) {
    if (run->next == run->end) {
        int32_t got = ring_take_run(current_length, &run->next);
        if (got > 0) {
            current_length -= got;
            run->end = run->next + got;
        } else {
            current_length = 0;
            run->next = zero_bytes;
            run->end = zero_bytes + sizeof zero_bytes;
        }
    }
    return *run->next++;
}

static void skip_payload(void) {
    if (current_length > 0)
        ring_skip(current_length);
    current_length = 0;
}

void decode_audio_block(void) {
    // The code width follows the table, so a code never indexes past it.
    int bits = delta_table == delta_table_16 ? 4 : delta_table == delta_table_64 ? 6 : 0;
    WAVEHDR *header = wave_out != NULL && bits != 0 ? free_buffer() : NULL;
    if (header == NULL && wave_out != NULL && bits != 0 && sound_sync)
        header = wait_for_buffer();
    if (header == NULL) {
        skip_payload();
        return;
    }

    // A block larger than the buffer, or a last run past the block's end,
    // is cut at the buffer's end.
    int32_t n = (int32_t)(current_param & BLOCK_SAMPLES_MASK);
    if (n > wave_buffer_samples)
        n = wave_buffer_samples;
    header->dwBufferLength = (DWORD)n * SAMPLE_BYTES;
    int16_t *out = (int16_t *)header->lpData;

    PayloadRun payload = {zero_bytes, zero_bytes};
    uint32_t held_bits = 0; // the bits not yet used, at the top
    int held = 0;
    uint16_t value = 0; // the running value, modulo 65536
    int32_t produced = 0;
    while (produced < n) {
        if (held < bits) {
            held_bits |= payload_byte(&payload) << (24 - held);
            held += 8;
        }
        uint32_t code = held_bits >> (32 - bits);
        held_bits <<= bits;
        held -= bits;
        if (code != 0) {
            value = (uint16_t)(value + delta_table[code]);
            out[produced++] = (int16_t)value;
            continue;
        }
        if (held < bits) {
            held_bits |= payload_byte(&payload) << (24 - held);
            held += 8;
        }
        int32_t run = (int32_t)(held_bits >> (32 - bits)) + 1;
        held_bits <<= bits;
        held -= bits;
        if (run > n - produced)
            run = n - produced;
        for (int32_t i = 0; i < run; i++)
            out[produced++] = (int16_t)value;
    }
    skip_payload();
    player_sound_block_coming();
    sound_written += (uint32_t)n;
    waveOutWrite(wave_out, header, sizeof(WAVEHDR));
}

void wave_output_close(void) {
    if (wave_out == NULL)
        return;
    waveOutReset(wave_out);
    Sleep(CLOSE_WAIT_MS);
    if (wave_headers != NULL) {
        for (int32_t i = 0; i < wave_header_count; i++) {
            WAVEHDR *header = &wave_headers[i];
            if (header->dwFlags & WHDR_PREPARED)
                waveOutUnprepareHeader(wave_out, header, sizeof(WAVEHDR));
            if (header->lpData != NULL)
                free(header->lpData);
        }
        free(wave_headers);
        wave_headers = NULL;
    }
    wave_header_count = 0;
    waveOutClose(wave_out);
    wave_out = NULL;
    sound_sync = 0;
}
