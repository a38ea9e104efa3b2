// The player with the headless clock: opening, the tick's timing, the
// transport, the dispatch and the sound path, seen through captured
// presents and wave-out records.
#include "app/event_pump.h"
#include "player/audio_decoder.h"
#include "player/movie_format.h"
#include "player/player.h"
#include "player/player_state.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <cstring>

using kmov::MovieWriter;
using kmov::test::TempFile;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

constexpr int W = 3, H = 2; // odd width: row_stride 4, 2 bytes of padding per frame

std::vector<uint8_t> flat_frame(uint8_t value) {
    return std::vector<uint8_t>(W * H, value);
}

MovieHeader header(int32_t frames) {
    MovieHeader h = kmov::make_header(W, H);
    h.data_rate = 10000;
    h.ring_size = 2048;
    h.preload_size = 100;
    h.frame_count = frames;
    return h;
}

// Frames 1, 2, 3 (their pixel value), presented 0, 66 and 133 ms after the
// first, then the end record 66 ms later.
MovieWriter three_frames() {
    MovieWriter movie(header(3), kmov::test::test_palette());
    movie.frame(flat_frame(1), 0, 0).frame(flat_frame(2), 0, 66).frame(flat_frame(3), 0, 67);
    movie.end(66);
    return movie;
}

class Player : public testing::Test {
  protected:
    void SetUp() override {
        headless_reset();
        window = headless_make_window("test");
    }
    void TearDown() override {
        player_close();
        DestroyWindow(window);
    }
    void open(const MovieWriter &movie, int x = -1, int y = -1) {
        file.write(movie.bytes());
        ASSERT_EQ(player_open(file.c_str(), window, x, y, WAVE_MAPPER, 0, nullptr), 1);
    }
    // One pump turn: the tick runs once.
    void turn() { pump_messages(0); }
    // The value and time of every present so far.
    std::vector<std::pair<int, uint32_t>> presents() const {
        std::vector<std::pair<int, uint32_t>> out;
        for (const HeadlessBlit &blit : headless_blits())
            out.emplace_back(blit.pixels.at(0), blit.time);
        return out;
    }
    TempFile file{"movie.kmov"};
    HWND window = nullptr;
};

TEST_F(Player, OpenDecodesTheFirstFrameAndPreloads) {
    MovieWriter movie = three_frames();
    movie.header().ring_size = 5000;
    movie.header().preload_size = 2048;
    open(movie, 400, 300);
    EXPECT_EQ(is_open, 1);
    EXPECT_EQ(kmov_cmd, TAG_VBLT) << "the first vblt is pending";
    EXPECT_EQ(ring_capacity, 8192);
    EXPECT_EQ(ring_mask, 8191);
    EXPECT_EQ(preload_target, 4096);
    EXPECT_EQ(row_stride, 4);
    EXPECT_EQ(present_x, 400 - W / 2);
    EXPECT_EQ(present_y, 300 - H / 2);
    for (int row = 0; row < H; row++)
        for (int col = 0; col < W; col++)
            EXPECT_EQ(frame_bits[row * row_stride + col], 1);
    EXPECT_TRUE(headless_blits().empty()) << "nothing is presented before play";
    EXPECT_NE(player_get_bitmap(), nullptr);
}

