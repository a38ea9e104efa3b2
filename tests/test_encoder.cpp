// The encoder end to end: real encodes of generated images and sound read
// back through the player's decoders, the sound search against the greedy
// choice, the header sizing against the ring simulation, and bad inputs.
#include "encode/audio_coder.h"
#include "encode/assemble.h"
#include "encode/encoder.h"
#include "encode/frame_coder.h"
#include "encode/metrics.h"
#include "encode/stream_plan.h"
#include "packer.h"
#include "player_harness.h"
#include "web_page.h"
#include "player/audio_decoder.h"
#include "player/movie_format.h"
#include "player/player_state.h"
#include "player/video_decoder.h"
#include "stream/prefetch_ring.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>

namespace kmov {
namespace {

using test::TempFile;
using testing::HasSubstr;
namespace fs = std::filesystem;

// A binary PPM picture that FFmpeg reads like any other image file.
void write_ppm(const fs::path &path, int w, int h, const std::vector<Rgb> &pixels) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    for (const Rgb &p : pixels)
        out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
}

// Frame f of a small animation in few colours: bars and a moving block.
std::vector<Rgb> picture(int w, int h, int f) {
    std::vector<Rgb> out;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            Rgb c{static_cast<uint8_t>(40 * (x / 4 % 5)), static_cast<uint8_t>(60 * (y / 3 % 4)),
                  90};
            if (x >= 2 * f && x < 2 * f + 6 && y >= 2 && y < 8)
                c = {250, 20, 20};
            out.push_back(c);
        }
    return out;
}

void write_wav(const fs::path &path, int rate, const std::vector<int16_t> &samples) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char *>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(samples.size() * 2);
    out.write("RIFF", 4), u32(36 + bytes), out.write("WAVEfmt ", 8), u32(16), u16(1), u16(1);
    u32(static_cast<uint32_t>(rate)), u32(static_cast<uint32_t>(rate * 2)), u16(2), u16(16);
    out.write("data", 4), u32(bytes);
    out.write(reinterpret_cast<const char *>(samples.data()), bytes);
}

// What the player makes of a movie's records: every frame it shows, decoded
// by its video decoder, every block by its sound decoder, taken from its
// ring.
struct Played {
    std::vector<std::vector<uint8_t>> frames; // shown by each "vblt", without padding
    std::vector<int16_t> samples;
    std::vector<uint32_t> tags;
};

Played play(const fs::path &path, const MovieHeader &h) {
    Played out;
    headless_reset();
    movie_source = source_open(path.c_str());
    source_seek(movie_source, MOVIE_RECORDS_OFFSET);
    EXPECT_EQ(ring_create(h.ring_size), 1);
    if (h.sample_rate != 0)
        wave_output_open(WAVE_MAPPER, h.sample_rate, h.ldp, h.samples_per_buffer, h.buffer_pairs);
    const int32_t stride = (h.width + 3) & ~3;
    std::vector<uint8_t> buffer(static_cast<size_t>(stride * h.height), 0x5A);
    for (;;) {
        kmov_cmd = ring_read_be32();
        current_delay = ring_read_be32();
        current_length = static_cast<int32_t>(ring_read_be32());
        current_param = ring_read_be32();
        out.tags.push_back(kmov_cmd);
        if (kmov_cmd == TAG_END)
            break;
        if (kmov_cmd == TAG_VDAT) {
            frame_bits = buffer.data();
            width = h.width, height = h.height, row_stride = stride;
            decode_video_frame();
        } else if (kmov_cmd == TAG_VBLT) {
            std::vector<uint8_t> pixels;
            for (int y = 0; y < h.height; y++)
                pixels.insert(pixels.end(), buffer.begin() + y * stride,
                              buffer.begin() + y * stride + h.width);
            out.frames.push_back(std::move(pixels));
        } else if (kmov_cmd == TAG_ADAT) {
            decode_audio_block();
            headless_audio_complete(SIZE_MAX); // played at once: the buffer is free again
        } else {
            while (current_length > 0)
                ring_read_byte(), current_length--;
        }
    }
    for (const HeadlessAudioEvent &event : headless_audio_events())
        if (event.kind == HeadlessAudioEvent::WRITE)
            out.samples.insert(out.samples.end(), event.samples.begin(), event.samples.end());
    frame_bits = nullptr;
    wave_output_close();
    ring_free();
    source_close(movie_source);
    movie_source = nullptr;
    return out;
}

// Random bytes, the size of a small video file.
void write_junk(const fs::path &path) {
    std::mt19937 random(8);
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 5000; i++)
        out.put(static_cast<char>(random()));
}

class Encode : public testing::Test {
  protected:
    fs::path folder_ = fs::temp_directory_path() / ("kmov-encode-" + std::to_string(getpid()));
    void SetUp() override { fs::create_directories(folder_); }
    void TearDown() override { fs::remove_all(folder_); }

