// The demo movie's content and its sound coder.
#include "audio_coder.h"
#include "demo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using kmov::demo::AudioBlock;
using kmov::demo::decode_audio_block;
using kmov::demo::encode_audio_block;
using testing::ElementsAreArray;

// ---- Sound coder -------------------------------------------------------------------

// The code's worked values: each payload decodes to these samples.
TEST(DemoAudioCoder, DecodesTheWorkedBlocks) {
    struct Case {
        int ldp;
        std::vector<uint8_t> payload;
        std::vector<int16_t> samples;
    } cases[] = {
        {4, {0x1F, 0x02}, {8, 0, 0, 0, 0}},
        {4, {0x77, 0x77}, {9986, 19972, 29958, -25592}}, // wraps, never clamps
        {4, {0x88}, {-32768, 0}},
        {6, {0x07, 0xF0, 0x02}, {1, 0, 0, 0, 0}},
    };
    for (const Case &c : cases)
        EXPECT_THAT(decode_audio_block(c.payload, static_cast<uint32_t>(c.samples.size()), c.ldp),
                    ElementsAreArray(c.samples))
            << "ldp " << c.ldp;
}

// What the coder says the player plays is what the codes decode to, and it
// follows the input closely, for both code widths.
TEST(DemoAudioCoder, BlocksDecodeToWhatTheCoderFollowed) {
    std::vector<int16_t> tone(3000);
    for (size_t i = 0; i < tone.size(); i++)
        tone[i] = static_cast<int16_t>(12000 * std::sin(i * 0.09) + 3000 * std::sin(i * 0.61));
    for (int ldp : {4, 6}) {
        AudioBlock block = encode_audio_block(tone, ldp);
        EXPECT_EQ(block.samples, tone.size());
        EXPECT_THAT(decode_audio_block(block.payload, block.samples, ldp),
                    ElementsAreArray(block.decoded));
        double signal = 0, noise = 0;
        for (size_t i = 0; i < tone.size(); i++) {
            signal += static_cast<double>(tone[i]) * tone[i];
            double e = static_cast<double>(tone[i]) - block.decoded[i];
            noise += e * e;
        }
        EXPECT_GT(10 * std::log10(signal / noise), ldp == 4 ? 20.0 : 30.0) << "ldp " << ldp;
        EXPECT_LE(block.payload.size(), (tone.size() * ldp + 7) / 8);
    }
}

// Silence is coded as runs: two codes for every 16 (ldp 4) or 64 (ldp 6)
// samples, and decoded exactly.
TEST(DemoAudioCoder, CodesSilenceAsRuns) {
    std::vector<int16_t> silence(640, 0);
    AudioBlock four = encode_audio_block(silence, 4);
    EXPECT_EQ(four.payload.size(), 640u / 16 * 2 * 4 / 8);
    EXPECT_THAT(decode_audio_block(four.payload, 640, 4), ElementsAreArray(silence));
    AudioBlock six = encode_audio_block(silence, 6);
    EXPECT_EQ(six.payload.size(), 640u / 64 * 2 * 6 / 8);
    EXPECT_THAT(decode_audio_block(six.payload, 640, 6), ElementsAreArray(silence));
}

TEST(DemoAudioCoder, RefusesWhatABlockCannotHold) {
    std::vector<int16_t> too_long(65536, 0);
    EXPECT_THROW(encode_audio_block(too_long, 4), std::invalid_argument);
    EXPECT_THROW(encode_audio_block(std::vector<int16_t>(4, 0), 5), std::invalid_argument);
    EXPECT_NO_THROW(encode_audio_block(std::vector<int16_t>(65535, 0), 4));
}

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

} // namespace
