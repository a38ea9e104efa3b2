// A whole movie, hostile or not, through player_open and playback on the
// headless backend with the clock stepped to each due time. Work per input
// is bounded: at most kMaxTurns records.
#include "fuzz_support.h"

#include "app/event_pump.h"
#include "headless.h"
#include "player/player.h"
#include "player/player_state.h"

#include <cstdint>

namespace {

constexpr int kMaxTurns = 2000;

HWND window() {
    static HWND handle = nullptr;
    if (handle == nullptr) {
        WNDCLASSEXA window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = DefWindowProcA;
        window_class.lpszClassName = "kmovFuzz";
        RegisterClassExA(&window_class);
        handle = CreateWindowExA(0, "kmovFuzz", "fuzz", WS_CAPTION, 0, 0, 640, 480, nullptr,
                                 nullptr, nullptr, nullptr);
    }
    return handle;
}

struct Input {
    const char *path;
    bool sound;
};

void play(void *context) {
    const Input &input = *static_cast<Input *>(context);
    headless_set_audio_device(input.sound);
    headless_set_time(0);
    if (!player_open(input.path, window(), -1, -1, WAVE_MAPPER, 0, nullptr))
        return;
    for (int round = 0; round < 2; round++) { // play, and replay after the end
        player_play();
        for (int turn = 0; turn < kMaxTurns && player_is_playing(); turn++) {
            if (static_cast<int32_t>(headless_time() - due_time) < 0)
                headless_set_time(due_time);
            pump_messages(0);
            headless_audio_complete(headless_audio_queued());
        }
        player_pause();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Frame sizes are capped by the decoder's own bounds; inputs larger
    // than a few megabytes only slow the search down.
    if (size > (8u << 20))
        return 0;
    Input input{kmov::fuzz::write_input(data, size), size > 0 && (data[size - 1] & 1)};
    kmov::fuzz::run_guarded(play, &input);
    return 0;
}