    // The names of the files in the folder (not below it).
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto &entry : fs::directory_iterator(folder_))
            out.insert(entry.path().filename().string());
        return out;
    }

    // Writes `frames` pictures as frame00.ppm, frame01.ppm, ...
    std::vector<std::string> pictures(int w, int h, int frames) {
        std::vector<std::string> paths;
        for (int f = 0; f < frames; f++) {
            char name[32];
            std::snprintf(name, sizeof name, "frame%02d.ppm", f);
            write_ppm(folder_ / name, w, h, picture(w, h, f));
            paths.push_back((folder_ / name).string());
        }
        return paths;
    }
};

TEST_F(Encode, FewColourPicturesComeBackExactlyThroughThePlayersDecoders) {
    const int w = 37, h = 11, n = 6; // an odd width: padding in every row
    std::vector<int16_t> tone;
    for (int i = 0; i < 22050 * n / 15; i++)
        tone.push_back(static_cast<int16_t>(8000 * std::sin(i * 0.05)));
    write_wav(folder_ / "tone.wav", 22050, tone);
    for (const bool pattern : {true, false}) {
        EncodeOptions options;
        options.inputs = pattern ? std::vector<std::string>{(folder_ / "frame%02d.ppm").string()}
                                 : pictures(w, h, n);
        pictures(w, h, n);
        options.audio_file = (folder_ / "tone.wav").string();
        auto encoded = encode_movie(options);
        ASSERT_TRUE(encoded) << encoded.error().message;
        const fs::path out = folder_ / "movie.kmov";
        ASSERT_TRUE(encoded->movie.write(out));
        const MovieHeader &header = encoded->movie.header();
        EXPECT_EQ(header.width, w);
        EXPECT_EQ(header.frame_count, n);
        EXPECT_EQ(encoded->stats.psnr, std::numeric_limits<double>::infinity());

        Played played = play(out, header);
        ASSERT_EQ(played.frames.size(), static_cast<size_t>(n));
        const Palette &palette = encoded->movie.palette();
        for (int f = 0; f < n; f++) {
            std::vector<Rgb> shown;
            for (uint8_t index : played.frames[static_cast<size_t>(f)])
                shown.push_back(palette[index]);
            ASSERT_EQ(shown, picture(w, h, f)) << "frame " << f;
        }
        // The sound: "asta" right behind the first "vblt", lead-in blocks in
        // front of the first frame, and every sample the coder meant.
        auto first_vblt = std::find(played.tags.begin(), played.tags.end(), TAG_VBLT);
        ASSERT_NE(first_vblt + 1, played.tags.end());
        EXPECT_EQ(first_vblt[1], TAG_ASTA);
        EXPECT_EQ(played.tags[0], TAG_ADAT);
        ASSERT_EQ(played.samples.size(), tone.size());
        EXPECT_GT(audio_snr(tone, played.samples), 20);
        EXPECT_NEAR(audio_snr(tone, played.samples), *encoded->stats.audio_snr, 1e-9);
    }
}

TEST_F(Encode, SizeKeepsThePicturesShapeUnlessToldToCropOrStretch) {
    // A 16:10 picture: left half red, right half blue, a green band over the
    // middle ten columns.
    const int w = 40, h = 25;
    std::vector<Rgb> pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            pixels.push_back(x >= 15 && x < 25 ? Rgb{0, 255, 0}
                             : x < w / 2       ? Rgb{255, 0, 0}
                                               : Rgb{0, 0, 255});
    write_ppm(folder_ / "wide.ppm", w, h, pixels);
    const struct {
        int width, height;
        Fit fit;
        int want_width, want_height;
    } cases[] = {
        {32, 32, Fit::Inside, 32, 20}, // fitted inside the box
        {20, 0, Fit::Inside, 20, 13},  // one side set: the other follows
        {0, 10, Fit::Inside, 16, 10},   {80, 20, Fit::Inside, 32, 20}, // the box's height limits
        {20, 20, Fit::Crop, 20, 20},                                   // the middle, filled
        {20, 20, Fit::Stretch, 20, 20},                                // distorted on purpose
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EncodeOptions options;
        options.inputs = {(folder_ / "wide.ppm").string()};
        options.width = c.width;
        options.height = c.height;
        options.fit = c.fit;
        auto encoded = encode_movie(options);
        ASSERT_TRUE(encoded) << encoded.error().message;
        const MovieHeader &header = encoded->movie.header();
        EXPECT_EQ(header.width, c.want_width);
        EXPECT_EQ(header.height, c.want_height);
        const fs::path out = folder_ / "sized.kmov";
        ASSERT_TRUE(encoded->movie.write(out));
        Played played = play(out, header);
        ASSERT_EQ(played.frames.size(), 1u);
        // Cropping scales the picture by 0.8 to cover the box and keeps its
        // middle; stretching squeezes it by 0.5 across.
        const Palette &palette = encoded->movie.palette();
        int green = 0;
        for (int x = 0; x < header.width; x++)
            green += palette[played.frames[0][static_cast<size_t>(x)]].g > 128 ? 1 : 0;
        if (c.fit == Fit::Crop) {
            EXPECT_NEAR(green, 8, 1);
        } else if (c.fit == Fit::Stretch) {
            EXPECT_NEAR(green, 5, 1);
        }
    }
}

