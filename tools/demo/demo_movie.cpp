#include "demo_movie.h"

#include "demo.h"
#include "encode/audio_coder.h"
#include "encode/frame_check.h"
#include "encode/frame_coder.h"
#include "encode/stream_plan.h"

#include <cmath>
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

    // Sound blocks in front of the first frame (queued while the movie
    // opens), "asta" right behind the first "vblt", the rest where due.
    std::vector<int16_t> sound = synthesize_sound();
    sound.resize(static_cast<size_t>(frame_sample(frames)));
    const AudioSchedule schedule =
        schedule_audio(static_cast<int64_t>(sound.size()), SAMPLE_RATE, FPS, frames);
    const size_t per_block = static_cast<size_t>(schedule.samples_per_block);
    std::vector<AudioBlock> lead_in;
    std::vector<std::vector<AudioBlock>> after(static_cast<size_t>(frames));
    std::vector<int16_t> played;
    size_t block = 0;
    for (size_t at = 0; at < sound.size(); at += per_block, block++) {
        const size_t n = std::min(per_block, sound.size() - at);
        AudioBlock coded = code_audio_block(std::span(sound).subspan(at, n), LDP);
        played.insert(played.end(), coded.decoded.begin(), coded.decoded.end());
        if (block < static_cast<size_t>(schedule.lead_in))
            lead_in.push_back(std::move(coded));
        else
            after[static_cast<size_t>(
                      schedule.after_frame[block - static_cast<size_t>(schedule.lead_in)])]
                .push_back(std::move(coded));
    }
    stats.audio_snr = audio_snr(sound, played);

    MovieHeader header = make_header(WIDTH, HEIGHT);
    header.frame_rate = FRAME_RATE;
    header.frame_count = frames;
    header.sample_rate = SAMPLE_RATE;
    header.ldp = LDP;
    header.samples_per_buffer = schedule.samples_per_block;
    header.buffer_pairs = schedule.buffer_pairs;
    MovieWriter movie(header, palette());
    auto add_block = [&](const AudioBlock &b) {
        movie.add(TAG_ADAT, 0, b.bytes, static_cast<uint32_t>(b.decoded.size()));
    };
    for (const AudioBlock &b : lead_in)
        add_block(b);
    for (int f = 0; f < frames; f++) {
        const uint32_t show = f == 0 ? 0 : frame_time_ms(f, FPS) - frame_time_ms(f - 1, FPS);
        movie.frame(payloads[static_cast<size_t>(f)], 0, show);
        if (f == 0)
            movie.add(TAG_ASTA, 0);
        for (const AudioBlock &b : after[static_cast<size_t>(f)])
            add_block(b);
    }
    movie.end(frame_time_ms(frames, FPS) - frame_time_ms(frames - 1, FPS));

    std::vector<StreamRecord> records;
    for (const Record &r : movie.records())
        records.push_back({r.tag, r.delay, padded_length(r.payload.size())});
    const HeaderSizing sizing = size_stream(records);
    movie.header().data_rate = sizing.data_rate;
    movie.header().ring_size = sizing.ring_size;
    movie.header().preload_size = sizing.preload_size;
    if (stats_out != nullptr)
        *stats_out = stats;
    return movie;
}

} // namespace kmov::demo
