// A whole movie, hostile or not, through player_open and playback on the
// headless backend with the clock stepped to each due time: played to its
// end, then replayed (the rewind). Bits of the input's last byte choose
// whether a wave-out device is there and whether an error box is already up
// (then every failure path returns instead of ending the process, as it
// does while the first box is shown).
//
// Work per input is bounded: at most kMaxTurns records per playback, and
// inputs whose frame, frames, ring or sound pool would be large are left out
// (the table of hostile movies in tests/test_hostile.cpp covers those sizes).
#include "fuzz_support.h"
#include "player_harness.h"

#include "app/event_pump.h"
#include "app/fatal_error.h"
#include "headless.h"
#include "player/movie_format.h"
#include "player/player.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kMaxTurns = 2000;
// Frames and rings up to these sizes are played; sizes that cannot be had
// at all (the section or ring is refused before anything is allocated) are
// played too, since refusing them is cheap.
constexpr int64_t kMaxFrameBytes = 320 << 10; // 640 x 480 and a little more
constexpr int64_t kMaxRingBytes = 16 << 20;
// Every "vdat" decodes a whole frame: frame bytes times the frames the
// stream holds are kept below this.
constexpr int64_t kMaxDecodeBytes = 32 << 20;
constexpr int64_t kSectionLimit = 0x7FFFFFFF; // CreateDIBSection refuses more
constexpr int64_t kRingLimit = int64_t{1} << 30;
constexpr int64_t kMaxPoolBytes = 1 << 20;
constexpr int64_t kPoolLimit = int64_t{1} << 28; // the player refuses a larger sound pool

int32_t be32_at(const uint8_t *data, size_t size, size_t offset) {
    uint32_t word = 0;
    for (size_t i = offset; i < offset + 4; i++)
        word = (word << 8) | (i < size ? data[i] : 0xFF); // the byte source's filler
    return static_cast<int32_t>(word);
}

// The "vdat" records the player meets, reading the stream as it does: a
// header, then the payload if a decoder takes it (nothing else consumes
// payload bytes).
int64_t frames_in(const uint8_t *data, size_t size) {
    int64_t frames = 0;
    for (size_t at = 1024; at + 16 <= size;) {
        uint32_t tag = static_cast<uint32_t>(be32_at(data, size, at));
        int64_t length = be32_at(data, size, at + 8);
        at += 16;
        if (tag == TAG_VDAT)
            frames++;
        if ((tag == TAG_VDAT || tag == TAG_ADAT) && length > 0)
            at += static_cast<size_t>(std::min<int64_t>(length, static_cast<int64_t>(size)));
    }
    return frames;
}

bool worth_playing(const uint8_t *data, size_t size) {
    // In the order player_open meets them: the sound pool, the frame, the ring.
    int64_t spb = be32_at(data, size, 40), pairs = be32_at(data, size, 44);
    int64_t pool = spb < 0 || pairs < 0                     ? 0
                   : spb > kPoolLimit || pairs > kPoolLimit ? kPoolLimit + 1
                                                            : pairs * 2 * (spb * 2 + 64);
    if (be32_at(data, size, 32) != 0 && pool > kMaxPoolBytes && pool <= kPoolLimit)
        return false;
    int64_t w = be32_at(data, size, 16), h = be32_at(data, size, 20);
    int64_t frame = w > 0 && h > 0 ? ((w + 3) & ~int64_t{3}) * h : 0;
    if (frame > kSectionLimit)
        return true; // refused before the ring is made
    if (frame > kMaxFrameBytes || frame * frames_in(data, size) > kMaxDecodeBytes)
        return false;
    int64_t ring = be32_at(data, size, 8);
    return ring <= kMaxRingBytes || ring > kRingLimit;
}

struct Input {
    const char *path;
    bool sound;
    bool box_up;
};

void play(void *context) {
    const Input &input = *static_cast<Input *>(context);
    static HWND window = headless_make_window("fuzz");
    headless_set_audio_device(input.sound);
    headless_set_blit_limit(1);
    headless_set_time(0);
    if (input.box_up)
        fatal_error_shown = 1;
    if (!player_open(input.path, window, -1, -1, WAVE_MAPPER, 0, nullptr))
        return;
    for (int round = 0; round < 2; round++) {
        player_play();
        for (int turn = 0; turn < kMaxTurns && player_is_playing(); turn++)
            kmov::harness_play_turn();
        player_pause();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!worth_playing(data, size))
        return 0;
    uint8_t last = size > 0 ? data[size - 1] : 0;
    Input input{kmov::fuzz::write_input(data, size), (last & 1) != 0, (last & 6) == 6};
    kmov::fuzz::run_guarded(play, &input);
    return 0;
}
