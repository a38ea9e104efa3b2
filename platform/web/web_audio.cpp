// The web backend's wave output: Web Audio, through the page's script
// (web_page.js). Each written buffer is copied out as it is written and
// scheduled straight behind the one before at the movie's rate; the page
// marks it done (WHDR_DONE set, WHDR_INQUEUE cleared) when it has played,
// in the order written. Pause and restart suspend and resume the page's
// audio clock, so scheduled buffers keep their places.
//
// Browsers hold sound back until the user has touched the page. Until then
// the page lets each buffer take its playing time in silence and marks it
// done at its end, so the player's pool never runs dry and the picture is
// never held up; the first click (or key) lets the sound out from there on.
#include "../core/backend.h"

#include <emscripten.h>
#include <stddef.h>

EM_JS(int, web_audio_open, (int rate), { return kmovWeb.audioOpen(rate); });
EM_JS(void, web_audio_write,
      (DWORD * flags, const int16_t *samples, int count, int done, int queued),
      { kmovWeb.audioWrite(flags, samples, count, done, queued); });
EM_JS(void, web_audio_pause, (void), { kmovWeb.audioPause(); });
EM_JS(void, web_audio_restart, (void), { kmovWeb.audioRestart(); });
EM_JS(void, web_audio_reset, (void), { kmovWeb.audioReset(); });
EM_JS(void, web_audio_close, (void), { kmovWeb.audioClose(); });
EM_JS(uint32_t, web_audio_position, (void), { return kmovWeb.audioPosition(); });

int backend_audio_open(uint32_t rate) {
    return web_audio_open(static_cast<int>(rate));
}

void backend_audio_write(WAVEHDR *header) {
    // Whole samples only, as the device plays them.
    int count = static_cast<int>(header->dwBufferLength / 2);
    web_audio_write(&header->dwFlags, reinterpret_cast<const int16_t *>(header->lpData), count,
                    WHDR_DONE, WHDR_INQUEUE);
}

void backend_audio_pause(void) {
    web_audio_pause();
}

void backend_audio_restart(void) {
    web_audio_restart();
}

void backend_audio_reset(void) {
    web_audio_reset();
}

// Samples played since open or reset: those of the buffers played through,
// and the part of the one playing now, on the page's audio clock (or, until
// the sound is let out, on the silent buffers' running time).
uint32_t backend_audio_position(void) {
    return web_audio_position();
}

void backend_audio_close(void) {
    web_audio_close();
}
