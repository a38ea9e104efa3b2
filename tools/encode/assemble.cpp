#include "encode/assemble.h"

#include "encode/metrics.h"
#include "player/movie_format.h"

#include <cmath>

namespace kmov {

CodedSound code_sound(std::span<const int16_t> sound, int rate, double fps, int frames, int ldp) {
    CodedSound out;
    out.rate = rate;
    out.ldp = ldp;
    out.schedule = schedule_audio(static_cast<int64_t>(sound.size()), rate, fps, frames);
    const size_t per_block = static_cast<size_t>(out.schedule.samples_per_block);
    std::vector<int16_t> played;
    played.reserve(sound.size());
    for (size_t at = 0; at < sound.size(); at += per_block) {
        const size_t n = std::min(per_block, sound.size() - at);
        AudioBlock coded = code_audio_block(sound.subspan(at, n), ldp);
        played.insert(played.end(), coded.decoded.begin(), coded.decoded.end());
        out.bytes += padded_length(coded.bytes.size());
        out.blocks.push_back(std::move(coded));
    }
    out.snr = audio_snr(sound, played);
    return out;
}

MovieWriter assemble_movie(MovieParts parts) {
    const int frames = static_cast<int>(parts.payloads.size());
    const double fps = parts.fps;
    MovieHeader header = make_header(parts.width, parts.height);
    header.frame_rate = static_cast<int32_t>(std::llround(fps * 1000));
    header.frame_count = frames;
    // Where each sound block goes: the lead-in in front of the first frame,
    // the rest behind the "vblt" of the frame their schedule names.
    std::vector<AudioBlock> lead_in;
    std::vector<std::vector<AudioBlock>> blocks_after(static_cast<size_t>(frames));
    if (parts.sound) {
        CodedSound &sound = *parts.sound;
        const AudioSchedule &schedule = sound.schedule;
        const auto lead = static_cast<size_t>(schedule.lead_in);
        for (size_t block = 0; block < sound.blocks.size(); block++) {
            if (block < lead)
                lead_in.push_back(std::move(sound.blocks[block]));
            else
                blocks_after[static_cast<size_t>(schedule.after_frame[block - lead])].push_back(
                    std::move(sound.blocks[block]));
        }
        header.sample_rate = sound.rate;
        header.ldp = sound.ldp;
        header.samples_per_buffer = schedule.samples_per_block;
        header.buffer_pairs = schedule.buffer_pairs;
    }
    MovieWriter movie(header, parts.palette);
    auto add_block = [&](const AudioBlock &block) {
        movie.add(TAG_ADAT, 0, block.bytes, static_cast<uint32_t>(block.decoded.size()));
    };
    for (const AudioBlock &block : lead_in)
        add_block(block);
    for (int f = 0; f < frames; f++) {
        const uint32_t show = f == 0 ? 0 : frame_time_ms(f, fps) - frame_time_ms(f - 1, fps);
        const std::vector<uint8_t> &codes = parts.payloads[static_cast<size_t>(f)];
        if (f > 0 && codes.empty())
            movie.add(TAG_VBLT, show);
        else
            movie.frame(codes, 0, show);
        if (f == 0 && parts.sound)
            movie.add(TAG_ASTA, 0);
        for (const AudioBlock &block : blocks_after[static_cast<size_t>(f)])
            add_block(block);
    }
    movie.end(frame_time_ms(frames, fps) - frame_time_ms(frames - 1, fps));

    std::vector<StreamRecord> records;
    for (const Record &r : movie.records())
        records.push_back({r.tag, r.delay, padded_length(r.payload.size())});
    const HeaderSizing sizing = size_stream(records);
    movie.header().data_rate = sizing.data_rate;
    movie.header().ring_size = sizing.ring_size;
    movie.header().preload_size = sizing.preload_size;
    return movie;
}

uint64_t movie_bytes(const MovieWriter &movie) {
    uint64_t total = MOVIE_RECORDS_OFFSET;
    for (const Record &r : movie.records())
        total += RECORD_HEADER_SIZE + padded_length(r.payload.size());
    return total;
}

} // namespace kmov