TEST_F(Encode, SoundLongerThanThePicturesHoldsTheLastPicture) {
    std::vector<int16_t> tone;
    for (int i = 0; i < 22050; i++) // one second
        tone.push_back(static_cast<int16_t>(6000 * std::sin(i * 0.03)));
    write_wav(folder_ / "tone.wav", 22050, tone);
    write_ppm(folder_ / "one.ppm", 16, 12, picture(16, 12, 0));
    const struct {
        const char *name;
        std::vector<std::string> inputs;
        std::string audio;
        double duration;
        int frames, width;
        size_t samples;
    } cases[] = {
        // A still picture with narration: one picture, shown for 15 frames.
        {"still", {"one.ppm"}, "tone.wav", -1, 15, 20, 22050},
        // --duration cuts both; the sound is padded to the last frame's end.
        {"cut", {"one.ppm"}, "tone.wav", 0.5, 8, 20, 22050 * 8 / 15},
        // Sound alone: one black picture of the --size box.
        {"alone", {"tone.wav"}, "", -1, 15, 20, 22050},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EncodeOptions options;
        for (const std::string &input : c.inputs)
            options.inputs.push_back((folder_ / input).string());
        if (!c.audio.empty())
            options.audio_file = (folder_ / c.audio).string();
        options.duration = c.duration;
        options.width = 20;
        options.height = 15;
        auto encoded = encode_movie(options);
        ASSERT_TRUE(encoded) << encoded.error().message;
        const MovieHeader &header = encoded->movie.header();
        EXPECT_EQ(header.frame_count, c.frames);
        EXPECT_EQ(header.width, c.width);
        const fs::path out = folder_ / "held.kmov";
        ASSERT_TRUE(encoded->movie.write(out));
        Played played = play(out, header);
        ASSERT_EQ(played.frames.size(), static_cast<size_t>(c.frames));
        EXPECT_EQ(std::count(played.tags.begin(), played.tags.end(), TAG_VDAT), 1);
        for (const std::vector<uint8_t> &frame : played.frames)
            EXPECT_EQ(frame, played.frames[0]);
        if (c.inputs[0] == "tone.wav") {
            for (uint8_t index : played.frames[0])
                EXPECT_EQ(encoded->movie.palette()[index], (Rgb{0, 0, 0}));
        }
        ASSERT_EQ(played.samples.size(), c.samples);
        EXPECT_GT(audio_snr(std::span(tone).first(std::min(tone.size(), c.samples)),
                            std::span(played.samples).first(std::min(tone.size(), c.samples))),
                  10); // in step: a shifted copy would be near 0 dB
    }
}

TEST_F(Encode, SixBitSoundWhenItCostsLittleAndBothDepthsReported) {
    std::vector<int16_t> tone;
    for (int i = 0; i < 22050; i++)
        tone.push_back(static_cast<int16_t>(6000 * std::sin(i * 0.03)));
    write_wav(folder_ / "tone.wav", 22050, tone);
    // Noise pictures make the video far larger than the sound; a plain
    // picture leaves the sound most of the movie.
    std::mt19937 random(3);
    std::vector<std::string> noisy;
    for (int f = 0; f < 15; f++) {
        std::vector<Rgb> pixels;
        for (int i = 0; i < 128 * 96; i++)
            pixels.push_back({static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                              static_cast<uint8_t>(random())});
        noisy.push_back((folder_ / ("noise" + std::to_string(f) + ".ppm")).string());
        write_ppm(noisy.back(), 128, 96, pixels);
    }
    write_ppm(folder_ / "one.ppm", 16, 12, picture(16, 12, 0));
    const struct {
        std::vector<std::string> inputs;
        int bits; // asked for; 0: chosen
        int want;
    } cases[] = {
        {noisy, 0, 6},
        {{(folder_ / "one.ppm").string()}, 0, 4},
        {{(folder_ / "one.ppm").string()}, 6, 6},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.inputs.size()) + " pictures, bits " + std::to_string(c.bits));
        EncodeOptions options;
        options.inputs = c.inputs;
        options.audio_file = (folder_ / "tone.wav").string();
        options.bits = c.bits;
        auto encoded = encode_movie(options);
        ASSERT_TRUE(encoded) << encoded.error().message;
        EXPECT_EQ(encoded->movie.header().ldp, c.want);
        EXPECT_EQ(encoded->stats.audio_bits, c.want);
        ASSERT_TRUE(encoded->stats.audio_snr && encoded->stats.other_snr);
        // Six bits always sound better than four.
        if (c.want == 6) {
            EXPECT_GT(*encoded->stats.audio_snr, *encoded->stats.other_snr + 5);
        } else {
            EXPECT_LT(*encoded->stats.audio_snr + 5, *encoded->stats.other_snr);
        }
    }
}

