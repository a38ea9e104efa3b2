#include "encode/encoder.h"

#include "encode/assemble.h"
#include "encode/metrics.h"

#include <cassert>
#include <chrono>
#include <cmath>

namespace kmov {

namespace {

std::string input_name(const EncodeOptions &options) {
    return options.inputs.size() == 1 ? options.inputs[0]
                                      : options.inputs[0] + " (and " +
                                            std::to_string(options.inputs.size() - 1) + " more)";
}

// Where the pictures come from. Sound alone makes a movie of one picture:
// --cover's, or black at --size's box, or its one side at 4:3, or 640 x 480.
PictureInput picture_input(const EncodeOptions &options, bool sound_alone) {
    PictureInput input;
    input.name = input_name(options);
    VideoRequest &request = input.request;
    request.inputs = options.inputs;
    request.width = options.width;
    request.height = options.height;
    request.fit = options.fit;
    request.allow_large = options.allow_large;
    request.fps = options.fps;
    request.start = options.start;
    request.duration = options.duration;
    if (sound_alone && !options.cover_file.empty()) {
        request.inputs = {options.cover_file};
        request.start = 0;
        request.duration = -1;
    } else if (sound_alone) {
        input.black = true;
        input.black_width = options.width > 0    ? options.width
                            : options.height > 0 ? std::max(1, options.height * 4 / 3)
                                                 : 640;
        input.black_height =
            options.height > 0 ? options.height : std::max(1, input.black_width * 3 / 4);
    }
    return input;
}

// The sound track, up to --duration, and the movie's length in frames: the
// longer of the pictures and the sound, which is padded with silence to the
// last frame's end. No sound (--no-audio, or several inputs without
// --audio, or an input without any) leaves `samples` empty.
struct SoundTrack {
    std::vector<int16_t> samples;
    int frames = 0;
};

Expected<SoundTrack> read_sound_track(const EncodeOptions &options, bool sound_alone,
                                      int pictures) {
    SoundTrack track;
    track.frames = pictures;
    if (!options.sound)
        return track;
    const std::string source = !options.audio_file.empty()  ? options.audio_file
                               : options.inputs.size() == 1 ? options.inputs[0]
                                                            : std::string();
    if (source.empty())
        return track;
    auto read = read_sound(source, options.rate, options.audio_file.empty() ? options.start : 0,
                           options.duration);
    if (!read)
        return read.error();
    track.samples = std::move(*read);
    if (track.samples.empty() && !options.audio_file.empty())
        return Error{options.audio_file + ": has no sound"};
    if (track.samples.empty() && sound_alone)
        return Error{input_name(options) + ": no sound to encode after --start"};
    const double sound_frames =
        static_cast<double>(track.samples.size()) * options.fps / options.rate;
    track.frames = std::max(track.frames, static_cast<int>(std::ceil(sound_frames - 1e-6)));
    if (!track.samples.empty())
        track.samples.resize(
            static_cast<size_t>(std::llround(track.frames / options.fps * options.rate)), 0);
    return track;
}

// The sound coded at both depths (the summary reports both); `bits` 0 takes
// 6 when that adds less than 5 % to the movie, else 4. Returns the chosen
// one, and the other's SNR.
CodedSound code_sound_track(const EncodeOptions &options, const SoundTrack &track,
                            const CodedPictures &pictures, double &other_snr) {
    CodedSound coded[2] = {code_sound(track.samples, options.rate, options.fps, track.frames, 4),
                           code_sound(track.samples, options.rate, options.fps, track.frames, 6)};
    uint64_t common = MOVIE_RECORDS_OFFSET + RECORD_HEADER_SIZE * (2 * uint64_t(track.frames) + 2);
    for (const std::vector<uint8_t> &codes : pictures.payloads)
        common += padded_length(codes.size());
    const double with_4 = static_cast<double>(common + coded[0].bytes);
    const double with_6 = static_cast<double>(common + coded[1].bytes);
    const int bits = options.bits != 0 ? options.bits : with_6 < 1.05 * with_4 ? 6 : 4;
    other_snr = coded[bits == 6 ? 0 : 1].snr;
    return std::move(coded[bits == 6 ? 1 : 0]);
}

} // namespace

Expected<EncodedMovie> encode_movie(const EncodeOptions &options, const Progress &progress) {
    // The command line has checked these; a caller that has not is at fault.
    assert(options.bits == 0 || options.bits == 4 || options.bits == 6);
    assert(options.rate >= 1000 && options.rate <= 96000);
    const auto began = std::chrono::steady_clock::now();
    const bool sound_alone = options.inputs.size() == 1 && !has_pictures(options.inputs[0]) &&
                             has_sound(options.inputs[0]);
    if (!options.cover_file.empty() && !sound_alone)
        return usage_error("--cover is the picture of sound alone, and " + input_name(options) +
                           " has pictures");
    if (sound_alone && !options.sound)
        return usage_error(input_name(options) + ": has only sound, and --no-audio leaves it out");
    const PictureInput input = picture_input(options, sound_alone);

    auto scan = scan_pictures(input, options.palette_file.empty(), progress);
    if (!scan)
        return scan.error();
    if (scan->count == 0)
        return Error{input.name + ": no pictures to encode (zero-length video)"};
    const int pictures = scan->count;

    PictureCoding coding;
    auto palette = pick_palette(*scan, options.palette_file);
    if (!palette)
        return palette.error();
    coding.palette = *palette;
    coding.dither = options.dither;
    coding.lossy = options.lossy;
    coding.frames_file = options.frames_file;

    auto track = read_sound_track(options, sound_alone, pictures);
    if (!track)
        return track.error();
    coding.frames = track->frames;

    auto coded = code_pictures(*scan, input, coding, progress);
    if (!coded)
        return coded.error();

    MovieParts parts;
    parts.width = scan->width;
    parts.height = scan->height;
    parts.fps = options.fps;
    parts.palette = coding.palette;
    EncodeStats stats;
    if (!track->samples.empty()) {
        double other_snr = 0;
        parts.sound = code_sound_track(options, *track, *coded, other_snr);
        stats.audio_snr = parts.sound->snr;
        stats.audio_bits = parts.sound->ldp;
        stats.other_snr = other_snr;
    }
    const size_t pixels = static_cast<size_t>(scan->width) * static_cast<size_t>(scan->height);
    stats.frames = track->frames;
    stats.width = scan->width;
    stats.height = scan->height;
    stats.video_bytes = coded->video_bytes;
    stats.psnr = psnr_db(coded->squared_error, static_cast<double>(pixels) * 3 * pictures);
    stats.ssim = coded->ssim / pictures;
    stats.encode_seconds = coded->seconds;
    parts.payloads = std::move(coded->payloads);

    EncodedMovie result{assemble_movie(std::move(parts)), stats};
    result.stats.movie_bytes = movie_bytes(result.movie);
    result.stats.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return result;
}

} // namespace kmov
