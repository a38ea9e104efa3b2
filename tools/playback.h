// Runs the player's own code over a movie on the headless backend, with the
// clock stepped to each due time, so that what comes out is exactly what
// the player presents and plays.
#ifndef KMOV_TOOLS_PLAYBACK_H
#define KMOV_TOOLS_PLAYBACK_H

#include "cli.h"
#include "movie_input.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kmov {

struct PresentedFrame {
    uint32_t time_ms; // headless clock when it was presented (0 = first frame)
    int width, height;
    const uint8_t *pixels; // width * height palette indices, rows without padding
    const std::array<Rgb, 256> *colours;
};

struct PlaybackLimits {
    uint64_t max_records = 10'000'000; // ends a playback that would not end
};

struct PlaybackResult {
    uint64_t frames = 0;
    uint64_t audio_blocks = 0;
    uint32_t duration_ms = 0; // clock at the end
};

// Opens the movie with player_open, plays it to its end and calls
// `on_frame` for every present and `on_audio` for every queued sound block,
// in order. Every wave buffer is completed as soon as it is queued, so no
// block is dropped for want of a free buffer. The player's own failures
// end the process with its message (see report_player_errors).
Expected<PlaybackResult> play_headless(const MovieLocation &location,
                                       const std::function<void(const PresentedFrame &)> &on_frame,
                                       const std::function<void(const int16_t *, size_t)> &on_audio,
                                       const PlaybackLimits &limits = {});

} // namespace kmov

#endif