TEST_F(Player, PresentPositionAndBitmapInfo) {
    MovieWriter movie(kmov::make_header(640, 480), kmov::test::test_palette());
    movie.header().ring_size = 1 << 20;
    movie.end().count_frames();
    file.write(movie.bytes());
    EXPECT_EQ(player_copy_bitmap_info(nullptr, 1064), 0) << "nothing open";
    ASSERT_EQ(player_open(file.c_str(), window, 400, 300, WAVE_MAPPER, 0, nullptr), 1);
    EXPECT_EQ(present_x, 80);
    EXPECT_EQ(present_y, 60);
    ASSERT_EQ(player_open(file.c_str(), window, -1, -1, WAVE_MAPPER, 0, nullptr), 1);
    EXPECT_EQ(present_x, 0);
    EXPECT_EQ(present_y, 0);

    std::vector<uint8_t> copy(1064, 0xEE);
    EXPECT_EQ(player_copy_bitmap_info(nullptr, 1064), 1000);
    EXPECT_EQ(player_copy_bitmap_info(copy.data(), 1064), 1000);
    EXPECT_EQ(copy[1000], 0xEE) << "only 1000 bytes are copied";
    BITMAPINFOHEADER info;
    std::memcpy(&info, copy.data(), sizeof info);
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biWidth, 640);
    EXPECT_EQ(info.biHeight, -480);
    EXPECT_EQ(info.biBitCount, 8);
    EXPECT_EQ(info.biClrUsed, 240u);
    RGBQUAD colour;
    std::memcpy(&colour, copy.data() + 40 + 4 * 7, 4);
    EXPECT_EQ(colour.rgbRed, 7);
    EXPECT_EQ(colour.rgbGreen, 248);
    EXPECT_EQ(colour.rgbBlue, 49);
    EXPECT_EQ(player_copy_bitmap_info(copy.data(), 10), 10);

    player_close();
    EXPECT_EQ(player_get_bitmap(), nullptr);
    EXPECT_EQ(player_copy_bitmap_info(copy.data(), 1064), 0);
}

TEST_F(Player, RecordsRunOnTheirAccumulatedDueTimes) {
    open(three_frames());
    headless_set_time(1000);
    ASSERT_EQ(player_play(), 1);
    turn(); // the pending first vblt is due at once
    turn(); // the second vdat (delay 0) runs at the next turn
    EXPECT_THAT(presents(), ElementsAre(std::pair{1, 1000u}));
    EXPECT_EQ(frame_bits[0], 2) << "decoded, not yet presented";
    headless_set_time(1065);
    turn();
    EXPECT_EQ(presents().size(), 1u) << "not due before 1066";
    // Far behind: the due records follow one per turn, none dropped, and
    // the lateness does not add up.
    headless_set_time(1500);
    for (int i = 0; i < 3; i++)
        turn();
    EXPECT_THAT(presents(),
                ElementsAre(std::pair{1, 1000u}, std::pair{2, 1500u}, std::pair{3, 1500u}));
    EXPECT_EQ(due_time, 1000u + 66 + 67 + 66) << "the end record's due time";
    EXPECT_EQ(kmov_cmd, TAG_END);
    EXPECT_TRUE(player_is_playing());
    turn(); // the end record stops the tick before its delay has passed
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(frame_position, 3);
}

TEST_F(Player, APauseKeepsThePendingRecordAndPlayRunsItAtOnce) {
    open(three_frames());
    ASSERT_EQ(player_play(), 1);
    turn();
    turn();
    headless_set_time(60);
    EXPECT_EQ(player_pause(), 1);
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(kmov_cmd, TAG_VBLT);
    headless_set_time(5000);
    turn();
    EXPECT_EQ(presents().size(), 1u) << "paused";
    ASSERT_EQ(player_play(), 1);
    turn();
    turn(); // frame 3 decoded; its vblt is due 67 ms after the resume
    headless_set_time(5066);
    turn();
    EXPECT_EQ(presents().size(), 2u);
    headless_set_time(5067);
    turn();
    EXPECT_THAT(presents(), ElementsAre(std::pair{1, 0u}, std::pair{2, 5000u}, std::pair{3, 5067u}))
        << "timed from the moment of the resume";
}

TEST_F(Player, PlayAfterTheEndRewindsAndShowsTheSameFrames) {
    open(three_frames());
    player_play();
    for (int i = 0; i < 20; i++) {
        headless_advance_time(70);
        turn();
    }
    ASSERT_FALSE(player_is_playing());
    std::vector<std::pair<int, uint32_t>> first = presents();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(frame_position, frame_count);
    ASSERT_EQ(player_play(), 1) << "rewinds";
    EXPECT_EQ(frame_position, 0);
    EXPECT_EQ(frame_bits[0], 1) << "the records before the first vblt ran again";
    for (int i = 0; i < 20; i++) {
        headless_advance_time(70);
        turn();
    }
    std::vector<std::pair<int, uint32_t>> all = presents();
    ASSERT_EQ(all.size(), 6u);
    for (size_t i = 0; i < 3; i++)
        EXPECT_EQ(all[i + 3].first, all[i].first);
}

