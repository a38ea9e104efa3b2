// kmov frames and kmov audio: what the player presents and plays, extracted
// by running the player's own code.
#include "commands.h"
#include "image_io.h"
#include "movie_input.h"
#include "player_harness.h"

#include <cstdio>
#include <filesystem>

namespace kmov {

namespace {

// The movie of FILE [--offset N]. A damaged movie is played all the same:
// what the player shows of it up to the damage can still be looked at.
// `first` and `second` name the command's two output options, which must
// not be FILE.
Expected<MovieSource> open_source(const Arguments &args, const char *first, const char *second) {
    if (Status refused =
            refuse_output_over_input({args.value(first), args.value(second)}, args.positional());
        !refused)
        return refused.error();
    std::optional<uint64_t> offset;
    if (args.has("offset"))
        offset = args.whole("offset");
    return open_movie(args.command(), args.positional()[0], offset, false, Damaged::warn);
}

// How a playback ended, for the exit code: 0 when the movie played to its
// end or to the point where a damaged one runs out (warnings aside), 1 when
// the player stopped with its message; what came before is written either
// way. `what` names what was written ("12 frames").
int playback_status(const char *name, const Expected<PlaybackResult> &result,
                    const std::string &what) {
    if (!result) {
        std::fprintf(stderr,
                     "kmov %s: warning: the player stops with \"%s\"; the %s before it are "
                     "written\n",
                     name, result.error().text().c_str(), what.c_str());
        return 1;
    }
    if (!result->ended)
        std::fprintf(stderr, "kmov %s: warning: the movie runs out; the %s before are written\n",
                     name, what.c_str());
    return 0;
}

// A damaged movie's player may wait at the damage for records that never
// come: its playback stops a little after the records the file holds.
PlaybackLimits limits_for(const MovieSource &source) {
    PlaybackLimits limits;
    if (!source.summary.damage.empty()) {
        limits.max_records = static_cast<uint64_t>(source.summary.records) + 1024;
        limits.limit_is_error = false;
    }
    return limits;
}

// The PNG files of `kmov frames --png` written so far, and the folders it
// made for them: a failed command takes them away again, so that it leaves
// no partial output behind.
struct PartialFrames {
    std::vector<std::filesystem::path> files;
    std::vector<std::filesystem::path> folders; // made by the command, outermost last

