// kmov demo -o OUT.kmov: makes the demo movie.
#include "cli.h"
#include "commands.h"
#include "demo.h"
#include "demo_movie.h"

#include <cstdio>
#include <unistd.h>

namespace kmov {

int command_demo(const std::vector<std::string> &argv) {
    Arguments args("demo", "-o OUT.kmov [--json]",
                   "Makes the demo movie: a 640x480 scene of 97 frames at 15 frames per second\n"
                   "on one 240-colour palette, with a sound track at 22050 Hz (4-bit codes),\n"
                   "all drawn and synthesized by kmov itself.",
                   {{"o", true, "the movie to write", "OUT"},
                    {"output", true, "same as -o", "OUT"},
                    {"json", false, "print a summary as JSON on stdout"}});
    if (!args.parse(argv))
        return report("demo", {args.error(), 2});
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    std::string out = args.value("o", args.value("output"));
    if (out.empty() || !args.positional().empty())
        return report("demo", {"needs -o OUT and nothing else (see kmov demo --help)", 2});
    const bool terminal = isatty(STDERR_FILENO) != 0;
    demo::DemoStats stats;
    Expected<MovieWriter> movie = demo::make_demo_movie(&stats, [terminal](int done) {
        if (terminal)
            std::fprintf(stderr, "\rkmov demo: frame %d/%d", done, demo::FRAME_COUNT);
    });
    if (terminal)
        std::fprintf(stderr, "\n");
    if (!movie)
        return report("demo", movie.error());
    if (std::string error = movie->write(out); !error.empty())
        return report("demo", {error});
    const std::vector<uint8_t> bytes = movie->bytes();
    if (args.has("json")) {
        std::printf("{\"file\": \"%s\", \"bytes\": %zu, \"frames\": %d, \"video_bytes\": %llu, "
                    "\"audio_snr_db\": %.2f, \"literals\": %llu, \"operations\": {",
                    out.c_str(), bytes.size(), demo::FRAME_COUNT,
                    static_cast<unsigned long long>(stats.video_bytes), stats.audio_snr,
                    static_cast<unsigned long long>(stats.literals));
        for (int op = 0; op < 16; op++)
            std::printf("%s\"%d\": %llu", op == 0 ? "" : ", ", 240 + op,
                        static_cast<unsigned long long>(stats.operations[op]));
        std::printf("}}\n");
    } else {
        std::printf("%s: %zu bytes, %d frames, sound %.1f dB SNR\n", out.c_str(), bytes.size(),
                    demo::FRAME_COUNT, stats.audio_snr);
    }
    return 0;
}

} // namespace kmov
