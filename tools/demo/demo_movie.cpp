#include "demo_movie.h"

#include "demo.h"
#include "encode/assemble.h"
#include "encode/frame_check.h"
#include "encode/frame_coder.h"

#include <string>

namespace kmov::demo {

namespace {

constexpr double FPS = FRAME_RATE / 1000.0;

// Counts the operations in a frame's codes (each operation byte, then a
// count byte for those that carry one).
void count_operations(const std::vector<uint8_t> &codes, DemoStats &stats) {
    for (size_t i = 0; i < codes.size(); i++) {
        uint8_t op = codes[i];
        if (op < FRAME_OP_FIRST) {
            stats.literals++;
            continue;
        }
        stats.operations[op - FRAME_OP_FIRST]++;
        if (frame_op_has_count(op))
            i++; // the count byte
    }
}

} // namespace

Expected<MovieWriter> make_demo_movie(DemoStats *stats_out,
                                      const std::function<void(int done)> &progress, int frames) {
    if (frames < 1 || frames > FRAME_COUNT)
        return Error{"the demo has 1 to " + std::to_string(FRAME_COUNT) + " frames"};
    DemoStats stats;
    FrameCoder coder(WIDTH, HEIGHT);
    FrameCheck check(WIDTH, HEIGHT);
    std::vector<std::vector<uint8_t>> payloads;
    for (int f = 0; f < frames; f++) {
        std::vector<uint8_t> frame = render_frame(f);
        std::vector<uint8_t> codes = coder.code_frame(frame, f == 0);
        std::string fault = check.decode(codes);
        if (!fault.empty() || check.pixels() != frame)
            return Error{"internal error: demo frame " + std::to_string(f) +
                         " does not decode as coded" + (fault.empty() ? "" : ": " + fault)};
        count_operations(codes, stats);
        stats.video_bytes += codes.size();
        payloads.push_back(std::move(codes));
        if (progress)
            progress(f + 1);
    }

    // The sound that goes with those frames, coded at the demo's depth.
    std::vector<int16_t> sound = synthesize_sound();
    sound.resize(static_cast<size_t>(frame_sample(frames)));
    MovieParts parts;
    parts.width = WIDTH;
    parts.height = HEIGHT;
    parts.fps = FPS;
    parts.palette = palette();
    parts.payloads = std::move(payloads);
    parts.sound = code_sound(sound, SAMPLE_RATE, FPS, frames, LDP);
    stats.audio_snr = parts.sound->snr;
    MovieWriter movie = assemble_movie(std::move(parts));
    if (stats_out != nullptr)
        *stats_out = stats;
    return movie;
}

} // namespace kmov::demo
