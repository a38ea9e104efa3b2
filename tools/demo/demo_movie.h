// The demo movie: the demo's frames coded with the project's frame coder,
// its sound with the project's sound coder (ldp 4, 22050 Hz), laid out and
// sized as `kmov encode` lays out and sizes a movie.
#ifndef KMOV_TOOLS_DEMO_DEMO_MOVIE_H
#define KMOV_TOOLS_DEMO_DEMO_MOVIE_H

#include "cli.h"
#include "movie_writer.h"

#include <array>
#include <cstdint>
#include <functional>

namespace kmov::demo {

struct DemoStats {
    uint64_t video_bytes = 0; // "vdat" payloads
    double audio_snr = 0;     // dB, of what the player plays against the sound track
    // How many times each operation byte 240 to 255 was coded, and literals.
    std::array<uint64_t, 16> operations{};
    uint64_t literals = 0;
};

// Codes the whole demo. Every frame is checked by decoding it with the
// player's decoder; a frame that does not decode as coded is an error.
// `progress` (optional) is called after each frame with the frames done.
Expected<MovieWriter> make_demo_movie(DemoStats *stats = nullptr,
                                      const std::function<void(int done)> &progress = {});

} // namespace kmov::demo

#endif
