#include "encode/encoder.h"

#include "encode/audio_coder.h"
#include "encode/frame_check.h"
#include "encode/frame_coder.h"
#include "encode/media_input.h"
#include "encode/stream_plan.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

namespace kmov {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

VideoRequest video_request(const EncodeOptions &options) {
    VideoRequest request;
    request.inputs = options.inputs;
    request.width = options.width;
    request.height = options.height;
    request.fit = options.fit;
    request.allow_large = options.allow_large;
    request.fps = options.fps;
    request.start = options.start;
    request.duration = options.duration;
    return request;
}

// The sound coded at one depth, block by block.
struct CodedSound {
    std::vector<AudioBlock> blocks;
    uint64_t bytes = 0; // the blocks' payloads, padded as they are stored
    double snr = 0;
};

CodedSound code_sound(const std::vector<int16_t> &sound, int bits, int samples_per_block) {
    CodedSound out;
    const size_t per_block = static_cast<size_t>(samples_per_block);
    std::vector<int16_t> played;
    played.reserve(sound.size());
    for (size_t at = 0; at < sound.size(); at += per_block) {
        const size_t n = std::min(per_block, sound.size() - at);
        AudioBlock coded = code_audio_block(std::span(sound).subspan(at, n), bits);
        played.insert(played.end(), coded.decoded.begin(), coded.decoded.end());
        out.bytes += padded_length(coded.bytes.size());
        out.blocks.push_back(std::move(coded));
    }
    out.snr = audio_snr(sound, played);
    return out;
}

std::string input_name(const EncodeOptions &options) {
    return options.inputs.size() == 1 ? options.inputs[0]
                                      : options.inputs[0] + " (and " +
                                            std::to_string(options.inputs.size() - 1) + " more)";
}

} // namespace

double frame_squared_error(const uint8_t *rgba, const uint8_t *rgb, size_t pixels) {
    uint64_t total = 0;
    for (size_t i = 0; i < pixels; i++)
        for (int c = 0; c < 3; c++) {
            const int d =
                rgba[i * 4 + static_cast<size_t>(c)] - rgb[i * 3 + static_cast<size_t>(c)];
            total += static_cast<uint64_t>(d * d);
        }
    return static_cast<double>(total);
}

double frame_ssim(const uint8_t *rgba, const uint8_t *rgb, int width, int height) {
    // Sums over 4 x 4 blocks of the two lumas, their squares and product;
    // each 8 x 8 window (every 4 pixels) adds four blocks.
    const int bw = width / 4, bh = height / 4;
    if (bw < 2 || bh < 2) {
        // Too small for windows: compare the whole frame as one.
        return frame_squared_error(rgba, rgb, static_cast<size_t>(width) * height) == 0 ? 1.0 : 0.0;
    }
    struct Sums {
        double a = 0, b = 0, aa = 0, bb = 0, ab = 0;
    };
    std::vector<Sums> blocks(static_cast<size_t>(bw) * static_cast<size_t>(bh));
    for (int y = 0; y < bh * 4; y++)
        for (int x = 0; x < bw * 4; x++) {
            const size_t i =
                static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            const double a =
                0.299 * rgba[i * 4] + 0.587 * rgba[i * 4 + 1] + 0.114 * rgba[i * 4 + 2];
            const double b = 0.299 * rgb[i * 3] + 0.587 * rgb[i * 3 + 1] + 0.114 * rgb[i * 3 + 2];
            Sums &s = blocks[static_cast<size_t>(y / 4) * static_cast<size_t>(bw) +
                             static_cast<size_t>(x / 4)];
            s.a += a, s.b += b, s.aa += a * a, s.bb += b * b, s.ab += a * b;
        }
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    int windows = 0;
    for (int y = 0; y + 1 < bh; y++)
        for (int x = 0; x + 1 < bw; x++) {
            Sums w;
            for (int dy = 0; dy < 2; dy++)
                for (int dx = 0; dx < 2; dx++) {
                    const Sums &s = blocks[static_cast<size_t>(y + dy) * static_cast<size_t>(bw) +
                                           static_cast<size_t>(x + dx)];
                    w.a += s.a, w.b += s.b, w.aa += s.aa, w.bb += s.bb, w.ab += s.ab;
                }
            const double n = 64;
            const double ma = w.a / n, mb = w.b / n;
            const double va = w.aa / n - ma * ma, vb = w.bb / n - mb * mb, cov = w.ab / n - ma * mb;
            total +=
                ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            windows++;
        }
    return total / windows;
}

