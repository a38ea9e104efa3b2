// kmov export FILE -o OUT: what the player presents and plays, at the
// movie's own timing, as an ordinary video, animation or sound file.
#include "commands.h"
#include "media_export.h"
#include "movie_input.h"
#include "player_harness.h"

#include <chrono>
#include <cstdio>

namespace kmov {

namespace {

Expected<int> run_export(const Arguments &args) {
    const std::string out = args.value("o");
    Expected<ExportFormat> format = export_format(out);
    if (!format)
        return format.error();
    if (Status refused = refuse_output_over_input({out}, args.positional()); !refused)
        return refused.error();

    Expected<MovieSource> source =
        open_movie("export", args.positional()[0], std::nullopt, false, Damaged::refuse);
    if (!source)
        return source.error();
    const MovieLocation &location = source->location;
    const MovieSummary &summary = source->summary;
    const MovieHeader &header = summary.header;
    if (!format->video && header.sample_rate <= 0)
        return file_error(location.path, "the movie has no sound");

    auto frames_of = summary.tags.find(TAG_VBLT);
    const int64_t frames = frames_of != summary.tags.end() ? frames_of->second : 0;
    const double fps = summary.duration_ms > 0 && frames > 0
                           ? double(frames) * 1000.0 / double(summary.duration_ms)
                           : 15.0;
    Expected<std::unique_ptr<MediaExport>> writer =
        MediaExport::open(out, header.width, header.height, fps, header.sample_rate);
    if (!writer)
        return writer.error();

    const bool progress = shows_progress(args);
    const auto started = std::chrono::steady_clock::now();
    int64_t done = 0;
    Status added; // the first frame the export could not take stops the adding
    Expected<PlaybackResult> played = play_headless(
        location.path, location.offset,
        [&](const PresentedFrame &frame) {
            if (!added || !format->video)
                return;
            added = (*writer)->add_frame(frame.time_ms, frame.pixels, *frame.colours);
            done++;
            if (progress && frames > 0) {
                int width = 30, filled = int(done * width / std::max<int64_t>(frames, done));
                std::fprintf(stderr, "\rexport [%-*s] %lld/%lld frames", width,
                             std::string(size_t(filled), '#').c_str(), (long long)done,
                             (long long)frames);
            }
        },
        [&](const int16_t *samples, size_t count) { (*writer)->add_sound(samples, count); });
    if (progress && format->video)
        std::fputc('\n', stderr);
    if (!played)
        return played.error();
    if (!added)
        return added.error();
    if (Status finished = (*writer)->finish(played->duration_ms); !finished)
        return finished.error();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string pictures =
        format->video ? ", " + std::to_string(done) + " frames" : std::string();
    std::fprintf(stderr, "%s: %s%s, %.1f s of movie in %.1f s%s\n", out.c_str(), format->what,
                 pictures.c_str(), played->duration_ms / 1000.0, seconds,
                 format->video && !format->sound && header.sample_rate > 0
                     ? " (the sound is not kept: the format has none)"
                     : "");
    return 0;
}

} // namespace

const CommandSpec &export_command() {
    static const CommandSpec spec = {
        "export",
        "write what the player shows and plays as a video, GIF or sound file",
        "FILE -o OUT [--progress | --quiet]",
        "Writes what the player presents and plays, at the movie's own timing, into\n"
        "the format OUT's extension names: .mp4 (H.264 with AAC), .webm (VP9 with\n"
        "Opus), .mkv (FFV1, lossless, with FLAC), .gif, .apng, or .wav and .flac for\n"
        "the sound alone. FILE is a movie or a packed program; a damaged movie is\n"
        "refused as kmov frames refuses it.",
        {text_option("o", "OUT", "the file to write"), progress_options()[0],
         progress_options()[1]},
        {positionals_check(1, 1, "expects one FILE (see kmov export --help)"),
         required_check("o", "needs -o OUT")},
        run_export,
    };
    return spec;
}

} // namespace kmov