    void remove() {
        std::error_code ignored;
        for (const std::filesystem::path &file : files)
            std::filesystem::remove(file, ignored);
        for (const std::filesystem::path &folder : folders)
            std::filesystem::remove(folder, ignored); // only if empty
        *this = {};
    }
};

// Makes `folder` and any missing parents, remembering each one made.
std::error_code make_folders(const std::filesystem::path &folder, PartialFrames &partial_frames) {
    std::vector<std::filesystem::path> missing;
    std::error_code code;
    for (std::filesystem::path p = folder; !p.empty() && !std::filesystem::exists(p, code);
         p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    std::filesystem::create_directories(folder, code);
    if (!code)
        partial_frames.folders = missing;
    return code;
}

std::string frame_name(const std::filesystem::path &folder, uint64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%05llu.png", static_cast<unsigned long long>(index));
    return (folder / name).string();
}

Expected<int> run_frames(const Arguments &args) {
    Expected<MovieSource> opened = open_source(args, "raw", "png");
    if (!opened)
        return opened.error();
    const MovieSource &source = *opened;

    std::vector<uint8_t> raw;
    std::filesystem::path folder;
    Status written;
    uint64_t index = 0;
    PartialFrames partial_frames;
    if (args.has("png")) {
        folder = args.value("png");
        if (std::error_code code = make_folders(folder, partial_frames); code)
            return file_error(folder.string(), code.message());
    }
    Expected<PlaybackResult> result = play_headless(
        source.location.path, source.location.offset,
        [&](const PresentedFrame &frame) {
            size_t size = static_cast<size_t>(frame.width) * frame.height;
            if (args.has("raw")) {
                raw.insert(raw.end(), frame.pixels, frame.pixels + size);
            } else if (written) {
                std::vector<uint8_t> png = encode_indexed_png(
                    frame.width, frame.height, frame.pixels, frame.colours->data(), 240);
                std::string name = frame_name(folder, index);
                written = write_file_atomically(name, png);
                if (written)
                    partial_frames.files.push_back(name);
            }
            index++;
        },
        nullptr, limits_for(source));
    if (!written) {
        partial_frames.remove();
        return written.error();
    }
    if (!result && index == 0) { // the player showed nothing: nothing to keep
        partial_frames.remove();
        return result.error();
    }
    if (args.has("raw"))
        if (Status raw_written = write_file_atomically(args.value("raw"), raw); !raw_written)
            return raw_written.error();
    return playback_status("frames", result, std::to_string(index) + " frames");
}

Expected<int> run_audio(const Arguments &args) {
    Expected<MovieSource> opened = open_source(args, "raw", "wav");
    if (!opened)
        return opened.error();
    const MovieSource &source = *opened;
    if (source.summary.header.sample_rate == 0)
        return file_error(source.location.path, "the movie has no sound; nothing written");
    std::vector<int16_t> samples;
    Expected<PlaybackResult> result = play_headless(
        source.location.path, source.location.offset, [](const PresentedFrame &) {},
        [&](const int16_t *block, size_t count) {
            samples.insert(samples.end(), block, block + count);
        },
        limits_for(source));
    if (!result && samples.empty())
        return result.error();
    std::vector<uint8_t> out;
    if (args.has("wav")) {
        int rate = source.summary.header.sample_rate > 0 ? source.summary.header.sample_rate : 0;
        out = encode_wav(samples, rate);
    } else {
        for (int16_t sample : samples) {
            out.push_back(static_cast<uint8_t>(sample & 0xFF));
            out.push_back(static_cast<uint8_t>((static_cast<uint16_t>(sample) >> 8) & 0xFF));
        }
    }
    if (Status written = write_file_atomically(args.value(args.has("wav") ? "wav" : "raw"), out);
        !written)
        return written.error();
    return playback_status("audio", result, std::to_string(samples.size()) + " samples");
}

} // namespace

const CommandSpec &frames_command() {
    static const CommandSpec spec = {
        "frames",
        "extract the frames the player presents",
        "FILE [--offset N] (--raw OUT | --png DIR)",
        "Writes every frame the player presents, in order, as width x height palette\n"
        "indices (the rows' padding left out): --raw concatenates them into OUT,\n"
        "--png writes one indexed PNG per frame with the movie's palette into DIR.",
        {offset_option("file offset of the movie (default: found)"),
         text_option("raw", "OUT", "write all frames into this file"),
         text_option("png", "DIR", "write frameNNNNN.png files into this folder")},
        {positionals_check(1, 1, "expects one FILE (see kmov frames --help)"),
         one_of_check("raw", "png", "give one of --raw and --png")},
        run_frames,
    };
    return spec;
}

const CommandSpec &audio_command() {
    static const CommandSpec spec = {
        "audio",
        "extract the sound the player plays",
        "FILE [--offset N] (--raw OUT | --wav OUT)",
        "Writes the samples of every \"adat\" block the player queues, in stream\n"
        "order: --raw as signed 16-bit little-endian, --wav as a mono WAV file at the\n"
        "movie's sample rate.",
        {offset_option("file offset of the movie (default: found)"),
         text_option("raw", "OUT", "write raw samples into this file"),
         text_option("wav", "OUT", "write a WAV file")},
        {positionals_check(1, 1, "expects one FILE (see kmov audio --help)"),
         one_of_check("raw", "wav", "give one of --raw and --wav")},
        run_audio,
    };
    return spec;
}

} // namespace kmov