TEST_F(Player, TransportEdgeCases) {
    EXPECT_EQ(player_play(), 0) << "nothing open";
    EXPECT_EQ(player_pause(), 1) << "nothing playing";
    open(three_frames());
    EXPECT_EQ(player_pause(), 1);
    ASSERT_EQ(player_play(), 1);
    EXPECT_EQ(player_play(), 0) << "already playing";
    stop_requested = 1;
    EXPECT_EQ(player_play(), 0) << "stopping";
    turn();
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(player_play(), 1) << "a stop left from before does not stop a new playback";
    turn();
    EXPECT_TRUE(player_is_playing());

    // frame_count 0: every play rewinds, a resume too.
    MovieWriter zero = three_frames();
    zero.header().frame_count = 0;
    open(zero);
    player_play();
    turn();
    turn(); // frame 2 decoded
    player_pause();
    EXPECT_EQ(frame_bits[0], 2);
    player_play();
    EXPECT_EQ(frame_bits[0], 1) << "rewound";
}

TEST_F(Player, OpeningAgainClosesThePlayingMovie) {
    open(three_frames());
    player_play();
    turn();
    MovieWriter other(header(1), kmov::test::test_palette());
    other.frame(flat_frame(9), 0, 0).end();
    TempFile second("second.kmov", other.bytes());
    ASSERT_EQ(player_open(second.c_str(), window, -1, -1, WAVE_MAPPER, 0, nullptr), 1);
    EXPECT_FALSE(player_is_playing());
    EXPECT_EQ(frame_bits[0], 9);
    // The tick was removed: the table holds no stale copy.
    for (const EventSlot &slot : EventTable)
        EXPECT_NE(slot.callback, player_tick);
}

