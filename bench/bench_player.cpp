// The whole player over a 640x480 movie made by the frame coder, on the
// headless backend with the clock stepped so that nothing waits: frames per
// second from player_open to the last present, and the time from
// player_open's start to the first frame decoded into the bitmap. With
// KMOV_BENCH_MOVIE set, both run over that movie instead (bench/
// encode_vs_gif.sh times the encoder's movies so).
#include "encode/frame_coder.h"
#include "player_harness.h"
#include "headless.h"
#include "movie_writer.h"
#include "player/player.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int W = 640, H = 480, FRAMES = 97;

// A moving scene: diagonal bands that scroll, a flat sky, and a block of
// noise, so that every kind of code appears.
std::vector<uint8_t> scene(int t) {
    std::vector<uint8_t> pixels(static_cast<size_t>(W) * H);
    uint32_t noise = 12345u + static_cast<uint32_t>(t) * 7919u;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            uint8_t value;
            if (y < H / 4)
                value = 200;
            else if (x > W / 2 && x < W / 2 + 96 && y > H / 2 && y < H / 2 + 96) {
                noise = noise * 1103515245u + 12345u;
                value = static_cast<uint8_t>((noise >> 16) % 240);
            } else
                value = static_cast<uint8_t>(((x + y + 2 * t) / 8) % 120);
            pixels[static_cast<size_t>(y) * W + x] = value;
        }
    return pixels;
}

const std::string &movie_path() {
    static std::string path;
    if (path.empty() && std::getenv("KMOV_BENCH_MOVIE") != nullptr)
        path = std::getenv("KMOV_BENCH_MOVIE");
    if (path.empty()) {
        MovieHeader header = kmov::make_header(W, H);
        kmov::Palette palette;
        for (size_t i = 0; i < palette.size(); i++)
            palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3),
                          static_cast<uint8_t>(255 - i)};
        kmov::FrameCoder coder(W, H);
        std::vector<std::vector<uint8_t>> payloads;
        size_t largest = 0, total = 0;
        for (int t = 0; t < FRAMES; t++) {
            payloads.push_back(coder.code_frame(scene(t), t == 0));
            largest = std::max(largest, payloads.back().size());
            total += payloads.back().size();
        }
        header.data_rate = static_cast<int32_t>(total * 15 / FRAMES);
        header.ring_size = static_cast<int32_t>(largest * 2 + 4096);
        header.preload_size = static_cast<int32_t>(largest);
        kmov::MovieWriter movie(header, palette);
        for (int t = 0; t < FRAMES; t++)
            movie.frame(payloads[t], 0, t == 0 ? 0 : (t % 2 ? 66 : 67));
        movie.end(66).count_frames();
        path = (std::filesystem::temp_directory_path() / "kmov-bench-player.kmov").string();
        movie.write(path);
    }
    return path;
}

HWND bench_window() {
    static HWND window = headless_make_window("bench");
    return window;
}

int presented;
void count_present(const HeadlessBlit &) {
    presented++;
}

void BM_play_movie(benchmark::State &state) {
    const std::string &path = movie_path();
    headless_set_blit_limit(1);
    headless_set_blit_hook(count_present);
    int frames = 0;
    for (auto _ : state) {
        headless_set_time(0);
        if (!player_open(path.c_str(), bench_window(), -1, -1, WAVE_MAPPER, 0, nullptr)) {
            state.SkipWithError("the movie does not open");
            break;
        }
        presented = 0;
        player_play();
        while (player_is_playing())
            kmov::harness_play_turn();
        frames = presented;
        player_close();
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(frames) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_play_movie)->Unit(benchmark::kMillisecond);

void BM_open_to_first_frame(benchmark::State &state) {
    const std::string &path = movie_path();
    for (auto _ : state) {
        player_open(path.c_str(), bench_window(), -1, -1, WAVE_MAPPER, 0, nullptr);
        benchmark::DoNotOptimize(player_get_bitmap());
        state.PauseTiming();
        player_close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_open_to_first_frame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
