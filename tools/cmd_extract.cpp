// kmov frames and kmov audio: what the player presents and plays, extracted
// by running the player's own code.
#include "cli.h"
#include "commands.h"
#include "image_io.h"
#include "movie_input.h"
#include "player_harness.h"

#include <cstdio>
#include <filesystem>

namespace kmov {

namespace {

struct Source {
    MovieLocation location;
    MovieSummary summary;
};

// Parses FILE [--offset N] and one of two output options; returns an exit
// code to end with, or -1 with `source` filled to go on.
int open_source(Arguments &args, const std::vector<std::string> &argv, const char *name,
                const char *first, const char *second, Source &source) {
    if (!args.parse(argv))
        return report(name, {args.error(), 2});
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    if (args.positional().size() != 1)
        return report(name, {std::string("expects one FILE (see kmov ") + name + " --help)", 2});
    if (args.has(first) == args.has(second))
        return report(name, {std::string("give one of --") + first + " and --" + second, 2});
    if (std::optional<Error> error =
            refuse_output_over_input({args.value(first), args.value(second)}, args.positional()))
        return report(name, *error);
    std::optional<uint64_t> offset;
    if (args.has("offset")) {
        offset = parse_unsigned(args.value("offset"));
        if (!offset)
            return report(name, {"--offset takes a whole number of bytes", 2});
    }
    report_player_errors(name);
    Expected<MovieLocation> location = locate_movie(args.positional()[0], offset);
    if (!location)
        return report(name, location.error());
    Expected<MovieSummary> summary = inspect_movie(*location, false);
    if (!summary)
        return report(name, summary.error());
    // A damaged movie is played all the same: what the player shows of it
    // up to the damage can still be looked at.
    if (!summary->damage.empty())
        std::fprintf(stderr, "kmov %s: warning: %s: a damaged movie: %s\n", name,
                     location->path.c_str(), summary->damage.c_str());
    source = {*location, *summary};
    return -1;
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
                     name, result.error().message.c_str(), what.c_str());
        return 1;
    }
    if (!result->ended)
        std::fprintf(stderr, "kmov %s: warning: the movie runs out; the %s before are written\n",
                     name, what.c_str());
    return 0;
}

// A damaged movie's player may wait at the damage for records that never
// come: its playback stops a little after the records the file holds.
PlaybackLimits limits_for(const Source &source) {
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

} // namespace

int command_frames(const std::vector<std::string> &argv) {
    Arguments args("frames", "FILE [--offset N] (--raw OUT | --png DIR)",
                   "Writes every frame the player presents, in order, as width x height palette\n"
                   "indices (the rows' padding left out): --raw concatenates them into OUT,\n"
                   "--png writes one indexed PNG per frame with the movie's palette into DIR.",
                   {{"offset", true, "file offset of the movie (default: found)", "N"},
                    {"raw", true, "write all frames into this file", "OUT"},
                    {"png", true, "write frameNNNNN.png files into this folder", "DIR"}});
    Source source;
    if (int code = open_source(args, argv, "frames", "raw", "png", source); code >= 0)
        return code;

    std::vector<uint8_t> raw;
    std::filesystem::path folder;
    std::string error;
    uint64_t index = 0;
    PartialFrames partial_frames;
    if (args.has("png")) {
        folder = args.value("png");
        if (std::error_code code = make_folders(folder, partial_frames); code)
            return report("frames", {folder.string() + ": " + code.message()});
    }
    Expected<PlaybackResult> result = play_headless(
        source.location.path, source.location.offset,
        [&](const PresentedFrame &frame) {
            size_t size = static_cast<size_t>(frame.width) * frame.height;
            if (args.has("raw")) {
                raw.insert(raw.end(), frame.pixels, frame.pixels + size);
            } else if (error.empty()) {
                std::vector<uint8_t> png = encode_indexed_png(
                    frame.width, frame.height, frame.pixels, frame.colours->data(), 240);
                std::string name = frame_name(folder, index);
                error = write_file_atomically(name, png);
                if (error.empty())
                    partial_frames.files.push_back(name);
            }
            index++;
        },
        nullptr, limits_for(source));
    if (!error.empty()) {
        partial_frames.remove();
        return report("frames", {error});
    }
    if (!result && index == 0) { // the player showed nothing: nothing to keep
        partial_frames.remove();
        return report("frames", result.error());
    }
    if (args.has("raw"))
        if (std::string e = write_file_atomically(args.value("raw"), raw); !e.empty())
            return report("frames", {e});
    return playback_status("frames", result, std::to_string(index) + " frames");
}

int command_audio(const std::vector<std::string> &argv) {
    Arguments args("audio", "FILE [--offset N] (--raw OUT | --wav OUT)",
                   "Writes the samples of every \"adat\" block the player queues, in stream\n"
                   "order: --raw as signed 16-bit little-endian, --wav as a mono WAV file at the\n"
                   "movie's sample rate.",
                   {{"offset", true, "file offset of the movie (default: found)", "N"},
                    {"raw", true, "write raw samples into this file", "OUT"},
                    {"wav", true, "write a WAV file", "OUT"}});
    Source source;
    if (int code = open_source(args, argv, "audio", "raw", "wav", source); code >= 0)
        return code;
    if (source.summary.header.sample_rate == 0)
        return report("audio",
                      {source.location.path + ": the movie has no sound; nothing written"});
    std::vector<int16_t> samples;
    Expected<PlaybackResult> result = play_headless(
        source.location.path, source.location.offset, [](const PresentedFrame &) {},
        [&](const int16_t *block, size_t count) {
            samples.insert(samples.end(), block, block + count);
        },
        limits_for(source));
    if (!result && samples.empty())
        return report("audio", result.error());
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
    if (std::string e = write_file_atomically(args.value(args.has("wav") ? "wav" : "raw"), out);
        !e.empty())
        return report("audio", {e});
    return playback_status("audio", result, std::to_string(samples.size()) + " samples");
}

} // namespace kmov