TEST_F(Player, MoviesCutShortOrWithoutFramesEndCleanly) {
    std::vector<uint8_t> whole = three_frames().bytes();
    struct Case {
        const char *what;
        size_t keep;
    };
    const Case cases[] = {
        {"cut inside the first payload", 1024 + 16 + 3},
        {"cut inside a record header", 1024 + 16 + 8 + 16 + 16 + 5},
        {"cut before the first vblt", 1024 + 16 + 8},
        {"nothing after the palette", 1024},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<long>(c.keep));
        file.write(bytes);
        ASSERT_EQ(player_open(file.c_str(), window, -1, -1, WAVE_MAPPER, 0, nullptr), 1);
        player_play();
        for (int i = 0; i < 50 && player_is_playing(); i++) {
            headless_advance_time(100);
            turn();
        }
        EXPECT_FALSE(player_is_playing());
        EXPECT_GE(current_length, 0);
        EXPECT_EQ(player_play(), 1) << "replays";
        for (int i = 0; i < 50 && player_is_playing(); i++) {
            headless_advance_time(100);
            turn();
        }
        EXPECT_FALSE(player_is_playing());
    }
    MovieWriter frameless(header(0), kmov::test::test_palette());
    frameless.end();
    open(frameless);
    EXPECT_EQ(kmov_cmd, TAG_END);
    player_play();
    turn();
    EXPECT_FALSE(player_is_playing());
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Player, AZeroTagIsSkippedDuringPlayback) {
    MovieWriter movie(header(2), kmov::test::test_palette());
    movie.frame(flat_frame(1), 0, 0).add(0, 10).frame(flat_frame(2), 0, 10).end(10);
    open(movie);
    player_play();
    for (int i = 0; i < 10; i++) {
        headless_advance_time(10);
        turn();
    }
    EXPECT_EQ(presents().size(), 2u);
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST_F(Player, UnknownTagsAreReported) {
    MovieWriter abcd(header(1), kmov::test::test_palette());
    abcd.frame(flat_frame(1), 0, 0).add(MOVIE_TAG('a', 'b', 'c', 'd'), 0).end();
    file.write(abcd.bytes());
    EXPECT_EXIT(
        {
            player_open(file.c_str(), window, -1, -1, WAVE_MAPPER, 0, nullptr);
            player_play();
            for (int i = 0; i < 5; i++)
                pump_messages(0);
        },
        testing::ExitedWithCode(1),
        HasSubstr("MessageBoxA [Error] 0x00012010 kmov_cmd = 0x61626364\n"));

    MovieWriter zero(header(1), kmov::test::test_palette());
    zero.add(0, 0).frame(flat_frame(1), 0, 0).end();
    TempFile zero_file("zero.kmov", zero.bytes());
    EXPECT_EXIT(player_open(zero_file.c_str(), window, -1, -1, WAVE_MAPPER, 0, nullptr),
                testing::ExitedWithCode(1), HasSubstr("kmov_cmd = 0x0\n"));

    TempFile not_movie("x", kmov::test::counting_bytes(2000));
    EXPECT_EXIT(player_open(not_movie.c_str(), window, -1, -1, WAVE_MAPPER, 0, nullptr),
                testing::ExitedWithCode(1),
                HasSubstr(not_movie.path().string() + ": not a kmov file\n"));
}

// A movie with sound: two lead-in blocks before the first frame, "asta"
// after it, and a block per frame.
MovieWriter with_sound() {
    MovieHeader h = header(2);
    h.sample_rate = 22050;
    h.ldp = 4;
    h.samples_per_buffer = 8;
    h.buffer_pairs = 2;
    MovieWriter movie(h, kmov::test::test_palette());
    std::vector<uint8_t> block{0x11, 0x11}; // code 1 four times: 8, 16, 24, 32
    movie.add(TAG_ADAT, 0, block, 4).add(TAG_ADAT, 0, block, 4);
    movie.frame(flat_frame(1), 0, 0).add(TAG_ASTA, 0).add(TAG_ADAT, 0, block, 4);
    movie.frame(flat_frame(2), 0, 66).end(66);
    return movie;
}

std::vector<HeadlessAudioEvent::Kind> audio_kinds(size_t from = 0) {
    std::vector<HeadlessAudioEvent::Kind> kinds;
    const auto &events = headless_audio_events();
    for (size_t i = from; i < events.size(); i++)
        kinds.push_back(events[i].kind);
    return kinds;
}

TEST_F(Player, SoundLeadInAstaPauseAndRewind) {
    using K = HeadlessAudioEvent;
    open(with_sound());
    EXPECT_THAT(audio_kinds(), ElementsAre(K::OPEN, K::PAUSE, K::WRITE, K::WRITE))
        << "the lead-in is queued on the paused device";
    EXPECT_THAT(headless_audio_events()[2].samples, ElementsAre(8, 16, 24, 32));
    player_play();
    turn(); // first vblt
    turn(); // asta
    EXPECT_EQ(audio_running, 1);
    turn(); // adat
    EXPECT_THAT(audio_kinds(4), ElementsAre(K::RESTART, K::WRITE));
    player_pause();
    player_play();
    EXPECT_THAT(audio_kinds(6), ElementsAre(K::PAUSE, K::RESTART));
    for (int i = 0; i < 10; i++) {
        headless_advance_time(70);
        turn();
    }
    ASSERT_FALSE(player_is_playing());
    size_t before = headless_audio_events().size();
    player_play(); // rewinds: reset, pause, the lead-in again
    EXPECT_THAT(audio_kinds(before), ElementsAre(K::RESET, K::PAUSE, K::WRITE, K::WRITE));
    EXPECT_EQ(audio_running, 0) << "restarted only by the next asta";
    player_close();
    EXPECT_EQ(audio_running, 0);
    EXPECT_EQ(wave_out, nullptr);
}

// Sound at 8000 samples a second in blocks of 20 ms (160 samples), block k
// beginning with delta_table_16[k % 15 + 1] so each can be told apart; the
// lead-in blocks come before the first frame, "asta" right after it, and
// one block behind each frame, so the sound is `lead_in` blocks ahead of
// the frames shown every 20 ms.
constexpr int SYNC_FRAMES = 10, BLOCK_SAMPLES = 160;

MovieWriter sound_every_frame(int lead_in, int32_t buffer_pairs) {
    MovieHeader h = header(SYNC_FRAMES);
    h.sample_rate = 8000;
    h.ldp = 4;
    h.samples_per_buffer = BLOCK_SAMPLES;
    h.buffer_pairs = buffer_pairs;
    h.ring_size = 8192;
    MovieWriter movie(h, kmov::test::test_palette());
    int next_block = 0;
    auto block = [&]() {
        uint8_t code = static_cast<uint8_t>(next_block++ % 15 + 1);
        std::vector<uint8_t> bytes(BLOCK_SAMPLES / 2, static_cast<uint8_t>(code << 4 | code));
        movie.add(TAG_ADAT, 0, bytes, BLOCK_SAMPLES);
    };
    for (int i = 0; i < lead_in; i++)
        block();
    for (int f = 0; f < SYNC_FRAMES; f++) {
        movie.frame(flat_frame(static_cast<uint8_t>(f + 1)), 0, f == 0 ? 0 : 20);
        if (f == 0)
            movie.add(TAG_ASTA, 0);
        block();
    }
    movie.end(20);
    return movie;
}

// The device position (samples) at each present.
std::vector<uint32_t> positions_at_presents;
void note_position(const HeadlessBlit &) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    waveOutGetPosition(wave_out, &time, sizeof time);
    positions_at_presents.push_back(time.u.sample);
}

