// The demo movie's content, made by kmov's own code: a 640 x 480 scene of
// 97 frames at 15 frames per second on one 240-colour palette, and a sound
// track of 16-bit mono samples at 22050 Hz.
//
// The scene is laid out so that a frame coder finds every kind of code:
//   - a still sky, sun and frame border (skips), with twinkling stars
//     (single literals inside long skips);
//   - flat colour: sky bands, hill bodies, a status bar whose colour
//     changes and a growing progress bar (fills, and copies from the row
//     above for rows that repeat);
//   - far mountains and a text ticker that move left by one pixel a frame
//     (copies from the pixel to the right);
//   - a credits column that moves up by one row a frame (copies from the
//     row below), and two tiled panels that move diagonally, up and left
//     and up and right by one pixel and one row (copies from below right
//     and below left); their diagonal stripes repeat the row above shifted
//     by one (copies from above left and above right);
//   - a plasma panel and a shaded bouncing ball (literals).
// The sound is a short tune with a bass line, a thump each time the ball
// touches the ground, and exact silence at the start and the end (runs).
//
// Everything is deterministic: the same build makes the same movie.
#ifndef KMOV_TOOLS_DEMO_DEMO_H
#define KMOV_TOOLS_DEMO_DEMO_H

#include "movie_writer.h"

#include <cstdint>
#include <vector>

namespace kmov::demo {

constexpr int32_t WIDTH = 640;
constexpr int32_t HEIGHT = 480;
constexpr int32_t FRAME_COUNT = 97;
constexpr int32_t FRAME_RATE = 15000; // thousandths of a frame per second
constexpr int32_t SAMPLE_RATE = 22050;
constexpr int32_t LDP = 4; // bits per audio code the demo is meant to be coded with

// The demo's palette: 240 colours, entry 0 black.
Palette palette();

// Frame `index` (0 to FRAME_COUNT - 1): WIDTH * HEIGHT palette indices
// (0 to 239), top row first, rows without padding.
std::vector<uint8_t> render_frame(int index);

// The whole sound track: the samples that play from the first frame on,
// as long as the movie (FRAME_COUNT frames at the frame rate).
std::vector<int16_t> synthesize_sound();

// The sample at which frame `index` is shown, with the sound started at
// the first frame.
inline int64_t frame_sample(int index) {
    return static_cast<int64_t>(index) * SAMPLE_RATE * 1000 / FRAME_RATE;
}

// The frames at which the ball touches the ground (the sound thumps there).
std::vector<int> bounce_frames();

} // namespace kmov::demo

#endif