TEST_F(Encode, AFrameThatChangesNothingIsShownAgainWithoutAPayload) {
    // Frames 0, 1, 1, 1, 2: the repeats need a "vblt" and nothing else.
    const int w = 20, h = 9;
    const int source_frame[] = {0, 1, 1, 1, 2};
    EncodeOptions options;
    for (int f = 0; f < 5; f++) {
        const fs::path path = folder_ / ("still" + std::to_string(f) + ".ppm");
        write_ppm(path, w, h, picture(w, h, source_frame[f]));
        options.inputs.push_back(path.string());
    }
    options.sound = false;
    auto encoded = encode_movie(options);
    ASSERT_TRUE(encoded) << encoded.error().message;
    const fs::path out = folder_ / "movie.kmov";
    ASSERT_TRUE(encoded->movie.write(out));
    Played played = play(out, encoded->movie.header());
    EXPECT_EQ(std::count(played.tags.begin(), played.tags.end(), TAG_VDAT), 3);
    EXPECT_EQ(std::count(played.tags.begin(), played.tags.end(), TAG_VBLT), 5);
    ASSERT_EQ(played.frames.size(), 5u);
    for (int f = 0; f < 5; f++) {
        std::vector<Rgb> shown;
        for (uint8_t index : played.frames[static_cast<size_t>(f)])
            shown.push_back(encoded->movie.palette()[index]);
        EXPECT_EQ(shown, picture(w, h, source_frame[f])) << "frame " << f;
    }
}

TEST_F(Encode, LossyFramesStayWithinTheirToleranceOfTheSource) {
    EncodeOptions options;
    options.inputs = pictures(24, 16, 5);
    options.lossy = 20;
    auto encoded = encode_movie(options);
    ASSERT_TRUE(encoded) << encoded.error().message;
    const fs::path out = folder_ / "lossy.kmov";
    ASSERT_TRUE(encoded->movie.write(out));
    Played played = play(out, encoded->movie.header());
    const Palette &palette = encoded->movie.palette();
    const std::vector<uint8_t> table = tolerance_table(palette, 20);
    auto index_of = [&](const Rgb &c) {
        return static_cast<size_t>(std::find(palette.begin(), palette.end(), c) - palette.begin());
    };
    for (int f = 0; f < 5; f++) {
        std::vector<Rgb> source = picture(24, 16, f);
        for (size_t i = 0; i < source.size(); i++)
            ASSERT_TRUE(table[index_of(source[i]) * 240 + played.frames[static_cast<size_t>(f)][i]])
                << "frame " << f << " pixel " << i;
    }
}

TEST(SoundCoder, SearchIsNeverWorseThanGreedyAndDecodesAsThePlayerDoes) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 1);
    struct Signal {
        const char *what;
        std::function<int16_t(int)> sample;
    };
    const Signal signals[] = {
        {"sine", [](int i) { return static_cast<int16_t>(12000 * std::sin(i * 0.031)); }},
        {"loud square (wraps)",
         [](int i) { return static_cast<int16_t>(i / 40 % 2 ? 32000 : -32000); }},
        {"quiet noise", [&](int) { return static_cast<int16_t>(30 * noise(random)); }},
        {"silence and clicks", [](int i) { return static_cast<int16_t>(i % 300 == 0 ? 5000 : 0); }},
        {"chirp", [](int i) { return static_cast<int16_t>(9000 * std::sin(i * i * 1e-5)); }},
    };
    for (int ldp : {4, 6})
        for (const Signal &signal : signals) {
            std::vector<int16_t> samples(1470);
            for (size_t i = 0; i < samples.size(); i++)
                samples[i] = signal.sample(static_cast<int>(i));
            AudioBlock greedy = code_audio_block(samples, ldp, 0);
            AudioBlock searched = code_audio_block(samples, ldp);
            EXPECT_LE(searched.error, greedy.error) << signal.what << " ldp " << ldp;

            // The player's decoder plays the same samples.
            MovieWriter movie(make_header(4, 4), test::test_palette());
            movie.header().sample_rate = 22050;
            movie.header().ldp = ldp;
            movie.header().samples_per_buffer = 1470;
            movie.header().buffer_pairs = 1;
            movie.header().ring_size = 1 << 16;
            movie.add(TAG_ADAT, 0, searched.bytes, 1470).end();
            TempFile file("sound.kmov", movie.bytes());
            EXPECT_EQ(play(file.path(), movie.header()).samples, searched.decoded) << signal.what;
        }
    // Over real-ish sound the search does strictly better than greedy.
    std::vector<int16_t> music(4000);
    for (size_t i = 0; i < music.size(); i++)
        music[i] = static_cast<int16_t>(7000 * std::sin(i * 0.02) + 3000 * std::sin(i * 0.13));
    EXPECT_LT(code_audio_block(music, 4).error, code_audio_block(music, 4, 0).error);
}

