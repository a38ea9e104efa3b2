// Decoding throughput of decode_video_frame on 640 x 480 frames, in
// megapixels per second, beside memcpy of one frame in the same run.
//
// The frames are coded by the encoder's frame coder from generated pictures, each
// made so that one kind of code dominates: literals (noise over noise),
// skips (a few changed pixels), fills (flat runs) and copies (the previous
// frame moved by a pixel or a row); and a short animated sequence coded
// from its first frame. The payload sits whole in the ring, so the file is
// never touched while decoding.
//
//   cmake --preset bench && cmake --build --preset bench -j2
//   build/bench/bench/bench_video_decoder --benchmark_repetitions=10
//       --benchmark_report_aggregates_only=true --benchmark_min_time=0.2
//   (one command line)
//
// Whole-frame memcpy may take the C library's string-move path, which is
// far slower on some processors than its vector copy (with glibc,
// GLIBC_TUNABLES=glibc.cpu.x86_rep_movsb_threshold=100000000 shows the
// latter); compare against both.
#include "encode/frame_coder.h"
#include "player_harness.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int32_t W = 640, H = 480;
constexpr size_t PIXELS = static_cast<size_t>(W) * H;
using Bytes = std::vector<uint8_t>;

Bytes noise(std::mt19937 &random) {
    Bytes frame(PIXELS);
    for (uint8_t &b : frame)
        b = static_cast<uint8_t>(random() % 240);
    return frame;
}

// Frames to decode in order, starting from `start` (the buffer before the
// first of them), and their payloads.
struct Workload {
    Bytes start;
    std::vector<Bytes> payloads;
    size_t code_bytes = 0;
};

Workload over(const Bytes &previous, const std::vector<Bytes> &frames) {
    Workload work{previous, {}, 0};
    kmov::FrameCoder coder(W, H);
    coder.code_frame(previous, true); // the decoder's buffer holds `previous`
    for (const Bytes &frame : frames) {
        work.payloads.push_back(coder.code_frame(frame, false));
        work.code_bytes += work.payloads.back().size();
    }
    return work;
}

Workload literal_heavy() {
    std::mt19937 random(1);
    Bytes previous = noise(random);
    return over(previous, {noise(random)});
}

Workload skip_heavy() {
    std::mt19937 random(2);
    Bytes previous = noise(random);
    Bytes next = previous;
    for (size_t i = 0; i < PIXELS / 128; i++)
        next[random() % PIXELS] = static_cast<uint8_t>(random() % 240);
    return over(previous, {next});
}

Workload fill_heavy() {
    std::mt19937 random(3);
    Bytes previous = noise(random);
    Bytes next(PIXELS);
    for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < W;) {
            int32_t run = 16 + static_cast<int32_t>(random() % 240);
            std::fill_n(next.begin() + y * W + x, std::min(run, W - x),
                        static_cast<uint8_t>(random() % 240));
            x += run;
        }
    return over(previous, {next});
}

