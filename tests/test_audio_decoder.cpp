// Sound: opening the wave-out device and its buffer pool, decoding "adat"
// blocks into free buffers, the cases that skip a block, and the sizes
// that cannot be had.
#include "app/fatal_error.h"
#include "player/audio_decoder.h"
#include "player/movie_format.h"
#include "player/player_state.h"
#include "stream/prefetch_ring.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <climits>
#include <memory>

using kmov::test::TempFile;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;

namespace {

struct Block {
    Bytes payload;
    uint32_t param; // low 16 bits: samples
};

class Audio : public testing::Test {
  protected:
    void SetUp() override {
        headless_reset();
        fatal_error_shown = 0;
    }
    void TearDown() override {
        wave_output_close();
        ring_free();
        source_close(movie_source);
        movie_source = nullptr;
        fatal_error_shown = 0;
    }

    // Opens the device at 22050 samples per second.
    void open(int32_t bits_per_code, int32_t samples_per_buffer, int32_t buffer_pairs) {
        ASSERT_EQ(
            wave_output_open(WAVE_MAPPER, 22050, bits_per_code, samples_per_buffer, buffer_pairs),
            1);
    }

    // Executes the blocks as "adat" records of one stream, each followed by
    // a "vblt" header that the ring must stand at afterwards.
    void decode(const std::vector<Block> &blocks) {
        kmov::MovieWriter writer(kmov::make_header(4, 4), kmov::test::test_palette());
        for (const Block &block : blocks)
            writer.add(TAG_ADAT, 0, block.payload, block.param).add(TAG_VBLT, 0);
        Bytes movie = writer.bytes();
        source_close(movie_source);
        file_ = std::make_unique<TempFile>(
            "movie", Bytes(movie.begin() + MOVIE_RECORDS_OFFSET, movie.end()));
        movie_source = source_open(file_->c_str());
        ASSERT_EQ(ring_create(0), 1);
        for (size_t i = 0; i < blocks.size(); i++) {
            ASSERT_EQ(ring_read_be32(), TAG_ADAT);
            ring_read_be32();
            current_length = static_cast<int32_t>(ring_read_be32());
            current_param = ring_read_be32();
            decode_audio_block();
            EXPECT_EQ(current_length, 0);
            EXPECT_EQ(ring_read_be32(), TAG_VBLT) << "block " << i << " left the ring elsewhere";
            ring_skip(12);
        }
    }

    static std::vector<Samples> written() {
        std::vector<Samples> out;
        for (const HeadlessAudioEvent &event : headless_audio_events())
            if (event.kind == HeadlessAudioEvent::WRITE)
                out.push_back(event.samples);
        return out;
    }

    static std::vector<HeadlessAudioEvent::Kind> kinds() {
        std::vector<HeadlessAudioEvent::Kind> out;
        for (const HeadlessAudioEvent &event : headless_audio_events())
            out.push_back(event.kind);
        return out;
    }