TEST(SoundCoder, HarnessDecodesWithThePlayersDecoder) {
    struct Case {
        std::vector<uint8_t> codes;
        int ldp, count;
        std::optional<std::vector<int16_t>> samples;
    };
    const Case cases[] = {
        {{0x1F, 0x02}, 4, 5, std::vector<int16_t>{8, 0, 0, 0, 0}}, // a run past the codes' end
        {{0x77, 0x77}, 4, 4, std::vector<int16_t>{9986, 19972, 29958, -25592}}, // wraps
        {{0x07, 0xF0, 0x02}, 6, 5, std::vector<int16_t>{1, 0, 0, 0, 0}},
        {{}, 4, 3, std::vector<int16_t>{0, 0, 0}}, // no codes: zeros, a run of the start value
        {{0x11}, 5, 2, std::nullopt},              // a depth the player refuses
        {{0x11}, 4, 0, std::nullopt},
        {{0x11}, 4, 65536, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(harness_decode_sound_block(c.codes, c.ldp, c.count), c.samples)
            << "ldp " << c.ldp << " count " << c.count;
    EXPECT_TRUE(harness_player_at_rest());
}

// A stream like an encoded movie's: a large first frame, smaller ones with
// a burst in the middle, sound blocks, 15 frames per second.
std::vector<StreamRecord> sample_stream(bool sound) {
    std::vector<StreamRecord> records;
    if (sound)
        for (int i = 0; i < 4; i++)
            records.push_back({TAG_ADAT, 0, 740});
    for (int f = 0; f < 60; f++) {
        const uint32_t size = f == 0 ? 150000 : (f >= 30 && f < 36) ? 90000 : 6000 + 97 * f;
        records.push_back({TAG_VDAT, 0, (size + 3) & ~3u});
        records.push_back(
            {TAG_VBLT, f == 0 ? 0 : frame_time_ms(f, 15) - frame_time_ms(f - 1, 15), 0});
        if (f == 0 && sound)
            records.push_back({TAG_ASTA, 0, 0});
        if (sound)
            records.push_back({TAG_ADAT, 0, 740});
    }
    records.push_back({TAG_END, 67, 0});
    return records;
}

TEST(HeaderSizing, RingNeverWaitsNorOverrunsAndNothingSmallerWouldDo) {
    for (bool sound : {false, true}) {
        const std::vector<StreamRecord> records = sample_stream(sound);
        const HeaderSizing sizing = size_stream(records);
        const RingRun run =
            simulate_ring(records, sizing.data_rate, sizing.ring_size, sizing.preload_size);
        EXPECT_EQ(run.playback_refills, 0);
        EXPECT_EQ(run.refills_in_frames, 0);
        EXPECT_EQ(run.cut_top_ups, 0);
        EXPECT_LE(run.max_fill, sizing.ring_size);
        EXPECT_LT(sizing.ring_size, run.stream_bytes); // it streams: not all in memory at once

        // A preload one refill smaller makes playback wait inside a frame.
        int32_t smaller = sizing.preload_size;
        while (smaller > 0 && preload_target(smaller) > preload_target(sizing.preload_size) - 2048)
            smaller--;
        const RingRun short_preload =
            simulate_ring(records, sizing.data_rate, sizing.ring_size, smaller);
        EXPECT_GT(short_preload.refills_in_frames, 0);
        // A ring of half the capacity cuts top-ups or waits.
        const RingRun small_ring =
            simulate_ring(records, sizing.data_rate, sizing.ring_size / 4, sizing.preload_size);
        EXPECT_GT(small_ring.cut_top_ups + small_ring.playback_refills, 0);
    }
}

TEST(AudioSchedule, BlocksArriveBeforeTheyPlayAndAlwaysFindABuffer) {
    for (const double fps : {15.0, 10.0, 29.97, 60.0})
        for (const int rate : {8000, 22050, 44100}) {
            const int frames = 200;
            const int64_t samples = static_cast<int64_t>(frames / fps * rate);
            const AudioSchedule schedule = schedule_audio(samples, rate, fps, frames);
            const AudioCheck check = check_audio(schedule, samples, rate, fps);
            EXPECT_EQ(check.late, 0) << fps << " fps " << rate << " Hz";
            EXPECT_EQ(check.dropped, 0) << fps << " fps " << rate << " Hz";
            // Queued most of a second before it plays: a sound server whose
            // pipeline holds several hundred ms must never run dry.
            EXPECT_GE(check.min_margin_ms, 850) << fps << " fps " << rate << " Hz";
        }
}

// The assembly stage alone: plain parts in, a movie the player plays as
// laid out.
TEST(Assemble, LaysOutFramesAndSoundAndSizesTheHeader) {
    const int w = 8, h = 4, frames = 3;
    const double fps = 10;
    FrameCoder coder(w, h);
    std::vector<std::vector<uint8_t>> pictures(frames, std::vector<uint8_t>(w * h, 7));
    pictures[2][5] = 9;
    MovieParts parts;
    parts.width = w, parts.height = h, parts.fps = fps, parts.palette = test::test_palette();
    for (int f = 0; f < frames; f++)
        parts.payloads.push_back(coder.code_frame(pictures[f], f == 0));
    parts.payloads[1].clear(); // the same picture again
    std::vector<int16_t> sound(frames * 800);
    for (size_t i = 0; i < sound.size(); i++)
        sound[i] = static_cast<int16_t>(5000 * std::sin(static_cast<double>(i) * 0.05));
    parts.sound = code_sound(sound, 8000, fps, frames, 6);
    std::vector<int16_t> decoded;
    for (const AudioBlock &block : parts.sound->blocks)
        decoded.insert(decoded.end(), block.decoded.begin(), block.decoded.end());
    const int lead_in = parts.sound->schedule.lead_in;

    const MovieWriter movie = assemble_movie(parts);
    const MovieHeader &header = movie.header();
    EXPECT_EQ(header.frame_count, frames);
    EXPECT_EQ(header.frame_rate, 10000);
    EXPECT_EQ(header.ldp, 6);
    EXPECT_EQ(header.sample_rate, 8000);
    EXPECT_EQ(header.samples_per_buffer, 800);
    EXPECT_GT(header.ring_size, 0);
    EXPECT_EQ(movie_bytes(movie), movie.bytes().size());
    std::vector<uint32_t> tags;
    for (const Record &r : movie.records())
        if (r.tag != TAG_ADAT)
            tags.push_back(r.tag);
    EXPECT_EQ(tags, (std::vector<uint32_t>{TAG_VDAT, TAG_VBLT, TAG_ASTA, TAG_VBLT, TAG_VDAT,
                                           TAG_VBLT, TAG_END}));
    for (int i = 0; i < lead_in; i++)
        EXPECT_EQ(movie.records()[static_cast<size_t>(i)].tag, TAG_ADAT);
    EXPECT_EQ(movie.records().back().delay, 100u);

    TempFile file("assembled.kmov", movie.bytes());
    const Played played = play(file.path(), header);
    ASSERT_EQ(played.frames.size(), static_cast<size_t>(frames));
    for (int f = 0; f < frames; f++)
        EXPECT_EQ(played.frames[static_cast<size_t>(f)], pictures[static_cast<size_t>(f)]) << f;
    EXPECT_EQ(played.samples, decoded);
    EXPECT_NEAR(audio_snr(sound, decoded), parts.sound->snr, 1e-9);
}

// --palette: a kmov movie's palette is read as the player reads it; what is
// no movie and no palette file is named as such.
TEST(Palette, LoadsAMoviesPaletteOrSaysWhatTheFileIsNot) {
    MovieWriter movie(make_header(4, 4), test::test_palette());
    movie.end();
    TempFile file("palette.kmov", movie.bytes());
    auto loaded = load_palette(file.path().string());
    ASSERT_TRUE(loaded) << loaded.error().message;
    EXPECT_EQ(*loaded, test::test_palette());

    TempFile junk("junk.bin", std::vector<uint8_t>(2000, 0x41));
    TempFile short_file("short.bin", std::vector<uint8_t>{'k', 'M'});
    const fs::path folder = fs::temp_directory_path();
    const struct {
        std::string path, message;
    } bad[] = {
        {junk.path().string(), ": neither a kmov movie nor a GIMP or JASC palette"},
        {short_file.path().string(), ": neither a kmov movie nor a GIMP or JASC palette"},
        {folder.string(), ": not a regular file"},
        {(folder / "kmov-no-such-palette").string(), ": cannot open the palette file"},
    };
    for (const auto &c : bad) {
        auto got = load_palette(c.path);
        ASSERT_FALSE(got) << c.path;
        EXPECT_EQ(got.error().message, c.path + c.message);
    }
}

// The kmov program on bad inputs: a clear message, exit 1, no output file.
TEST_F(Encode, BadInputsGiveAClearErrorAndNoOutput) {
    {
        std::ofstream(folder_ / "notes.txt") << "not a picture at all\n";
        std::ofstream(folder_ / "empty.mp4");
    }
    write_junk(folder_ / "junk.mp4");
    write_ppm(folder_ / "one.ppm", 8, 8, picture(8, 8, 0));
    pictures(8, 8, 3); // frame00.ppm to frame02.ppm: 0.2 s at 15 fps
    {
        // A picture cut short inside its pixels, and a folder.
        std::ofstream(folder_ / "cut.ppm", std::ios::binary) << "P6\n8 8\n255\n"
                                                             << std::string(50, '\0');
        fs::create_directory(folder_ / "folder");
    }
    const struct {
        std::string args, message;
    } cases[] = {
        {(folder_ / "missing.mp4").string(), "missing.mp4: no such file"},
        {(folder_ / "notes.txt").string(), "notes.txt: not a picture, video or sound file"},
        {(folder_ / "empty.mp4").string(), "empty.mp4: not a picture, video or sound file"},
        {(folder_ / "junk.mp4").string(), "junk.mp4: not a picture, video or sound file"},
        {(folder_ / "cut.ppm").string(), "cut.ppm: no pictures to encode"},
        {(folder_ / "folder").string(), "folder: not a picture, video or sound file"},
        {(folder_ / "one.ppm").string() + " --start 5",
         "no pictures to encode (zero-length video)"},
        {(folder_ / "one.ppm").string() + " --duration 0",
         "no pictures to encode (zero-length video)"},
        {(folder_ / "one.ppm").string() + " --audio " + (folder_ / "missing.wav").string(),
         "missing.wav: no such file"},
        {(folder_ / "one.ppm").string() + " --bits 5", "--bits takes 4 or 6"},
        {(folder_ / "one.ppm").string() + " --fps 61",
         "--fps takes frames per second from 1 to 60"},
        {(folder_ / "one.ppm").string() + " --fps 0.5", "--fps takes frames per second from 1"},
        {(folder_ / "one.ppm").string() + " --size 1921x100 --stretch",
         "frames of 1921x100 are larger than 1920x1080: the player's window would not fit"},
        {(folder_ / "one.ppm").string() + " --size 10 --crop", "--crop needs a --size box"},
        {(folder_ / "one.ppm").string() + " --size 10x10 --crop --stretch",
         "--crop and --stretch do not go together"},
        {(folder_ / "frame%02d.ppm").string() + " --start 9", "--start 9 s is past the end of"},
    };
    const fs::path out = folder_ / "out.kmov";
    for (const auto &c : cases) {
        test::ProgramRun run = test::run_program(std::string(KMOV_PROGRAM) + " encode " + c.args +
                                                 " -o " + out.string());
        EXPECT_NE(run.status, 0) << c.args;
        EXPECT_THAT(run.err, HasSubstr(c.message)) << c.args;
        EXPECT_FALSE(fs::exists(out)) << c.args;
    }
    for (const auto &entry : fs::directory_iterator(folder_))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
    // And a good one writes the movie, quietly on a pipe.
    test::ProgramRun run =
        test::run_program(std::string(KMOV_PROGRAM) + " encode " + (folder_ / "one.ppm").string() +
                          " -o " + out.string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(fs::exists(out));
}

// kmov make: encode and pack in one step.

std::string kmov_program() {
    return std::string(KMOV_PROGRAM) + " ";
}

// Runs kmov with neither template variable set unless the line sets one.
test::ProgramRun run_kmov(const std::string &arguments, const std::string &environment = "") {
    return test::run_program("env -u KMOV_PLAYER -u KMOV_PLAYER_EXE -u KMOV_PLAYER_HTML " +
                             environment + " " + kmov_program() + arguments);
}

TEST_F(Encode, MakeWritesWhatEncodeThenPackWriteAndVerifyAcceptsIt) {
    pictures(20, 12, 4);
    const std::string input = (folder_ / "frame%02d.ppm").string();
    const std::string options = " --lossy 2 --dither ordered --title 'My clip'";
    const fs::path program = folder_ / "clip";
    // No --player: the player built beside this kmov.
    test::ProgramRun made = run_kmov("make " + input + " -o " + program.string() + options);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");
    EXPECT_EQ(run_kmov("verify " + program.string()).status, 0);
    EXPECT_EQ(fs::status(program).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                  fs::perms::others_read | fs::perms::others_exec);

    const fs::path movie = folder_ / "clip.kmov", packed = folder_ / "packed";
    ASSERT_EQ(run_kmov("encode " + input + " -o " + movie.string() + " --lossy 2 --dither ordered")
                  .status,
              0);
    ASSERT_EQ(run_kmov("pack " + std::string(KMOV_PLAYER_TEMPLATE) + " " + movie.string() + " -o " +
                       packed.string() + " --title 'My clip'")
                  .status,
              0);
    EXPECT_EQ(test::read_file(program), test::read_file(packed));
    const std::vector<uint8_t> bytes = test::read_file(program);
    Expected<StartupInfo> info = find_startup_block(bytes);
    ASSERT_TRUE(info);
    EXPECT_STREQ(info->block.window_title, "My clip");
    EXPECT_EQ(info->block.movie_offset, fs::file_size(KMOV_PLAYER_TEMPLATE));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + info->block.movie_offset, bytes.end()),
              test::read_file(movie));
    // Nothing but the outputs: no movie file of make's own, no temporary file.
    EXPECT_EQ(names(), (std::set<std::string>{"frame00.ppm", "frame01.ppm", "frame02.ppm",
                                              "frame03.ppm", "clip", "clip.kmov", "packed"}));
}

// A stand-in template: `size` counting bytes with a startup block at 300.
std::vector<uint8_t> fake_template(size_t size) {
    std::vector<uint8_t> player = test::counting_bytes(size);
    std::copy(STARTUP_MARKER, STARTUP_MARKER + STARTUP_MARKER_SIZE, player.begin() + 300);
    std::fill(player.begin() + 316, player.begin() + 316 + STARTUP_BLOCK_SIZE, 0);
    return player;
}

// A stand-in web template: a page with the two elements kmov pack fills.
std::vector<uint8_t> fake_page() {
    const std::string page = "<!DOCTYPE html>\n<script id=\"kmov-startup\" "
                             "type=\"application/octet-stream\"></script>\n<script "
                             "id=\"kmov-movie\" type=\"application/octet-stream\"></script>\n";
    return {page.begin(), page.end()};
}

TEST_F(Encode, MakeTakesTheWindowsTemplateForNamesEndingInExeAndTheWebPageForHtml) {
    const std::string input = pictures(8, 8, 1)[0];
    const fs::path linux_player = folder_ / "linux-player", windows_player = folder_ / "win-player",
                   web_player = folder_ / "web-player";
    ASSERT_TRUE(write_file_atomically(linux_player, fake_template(1500)));
    ASSERT_TRUE(write_file_atomically(windows_player, fake_template(2500)));
    ASSERT_TRUE(write_file_atomically(web_player, fake_page()));
    const std::string environment = "KMOV_PLAYER=" + linux_player.string() +
                                    " KMOV_PLAYER_EXE=" + windows_player.string() +
                                    " KMOV_PLAYER_HTML=" + web_player.string();
    const struct {
        std::string out, options;
        const fs::path &player;
        std::string title;
    } cases[] = {
        {"clip", "", linux_player, "clip"},
        {"clip.exe", "", windows_player, "clip"},
        {"CLIP.ExE", "", windows_player, "CLIP"},
        {"clip.exe.bin", "", linux_player, "clip.exe"},
        {"clip.exe", " --player " + linux_player.string(), linux_player, "clip"},
        {"other", " --player " + windows_player.string() + " --title T", windows_player, "T"},
        {"clip.html", "", web_player, "clip"},
        {"CLIP.Htm", "", web_player, "CLIP"},
        {"clip.html", " --player " + linux_player.string(), linux_player, "clip"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.out + c.options);
        const fs::path out = folder_ / c.out;
        test::ProgramRun run =
            run_kmov("make " + input + " -o " + out.string() + c.options, environment);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<uint8_t> bytes = test::read_file(out);
        Expected<StartupInfo> info = find_startup_block(bytes);
        ASSERT_TRUE(info);
        // A page carries its movie as the whole program file.
        EXPECT_EQ(is_web_page(bytes), &c.player == &web_player);
        EXPECT_EQ(info->block.movie_offset,
                  &c.player == &web_player ? 0u : fs::file_size(c.player));
        EXPECT_STREQ(info->block.window_title, c.title.c_str());
        EXPECT_TRUE(verify_program(bytes));
        fs::remove(out);
    }
}

TEST_F(Encode, MakeRefusesBadInputsAndTemplatesWithNoOutput) {
    write_junk(folder_ / "junk.mp4");
    const std::string one = pictures(8, 8, 1)[0];
    // A kmov on its own, far from any build tree, finds no template.
    fs::create_directory(folder_ / "alone");
    fs::copy_file(KMOV_PROGRAM, folder_ / "alone" / "kmov");
    fs::permissions(folder_ / "alone" / "kmov", fs::perms::owner_all);
    const std::string alone = (folder_ / "alone" / "kmov").string();
    const std::string missing = (folder_ / "missing").string();
    const std::string out = (folder_ / "out").string();
    const struct {
        std::string command, message;
    } cases[] = {
        {"make " + missing + ".mp4 -o " + out, "missing.mp4: no such file"},
        {"make " + (folder_ / "junk.mp4").string() + " -o " + out,
         "junk.mp4: not a picture, video or sound file"},
        {"make " + one + " --duration 0 -o " + out, "no pictures to encode (zero-length video)"},
        {"make -o " + out, "no input"},
        {"make " + one, "no output"},
        {"make " + one + " --bits 5 -o " + out, "--bits takes 4 or 6"},
        {"make " + one + " --player " + missing + " -o " + out,
         "missing: No such file or directory"},
        {"make " + one + " --player " + (folder_ / "junk.mp4").string() + " -o " + out,
         "junk.mp4: no startup block"},
        {"KMOV_PLAYER=" + missing + " " + kmov_program() + "make " + one + " -o " + out,
         "KMOV_PLAYER: " + missing + ": No such file"},
        {"make " + one + " -o " + missing + "/out", "cannot create"},
    };
    const std::set<std::string> before = names();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        const bool own_program = c.command.starts_with("KMOV_");
        test::ProgramRun run = own_program ? test::run_program(c.command) : run_kmov(c.command);
        EXPECT_NE(run.status, 0);
        EXPECT_THAT(run.err, HasSubstr("kmov make: "));
        EXPECT_THAT(run.err, HasSubstr(c.message));
        EXPECT_EQ(names(), before) << "output or temporary files were left";
    }
    for (const char *name : {"clip", "clip.exe"}) {
        test::ProgramRun run =
            test::run_program("env -u KMOV_PLAYER -u KMOV_PLAYER_EXE " + alone + " make " + one +
                              " -o " + (folder_ / name).string());
        EXPECT_NE(run.status, 0);
        EXPECT_THAT(run.err, HasSubstr(std::string("no player template for ")));
        EXPECT_THAT(run.err, HasSubstr((folder_ / "alone" / "kmovsp").string()));
        EXPECT_THAT(run.err, HasSubstr("--player PATH"));
        EXPECT_EQ(names(), before) << name;
    }
}

} // namespace
} // namespace kmov