Workload copy_heavy() {
    // Bands of 16 rows, each moved one way (from the right, below left,
    // below, below right), with a changed pixel now and then.
    std::mt19937 random(4);
    Bytes previous = noise(random);
    Bytes next(PIXELS);
    const int32_t moves[4][2] = {{1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < W; x++) {
            const int32_t *move = moves[(y / 16) % 4];
            int32_t sx = std::clamp(x + move[0], 0, W - 1), sy = std::clamp(y + move[1], 0, H - 1);
            next[y * W + x] = previous[sy * W + sx];
        }
    for (size_t i = 0; i < PIXELS / 128; i++)
        next[random() % PIXELS] = static_cast<uint8_t>(random() % 240);
    return over(previous, {next});
}

// An animation: a banded sky, a textured strip panning left by a pixel a
// frame, and flat boxes moving over it.
Workload sequence() {
    std::mt19937 random(5);
    Bytes texture = noise(random);
    std::vector<Bytes> frames;
    for (int32_t t = 0; t < 30; t++) {
        Bytes frame(PIXELS);
        for (int32_t y = 0; y < H; y++)
            for (int32_t x = 0; x < W; x++) {
                uint8_t value = static_cast<uint8_t>(y / 4);
                if (y >= 300 && y < 420)
                    value = texture[y * W + (x + t) % W];
                frame[y * W + x] = value;
            }
        for (int32_t box = 0; box < 4; box++) {
            int32_t x0 = (box * 150 + t * (3 + box)) % (W - 80), y0 = 40 + box * 90;
            for (int32_t y = y0; y < y0 + 60; y++)
                std::fill_n(frame.begin() + y * W + x0, 80, static_cast<uint8_t>(200 + box));
        }
        frames.push_back(std::move(frame));
    }
    Workload work{Bytes(PIXELS, 0), {}, 0};
    kmov::FrameCoder coder(W, H);
    for (const Bytes &frame : frames) {
        work.payloads.push_back(coder.code_frame(frame, work.payloads.empty()));
        work.code_bytes += work.payloads.back().size();
    }
    return work;
}

void run(benchmark::State &state, const Workload &work) {
    // Every payload, padded to 4 bytes, one after the other in the ring.
    kmov::PayloadStream stream(work.payloads);
    if (!stream.ok()) {
        state.SkipWithError("no ring");
        return;
    }
    Bytes buffer = work.start;
    for (auto _ : state) {
        stream.decode_all(buffer.data(), W, H, W);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    double pixels = static_cast<double>(PIXELS) * static_cast<double>(work.payloads.size());
    state.counters["Mpx/s"] = benchmark::Counter(
        pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
    state.counters["code_bytes/px"] = static_cast<double>(work.code_bytes) / pixels;
}

void BM_memcpy_frame(benchmark::State &state) {
    Bytes from(PIXELS, 7), to(PIXELS, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), PIXELS);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(static_cast<double>(PIXELS) *
                                                     static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

// The same frame copied a row at a time: each call stays below the size at
// which the C library may switch to a string-move instruction, which is
// much slower than its vector copy on some processors.
void BM_memcpy_frame_by_rows(benchmark::State &state) {
    Bytes from(PIXELS, 7), to(PIXELS, 0);
    for (auto _ : state) {
        for (int32_t y = 0; y < H; y++)
            std::memcpy(to.data() + y * W, from.data() + y * W, W);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["Mpx/s"] = benchmark::Counter(static_cast<double>(PIXELS) *
                                                     static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

void BM_decode_literal_heavy(benchmark::State &state) {
    static const Workload work = literal_heavy();
    run(state, work);
}
void BM_decode_skip_heavy(benchmark::State &state) {
    static const Workload work = skip_heavy();
    run(state, work);
}
void BM_decode_fill_heavy(benchmark::State &state) {
    static const Workload work = fill_heavy();
    run(state, work);
}
void BM_decode_copy_heavy(benchmark::State &state) {
    static const Workload work = copy_heavy();
    run(state, work);
}
void BM_decode_sequence(benchmark::State &state) {
    static const Workload work = sequence();
    run(state, work);
}

// On a shared machine the best of several repetitions is the figure to
// compare: run with --benchmark_repetitions=N and read the "max" rows for
// Mpx/s.
double largest(const std::vector<double> &values) {
    return *std::max_element(values.begin(), values.end());
}

#define KMOV_BENCHMARK(name) BENCHMARK(name)->ComputeStatistics("max", largest)
KMOV_BENCHMARK(BM_memcpy_frame);
KMOV_BENCHMARK(BM_memcpy_frame_by_rows);
KMOV_BENCHMARK(BM_decode_literal_heavy);
KMOV_BENCHMARK(BM_decode_skip_heavy);
KMOV_BENCHMARK(BM_decode_fill_heavy);
KMOV_BENCHMARK(BM_decode_copy_heavy);
KMOV_BENCHMARK(BM_decode_sequence);

} // namespace

BENCHMARK_MAIN();
