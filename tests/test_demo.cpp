// The demo movie: its content, and the movie coded from it as the player
// plays it.
#include "demo.h"
#include "demo_movie.h"
#include "player_harness.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

// ---- The demo's content ---------------------------------------------------------------

using kmov::demo::FRAME_COUNT;
using kmov::demo::HEIGHT;
using kmov::demo::WIDTH;

uint8_t at(const std::vector<uint8_t> &frame, int x, int y) {
    return frame[static_cast<size_t>(y) * WIDTH + x];
}

TEST(Demo, FramesArePaletteIndicesAndMove) {
    std::vector<uint8_t> previous;
    for (int f = 0; f < FRAME_COUNT; f += 16) {
        std::vector<uint8_t> frame = kmov::demo::render_frame(f);
        ASSERT_EQ(frame.size(), static_cast<size_t>(WIDTH) * HEIGHT);
        std::set<uint8_t> used(frame.begin(), frame.end());
        EXPECT_LT(*used.rbegin(), 240) << "frame " << f;
        EXPECT_GT(used.size(), 150u) << "frame " << f; // a rich picture
        if (!previous.empty()) {
            EXPECT_NE(frame, previous);
        }
        previous = std::move(frame);
    }
    EXPECT_EQ(kmov::demo::render_frame(5), kmov::demo::render_frame(5));
    EXPECT_EQ(kmov::demo::palette()[0], (kmov::Rgb{0, 0, 0}));
}

// The moving parts move by exactly one pixel or one row a frame, so that
// the coder can copy them from the previous frame; the sky stays still.
TEST(Demo, PartsMoveByOnePixelOrOneRow) {
    std::vector<uint8_t> a = kmov::demo::render_frame(30);
    std::vector<uint8_t> b = kmov::demo::render_frame(31);
    struct Part {
        const char *name;
        int left, top, right, bottom; // where to look, in the later frame
        int dx, dy;                   // where its pixels were in the earlier frame
    } parts[] = {
        {"sky", 0, 0, 400, 3, 0, 0},
        {"ticker", 0, 334, 639, 358, 1, 0},
        {"tiles up-left", 224, 362, 321, 453, 1, 1},
        {"tiles up-right", 333, 362, 422, 453, -1, 1},
        {"credits", 432, 362, 630, 453, 0, 1},
    };
    for (const Part &p : parts) {
        int same = 0, total = 0;
        for (int y = p.top; y < p.bottom; y++)
            for (int x = p.left; x < p.right; x++, total++)
                same += at(b, x, y) == at(a, x + p.dx, y + p.dy);
        EXPECT_EQ(same, total) << p.name;
    }
    // The far mountains move left by one pixel, apart from where the ball
    // passes in front of them.
    int same = 0, total = 0;
    for (int y = 200; y < 250; y++)
        for (int x = 300; x < 639; x++, total++)
            same += at(b, x, y) == at(a, x + 1, y);
    EXPECT_GT(same, total * 99 / 100);
}

TEST(Demo, SoundLastsTheMovieAndHasSilenceForRuns) {
    std::vector<int16_t> sound = kmov::demo::synthesize_sound();
    ASSERT_EQ(sound.size(), static_cast<size_t>(kmov::demo::frame_sample(FRAME_COUNT)));
    EXPECT_EQ(sound.size(), 142590u); // 97 frames at 15 per second, 22050 Hz
    int peak = 0;
    for (int16_t s : sound)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_GT(peak, 8000);
    EXPECT_LE(peak, 24000);
    // The stretch before the tune and the end are exact silence.
    auto silent = [&](int64_t from, int64_t to) {
        for (int64_t i = from; i < to; i++)
            if (sound[static_cast<size_t>(i)] != 0)
                return false;
        return true;
    };
    EXPECT_TRUE(silent(22050 * 3 / 10, 22050 * 9 / 20));
    EXPECT_TRUE(
        silent(static_cast<int64_t>(sound.size()) - 22050 / 4, static_cast<int64_t>(sound.size())));
    // A thump at each bounce: loud right after the ball touches the ground.
    for (int f : kmov::demo::bounce_frames()) {
        int64_t start = kmov::demo::frame_sample(f);
        int loud = 0;
        for (int64_t i = start; i < start + 500 && i < static_cast<int64_t>(sound.size()); i++)
            loud = std::max(loud, std::abs(static_cast<int>(sound[static_cast<size_t>(i)])));
        if (start + 500 < static_cast<int64_t>(sound.size()) - 22050 / 2) {
            EXPECT_GT(loud, 4000) << "bounce at frame " << f;
        }
    }
}

// ---- The coded movie -------------------------------------------------------------------

// The movie the player's own code plays shows every frame as drawn, at 15
// frames per second, and plays the sound track the coder followed; the
// coder found a use for every kind of operation. (The first 16 frames: the
// whole movie codes the same way, but takes minutes under the sanitizers.)
TEST(DemoMovie, PlaysAsDrawnWithEveryKindOfOperation) {
    constexpr int FRAMES = 16;
    kmov::demo::DemoStats stats;
    kmov::Expected<kmov::MovieWriter> movie = kmov::demo::make_demo_movie(&stats, {}, FRAMES);
    ASSERT_TRUE(movie) << movie.error().message;
    const MovieHeader &header = movie->header();
    EXPECT_EQ(header.width, WIDTH);
    EXPECT_EQ(header.height, HEIGHT);
    EXPECT_EQ(header.frame_count, FRAMES);
    EXPECT_EQ(header.sample_rate, 22050);
    EXPECT_EQ(header.ldp, 4);
    for (int op = 240; op <= 255; op++)
        EXPECT_GT(stats.operations[static_cast<size_t>(op - 240)], 0u) << "operation " << op;
    EXPECT_GT(stats.literals, 0u);
    EXPECT_GT(stats.audio_snr, 15.0);

    kmov::test::TempFile file("demo.kmov");
    ASSERT_TRUE(movie->write(file.path()));
    int shown = 0;
    std::vector<uint32_t> times;
    size_t samples = 0;
    kmov::Expected<kmov::PlaybackResult> result = kmov::play_headless(
        file.path().string(), 0,
        [&](const kmov::PresentedFrame &frame) {
            std::vector<uint8_t> pixels(frame.pixels,
                                        frame.pixels + static_cast<size_t>(WIDTH) * HEIGHT);
            EXPECT_EQ(pixels, kmov::demo::render_frame(shown)) << "frame " << shown;
            times.push_back(frame.time_ms);
            shown++;
        },
        [&](const int16_t *, size_t count) { samples += count; });
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(shown, FRAMES);
    ASSERT_EQ(times.size(), static_cast<size_t>(FRAMES));
    EXPECT_EQ(times.back() - times.front(), 1000u); // 15 frame times at 15 per second
    EXPECT_EQ(samples, static_cast<size_t>(kmov::demo::frame_sample(FRAMES)));
}

} // namespace