// Ends the wait for input of the turn in which playback ends.
HWND waiting_window;
void wake_with_a_message() {
    PostMessageA(waiting_window, WM_USER, 0, 0);
}

// Plays as the program does, turning the pump with waiting allowed; the
// headless clock moves only while the pump waits (or a block waits for a
// buffer), so a pump that spun would never see the movie end.
TEST_F(Player, PicturesFollowADeviceThatStartsLateAndNoBlockIsLost) {
    struct Case {
        const char *name;
        uint32_t start_delay; // ms the device takes to begin after "asta"
        int lead_in, buffer_pairs;
        uint32_t shift; // how much later than scheduled frames 1 on are shown
    };
    const Case cases[] = {
        {"a device that keeps up: the schedule as it stands", 0, 2, 2, 0},
        {"half a second late: the frames wait for it", 500, 2, 2, 500},
        {"late, and the lead-in fills the pool: blocks wait for buffers", 500, 2, 1, 500},
        {"a second and a half late, blocks waiting all along", 1500, 2, 1, 1500},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        headless_set_audio_paced(1);
        headless_set_audio_start_delay(c.start_delay);
        positions_at_presents.clear();
        headless_set_blit_hook(note_position);
        waiting_window = window;
        headless_set_wait_hook(wake_with_a_message);
        open(sound_every_frame(c.lead_in, c.buffer_pairs));
        player_play();
        EXPECT_EQ(headless_timer_period(), 1u) << "the millisecond timer while playing";
        for (int turns = 0; player_is_playing() && turns < 1000; turns++)
            pump_messages(1);
        ASSERT_FALSE(player_is_playing()) << "the movie did not end";
        EXPECT_EQ(headless_timer_period(), 0u) << "ended with the playback";

        std::vector<std::pair<int, uint32_t>> shown = presents();
        ASSERT_EQ(shown.size(), static_cast<size_t>(SYNC_FRAMES));
        for (int f = 1; f < SYNC_FRAMES; f++) {
            EXPECT_EQ(shown[static_cast<size_t>(f)].first, f + 1);
            EXPECT_EQ(shown[static_cast<size_t>(f)].second, 20u * f + c.shift) << "frame " << f;
            // What the device has played when the frame is shown: the sound
            // of its 20 ms, to the millisecond (8 samples).
            EXPECT_NEAR(positions_at_presents[static_cast<size_t>(f)], BLOCK_SAMPLES * f, 8)
                << "frame " << f;
        }
        // Every block written, in order, whole.
        std::vector<int> blocks;
        for (const HeadlessAudioEvent &event : headless_audio_events())
            if (event.kind == HeadlessAudioEvent::WRITE) {
                ASSERT_EQ(event.samples.size(), static_cast<size_t>(BLOCK_SAMPLES));
                blocks.push_back(event.samples[0]);
            }
        ASSERT_EQ(blocks.size(), static_cast<size_t>(c.lead_in + SYNC_FRAMES));
        for (size_t k = 0; k < blocks.size(); k++)
            EXPECT_EQ(blocks[k], delta_table_16[k % 15 + 1]) << "block " << k;
        headless_set_blit_hook(nullptr);
    }
}