    std::unique_ptr<TempFile> file_;
};

TEST_F(Audio, WorkedExamplesDecodeToTheirSamples) {
    const struct {
        int32_t bits;
        uint32_t n;
        Bytes payload;
        Samples samples;
    } cases[] = {
        {4, 5, {0x1F, 0x02}, {8, 0, 0, 0, 0}},              // codes 1 and 15, then a run of 3
        {4, 4, {0x77, 0x77}, {9986, 19972, 29958, -25592}}, // the sum wraps
        {4, 2, {0x88}, {-32768, 0}},
        {6, 5, {0x07, 0xF0, 0x02}, {1, 0, 0, 0, 0}}, // codes 1 and 63, then a run of 3
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ldp " << c.bits << " n " << c.n);
        headless_reset();
        open(c.bits, 100, 1);
        decode({{c.payload, 0xABCD0000u | c.n}}); // the param's high half is ignored
        EXPECT_THAT(written(), ElementsAre(c.samples));
        TearDown();
    }
}

TEST_F(Audio, OpenPreparesThePoolPausedAndCloseReleasesIt) {
    open(4, 1470, 3);
    EXPECT_NE(wave_out, nullptr);
    EXPECT_EQ(delta_table, delta_table_16);
    ASSERT_EQ(wave_header_count, 6);
    for (int i = 0; i < 6; i++) {
        EXPECT_NE(wave_headers[i].lpData, nullptr);
        EXPECT_EQ(wave_headers[i].dwBufferLength, 2940u);
        EXPECT_EQ(wave_headers[i].dwFlags, WHDR_PREPARED | WHDR_DONE);
    }
    EXPECT_THAT(kinds(), ElementsAre(HeadlessAudioEvent::OPEN, HeadlessAudioEvent::PAUSE));

    uint32_t before = headless_time();
    wave_output_close();
    EXPECT_EQ(headless_time() - before, 50u) << "no 50 ms wait after the reset";
    EXPECT_THAT(kinds(), ElementsAre(HeadlessAudioEvent::OPEN, HeadlessAudioEvent::PAUSE,
                                     HeadlessAudioEvent::RESET, HeadlessAudioEvent::CLOSE));
    EXPECT_EQ(wave_out, nullptr);
    EXPECT_EQ(wave_headers, nullptr);
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Audio, BuffersAreTakenLowestFreeFirstAndABlockWithoutOneIsDropped) {
    open(4, 16, 1);                                  // two buffers
    decode({{{0x11}, 2}, {{0x22}, 2}, {{0x33}, 2}}); // the third finds none free
    EXPECT_THAT(written(), ElementsAre(Samples{8, 16}, Samples{26, 52}));
    EXPECT_EQ(headless_audio_queued(), 2u);
    EXPECT_EQ(wave_headers[0].dwFlags & WHDR_DONE, 0u) << "a queued buffer is still marked done";

    headless_audio_complete(1); // the first buffer has played
    decode({{{0x44}, 2}});
    EXPECT_EQ(written().back(), (Samples{283, 566}));
    EXPECT_EQ(reinterpret_cast<int16_t *>(wave_headers[0].lpData)[1], 566);

    waveOutReset(wave_out); // a rewind: every buffer comes back free
    EXPECT_NE(wave_headers[0].dwFlags & WHDR_DONE, 0u);
    EXPECT_NE(wave_headers[1].dwFlags & WHDR_DONE, 0u);
}

TEST_F(Audio, AnEmptyBlockStillQueuesAnEmptyBuffer) {
    open(4, 16, 1);
    decode({{{0x11, 0x11, 0x11, 0x11, 0x11}, 0x10000}}); // n = 0: low half only
    EXPECT_THAT(written(), ElementsAre(Samples{}));
}

TEST_F(Audio, BlocksAreCutAtTheBufferEnd) {
    open(4, 3, 2);
    decode({
        {{0x11, 0x11, 0x11}, 10}, // 10 samples asked, 3 fit
        {{0x10, 0xF0}, 2},        // a run of 16 where 1 sample is left
    });
    EXPECT_THAT(written(), ElementsAre(Samples{8, 16, 24}, Samples{8, 8}));
    EXPECT_EQ(wave_headers[0].dwBufferLength, 6u);
}

TEST_F(Audio, CodesPastThePayloadReadAsZeros) {
    open(4, 100, 1);
    // Eight codes in the payload; each further zero byte is a run of one.
    decode({{{0x77, 0x77, 0x77, 0x77}, 12}});
    EXPECT_THAT(written(), ElementsAre(Samples{9986, 19972, 29958, -25592, -15606, -5620, 4366,
                                               14352, 14352, 14352, 14352, 14352}));
}

TEST_F(Audio, WithoutBuffersOrWithoutADeviceEveryPayloadIsSkipped) {
    open(4, 16, 0);
    EXPECT_EQ(wave_headers, nullptr);
    decode({{{1, 2, 3, 4, 5}, 4}});
    EXPECT_TRUE(written().empty());
    TearDown();

    headless_reset();
    headless_set_audio_device(0);
    open(5, 16, 1); // no device: ldp is not even looked at
    EXPECT_EQ(wave_out, nullptr);
    decode({{{1, 2, 3, 4, 5}, 4}});
    EXPECT_TRUE(headless_audio_events().empty());
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Audio, AnUnsupportedLdpIsReported) {
    EXPECT_EXIT(open(5, 16, 1), testing::ExitedWithCode(1),
                HasSubstr("MessageBoxA [Error] 0x00012010 ldp 5 not supported\n"));
}

TEST_F(Audio, AfterTheLdpMessageReturnsTheDeviceIsPausedAndBlocksAreSkipped) {
    fatal_error_shown = 1; // another box is up: the report returns
    open(5, 16, 1);
    EXPECT_EQ(delta_table, nullptr);
    decode({{{0x11}, 2}});
    EXPECT_THAT(kinds(), ElementsAre(HeadlessAudioEvent::OPEN, HeadlessAudioEvent::PAUSE));
}

TEST_F(Audio, PoolSizesThatCannotBeHadAreReported) {
    const struct {
        int32_t samples_per_buffer, buffer_pairs;
    } cases[] = {{-1, 1}, {INT_MIN, 1}, {INT_MAX, 1}, {16, -1}, {16, INT_MAX}, {1 << 20, 1 << 10}};
    for (const auto &c : cases)
        EXPECT_EXIT(open(4, c.samples_per_buffer, c.buffer_pairs), testing::ExitedWithCode(1),
                    HasSubstr("MessageBoxA [Error] 0x00012010 memory insufficient\n"))
            << c.samples_per_buffer << " x " << c.buffer_pairs;
}

TEST_F(Audio, TheDevicePlaysAtTheMovieSampleRate) {
    ASSERT_EQ(wave_output_open(WAVE_MAPPER, 1000, 4, 100, 1), 1);
    decode({{Bytes(50, 0x11), 100}});
    headless_set_audio_paced(1);
    headless_advance_time(500);
    EXPECT_EQ(headless_audio_queued(), 1u) << "played while paused";
    waveOutRestart(wave_out);
    headless_advance_time(99);
    EXPECT_EQ(headless_audio_queued(), 1u);
    headless_advance_time(1);
    EXPECT_EQ(headless_audio_queued(), 0u);
    EXPECT_NE(wave_headers[0].dwFlags & WHDR_DONE, 0u);
}

} // namespace