Expected<EncodedMovie> encode_movie(const EncodeOptions &options, const Progress &progress) {
    const Clock::time_point began = Clock::now();
    if (options.bits != 0 && options.bits != 4 && options.bits != 6)
        return usage_error("--bits must be 4 or 6");
    if (options.rate < 1000 || options.rate > 96000)
        return usage_error("--rate must be between 1000 and 96000");
    const VideoRequest request = video_request(options);

    // Sound alone makes a movie of one picture: black, or --cover's.
    const bool sound_alone = options.inputs.size() == 1 && !has_pictures(options.inputs[0]) &&
                             has_sound(options.inputs[0]);
    if (!options.cover_file.empty() && !sound_alone)
        return usage_error("--cover is the picture of sound alone, and " + input_name(options) +
                           " has pictures");
    if (sound_alone && !options.sound)
        return usage_error(input_name(options) + ": has only sound, and --no-audio leaves it out");
    VideoRequest picture_request = request;
    if (sound_alone && !options.cover_file.empty()) {
        picture_request.inputs = {options.cover_file};
        picture_request.start = 0;
        picture_request.duration = -1;
    }
    auto open_pictures = [&]() -> Expected<std::unique_ptr<VideoReader>> {
        if (sound_alone && options.cover_file.empty()) {
            // --size's box, or its one side at 4:3, or 640 x 480.
            const int w = options.width > 0    ? options.width
                          : options.height > 0 ? std::max(1, options.height * 4 / 3)
                                               : 640;
            const int h = options.height > 0 ? options.height : std::max(1, w * 3 / 4);
            return VideoReader::black(w, h);
        }
        return VideoReader::open(picture_request);
    };

    // Pass 1: every frame into the histogram, and the count.
    auto opened = open_pictures();
    if (!opened)
        return opened.error();
    std::unique_ptr<VideoReader> reader = std::move(*opened);
    const int width = reader->width(), height = reader->height();
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    ColourHistogram histogram;
    std::vector<uint8_t> rgba;
    int frames = 0;
    const bool palette_given = !options.palette_file.empty();
    // Frames are kept for the second pass while they fit in this much
    // memory; beyond it the input is read a second time.
    constexpr size_t KEEP_BYTES = size_t{768} << 20;
    std::vector<std::vector<uint8_t>> kept;
    bool keeping = true;
    for (;;) {
        auto more = reader->next(rgba);
        if (!more)
            return more.error();
        if (!*more)
            break;
        if (!palette_given)
            histogram.add(rgba.data(), pixels);
        frames++;
        if (keeping && static_cast<size_t>(frames) * rgba.size() <= KEEP_BYTES) {
            kept.push_back(rgba);
        } else if (keeping) {
            keeping = false;
            std::vector<std::vector<uint8_t>>().swap(kept);
        }
        if (progress.update)
            progress.update(1, frames, 0, 0);
    }
    if (frames == 0)
        return Error{input_name(options) + ": no pictures to encode (zero-length video)"};

    Palette palette{};
    if (palette_given) {
        auto loaded = load_palette(options.palette_file);
        if (!loaded)
            return loaded.error();
        palette = *loaded;
    } else {
        auto chosen = choose_palette(histogram);
        if (!chosen)
            return chosen.error();
        palette = *chosen;
    }

    // Sound, up to --duration. The movie lasts as long as the longer of the
    // pictures and the sound: the last picture is shown again each frame
    // while the sound plays on, and the sound is padded with silence to the
    // last frame's end.
    std::vector<int16_t> sound;
    const int pictures = frames;
    if (options.sound) {
        const std::string source = !options.audio_file.empty()  ? options.audio_file
                                   : options.inputs.size() == 1 ? options.inputs[0]
                                                                : std::string();
        if (!source.empty()) {
            auto read =
                read_sound(source, options.rate, options.audio_file.empty() ? options.start : 0,
                           options.duration);
            if (!read)
                return read.error();
            sound = std::move(*read);
            if (sound.empty() && !options.audio_file.empty())
                return Error{options.audio_file + ": has no sound"};
            if (sound.empty() && sound_alone)
                return Error{input_name(options) + ": no sound to encode after --start"};
            const double sound_frames =
                static_cast<double>(sound.size()) * options.fps / options.rate;
            frames = std::max(frames, static_cast<int>(std::ceil(sound_frames - 1e-6)));
            if (!sound.empty())
                sound.resize(static_cast<size_t>(std::llround(frames / options.fps * options.rate)),
                             0);
        }
    }

    // Pass 2: map, code and check every frame.
    if (!keeping) {
        opened = open_pictures();
        if (!opened)
            return opened.error();
        reader = std::move(*opened);
    }
    const Clock::time_point coding = Clock::now();
    Remapper remapper(palette, options.dither, width, height);
    std::vector<uint8_t> tolerance;
    CoderOptions coder_options;
    if (options.lossy > 0) {
        tolerance = tolerance_table(palette, options.lossy);
        coder_options.tolerance = tolerance.data();
    }
    FrameCoder coder(width, height);
    FrameCheck check(width, height);
    std::unique_ptr<FILE, int (*)(FILE *)> frames_out(nullptr, std::fclose);
    if (!options.frames_file.empty()) {
        frames_out.reset(std::fopen(options.frames_file.c_str(), "wb"));
        if (!frames_out)
            return Error{options.frames_file + ": cannot create"};
    }
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<uint8_t> indices, decoded_rgb(pixels * 3);
    double squared_error = 0, ssim_total = 0;
    uint64_t video_bytes = 0;
    for (int f = 0; f < pictures; f++) {
        if (keeping) {
            rgba = std::move(kept[static_cast<size_t>(f)]);
        } else {
            auto more = reader->next(rgba);
            if (!more)
                return more.error();
            if (!*more)
                return Error{input_name(options) +
                             ": gave fewer pictures the second time it was read"};
        }
        remapper.remap(rgba.data(), indices);
        std::vector<uint8_t> codes = coder.code_frame(indices, f == 0, coder_options);
        const std::vector<uint8_t> before = check.buffer();
        const std::string fault = check.decode(codes);
        const std::vector<uint8_t> shown = check.pixels();
        if (!fault.empty() || check.buffer() != coder.model().bytes())
            return Error{"internal error: frame " + std::to_string(f) +
                         " does not decode as it was coded" + (fault.empty() ? "" : ": " + fault) +
                         " (please report this)"};
        for (size_t i = 0; i < pixels; i++) {
            const Rgb &c = palette[shown[i]];
            decoded_rgb[i * 3] = c.r, decoded_rgb[i * 3 + 1] = c.g, decoded_rgb[i * 3 + 2] = c.b;
        }
        squared_error += frame_squared_error(rgba.data(), decoded_rgb.data(), pixels);
        ssim_total += frame_ssim(rgba.data(), decoded_rgb.data(), width, height);
        if (frames_out && std::fwrite(decoded_rgb.data(), 1, decoded_rgb.size(),
                                      frames_out.get()) != decoded_rgb.size())
            return Error{options.frames_file + ": cannot write"};
        // A frame that changes nothing (a still stretch) is only shown again:
        // its "vblt" needs no "vdat", which at 640 pixels a row would cost
        // at least 6 bytes a row in skips.
        if (f > 0 && check.buffer() == before)
            codes.clear();
        video_bytes += codes.size();
        payloads.push_back(std::move(codes));
        if (progress.update)
            progress.update(2, f + 1, pictures, video_bytes);
    }
    // The last picture held while the sound plays on: shown again, no codes.
    for (int f = pictures; f < frames; f++) {
        payloads.emplace_back();
        if (frames_out && std::fwrite(decoded_rgb.data(), 1, decoded_rgb.size(),
                                      frames_out.get()) != decoded_rgb.size())
            return Error{options.frames_file + ": cannot write"};
    }
    const double encode_seconds = seconds_since(coding);

    // The stream: frames, sound blocks where they are due, the end.
    MovieHeader header = make_header(width, height);
    header.frame_rate = static_cast<int32_t>(std::llround(options.fps * 1000));
    header.frame_count = frames;
    MovieWriter movie(header, palette);
    std::vector<std::vector<AudioBlock>> blocks_after(static_cast<size_t>(frames));
    std::vector<AudioBlock> lead_in;
    std::optional<double> snr, other_snr;
    int bits = 0;
    if (!sound.empty()) {
        const AudioSchedule schedule =
            schedule_audio(static_cast<int64_t>(sound.size()), options.rate, options.fps, frames);
        // Both depths are coded: the summary reports both, and without
        // --bits the movie takes 6 when that adds less than 5 % to it.
        CodedSound coded[2] = {code_sound(sound, 4, schedule.samples_per_block),
                               code_sound(sound, 6, schedule.samples_per_block)};
        uint64_t common = MOVIE_RECORDS_OFFSET + RECORD_HEADER_SIZE * (2 * uint64_t(frames) + 2);
        for (const std::vector<uint8_t> &codes : payloads)
            common += padded_length(codes.size());
        const double with_4 = static_cast<double>(common + coded[0].bytes);
        const double with_6 = static_cast<double>(common + coded[1].bytes);
        bits = options.bits != 0 ? options.bits : with_6 < 1.05 * with_4 ? 6 : 4;
        CodedSound &chosen = coded[bits == 6 ? 1 : 0];
        snr = chosen.snr;
        other_snr = coded[bits == 6 ? 0 : 1].snr;
        for (size_t block = 0; block < chosen.blocks.size(); block++) {
            if (block < static_cast<size_t>(schedule.lead_in))
                lead_in.push_back(std::move(chosen.blocks[block]));
            else
                blocks_after[static_cast<size_t>(
                                 schedule
                                     .after_frame[block - static_cast<size_t>(schedule.lead_in)])]
                    .push_back(std::move(chosen.blocks[block]));
        }
        movie.header().sample_rate = options.rate;
        movie.header().ldp = bits;
        movie.header().samples_per_buffer = schedule.samples_per_block;
        movie.header().buffer_pairs = schedule.buffer_pairs;
    }
    auto add_block = [&](const AudioBlock &block) {
        movie.add(TAG_ADAT, 0, block.bytes, static_cast<uint32_t>(block.decoded.size()));
    };
    for (const AudioBlock &block : lead_in)
        add_block(block);
    for (int f = 0; f < frames; f++) {
        const uint32_t show =
            f == 0 ? 0 : frame_time_ms(f, options.fps) - frame_time_ms(f - 1, options.fps);
        if (payloads[static_cast<size_t>(f)].empty())
            movie.add(TAG_VBLT, show);
        else
            movie.frame(payloads[static_cast<size_t>(f)], 0, show);
        if (f == 0 && !sound.empty())
            movie.add(TAG_ASTA, 0);
        for (const AudioBlock &block : blocks_after[static_cast<size_t>(f)])
            add_block(block);
    }
    movie.end(frame_time_ms(frames, options.fps) - frame_time_ms(frames - 1, options.fps));

    std::vector<StreamRecord> records;
    for (const Record &r : movie.records())
        records.push_back({r.tag, r.delay, padded_length(r.payload.size())});
    const HeaderSizing sizing = size_stream(records);
    movie.header().data_rate = sizing.data_rate;
    movie.header().ring_size = sizing.ring_size;
    movie.header().preload_size = sizing.preload_size;

    EncodedMovie result{std::move(movie), {}};
    EncodeStats &stats = result.stats;
    stats.frames = frames;
    stats.width = width;
    stats.height = height;
    stats.video_bytes = video_bytes;
    stats.movie_bytes = MOVIE_RECORDS_OFFSET;
    for (const StreamRecord &r : records)
        stats.movie_bytes += RECORD_HEADER_SIZE + r.length;
    const double mse = squared_error / (static_cast<double>(pixels) * 3 * pictures);
    stats.psnr =
        mse == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255.0 / mse);
    stats.ssim = ssim_total / pictures;
    stats.audio_snr = snr;
    stats.audio_bits = bits;
    stats.other_snr = other_snr;
    stats.encode_seconds = encode_seconds;
    stats.seconds = seconds_since(began);
    return result;
}

} // namespace kmov