// With a second of sound queued, a device that falls behind holds the
// pictures: they are never more than 40 ms ahead of what it has played, and
// end as late as the device. One whose position only stood a while, and
// then caught up, gets its pictures back on time. Every block is written
// once, in order. (With a short lead the device must get its blocks, so the
// pictures are not held for it: the cases above, which end on time.)
TEST_F(Player, PicturesKeepToADeviceThatFallsBehind) {
    constexpr int lead_in = 50; // a second of 20 ms blocks, all of it queued
    struct Case {
        const char *name;
        uint32_t at, ms; // the device stops (or its position stands) for ms after at
        int plays_on;
        uint32_t last_shown; // the last frame's present, at the latest
        bool in_step;        // every frame within 40 ms of the sound played
    };
    const Case cases[] = {
        {"stops 200 ms after 100 ms: the pictures wait", 100, 200, 0, 380, true},
        {"its position stands 100 ms after 20 ms, then catches up", 20, 100, 1, 180 + 40, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        headless_set_audio_paced(1);
        headless_set_audio_hiccup(c.at, c.ms, c.plays_on);
        positions_at_presents.clear();
        headless_set_blit_hook(note_position);
        waiting_window = window;
        headless_set_wait_hook(wake_with_a_message);
        open(sound_every_frame(lead_in, lead_in));
        player_play();
        for (int turns = 0; player_is_playing() && turns < 1000; turns++)
            pump_messages(1);
        headless_set_blit_hook(nullptr);
        ASSERT_FALSE(player_is_playing()) << "the movie did not end";

        std::vector<std::pair<int, uint32_t>> shown = presents();
        ASSERT_EQ(shown.size(), static_cast<size_t>(SYNC_FRAMES));
        for (int f = 1; f < SYNC_FRAMES; f++) {
            EXPECT_EQ(shown[static_cast<size_t>(f)].first, f + 1);
            EXPECT_GE(shown[static_cast<size_t>(f)].second, 20u * f) << "frame " << f;
            // The frame's time less the sound played, in samples of 8000 Hz.
            const int ahead = BLOCK_SAMPLES * f - static_cast<int>(positions_at_presents[f]);
            if (c.in_step) {
                EXPECT_LE(ahead, 40 * 8) << "frame " << f;
                EXPECT_GE(ahead, -8) << "frame " << f;
            }
        }
        EXPECT_LE(shown.back().second, c.last_shown);
        EXPECT_GE(shown.back().second, c.last_shown - 40);
        std::vector<int> blocks;
        for (const HeadlessAudioEvent &event : headless_audio_events())
            if (event.kind == HeadlessAudioEvent::WRITE)
                blocks.push_back(event.samples[0]);
        ASSERT_EQ(blocks.size(), static_cast<size_t>(lead_in + SYNC_FRAMES));
        for (size_t k = 0; k < blocks.size(); k++)
            EXPECT_EQ(blocks[k], delta_table_16[k % 15 + 1]) << "block " << k;
    }
}

// A device that never plays: after 3 s the frames go on by the clock (the
// blocks that find no buffer are skipped), and the movie ends.
TEST_F(Player, ADeviceThatNeverPlaysHoldsThePicturesOnlyForAWhile) {
    headless_set_audio_paced(1);
    headless_set_audio_start_delay(1000000);
    waiting_window = window;
    headless_set_wait_hook(wake_with_a_message);
    open(sound_every_frame(2, 2));
    player_play();
    for (int turns = 0; player_is_playing() && turns < 3000; turns++)
        pump_messages(1);
    ASSERT_FALSE(player_is_playing());
    std::vector<std::pair<int, uint32_t>> shown = presents();
    ASSERT_EQ(shown.size(), static_cast<size_t>(SYNC_FRAMES));
    EXPECT_GE(shown[1].second, 3000u);
    EXPECT_LE(shown.back().second, 3000u + 10 * 20 + 3000u);
}

TEST_F(Player, NoDeviceLeavesTheMovieSilent) {
    headless_set_audio_device(0);
    MovieWriter movie = with_sound();
    movie.header().ldp = 5; // unsupported, but never looked at without a device
    open(movie);
    EXPECT_EQ(wave_out, nullptr);
    player_play();
    for (int i = 0; i < 10; i++) {
        headless_advance_time(70);
        turn();
    }
    EXPECT_EQ(presents().size(), 2u);
    EXPECT_EQ(audio_running, 0);
    EXPECT_TRUE(headless_message_boxes().empty());
}

} // namespace
