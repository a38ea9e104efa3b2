// kmov demo -o OUT.kmov: makes the demo movie.
#include "commands.h"
#include "demo.h"
#include "demo_movie.h"

#include <cstdio>
#include <unistd.h>

namespace kmov {

namespace {

Expected<int> run_demo(const Arguments &args) {
    const std::string out = args.value("o");
    const bool terminal = isatty(STDERR_FILENO) != 0;
    demo::DemoStats stats;
    Expected<MovieWriter> movie = demo::make_demo_movie(&stats, [terminal](int done) {
        if (terminal)
            std::fprintf(stderr, "\rkmov demo: frame %d/%d", done, demo::FRAME_COUNT);
    });
    if (terminal)
        std::fprintf(stderr, "\n");
    if (!movie)
        return movie.error();
    if (Status written = movie->write(out); !written)
        return written.error();
    const std::vector<uint8_t> bytes = movie->bytes();
    if (args.has("json")) {
        JsonMembers operations;
        for (int op = 0; op < 16; op++)
            operations.push_back({std::to_string(240 + op), std::to_string(stats.operations[op])});
        std::printf("%s\n",
                    json_inline_object({
                                           {"file", json_string(out)},
                                           {"bytes", std::to_string(bytes.size())},
                                           {"frames", std::to_string(demo::FRAME_COUNT)},
                                           {"video_bytes", std::to_string(stats.video_bytes)},
                                           {"audio_snr_db", json_number(stats.audio_snr, 2)},
                                           {"literals", std::to_string(stats.literals)},
                                           {"operations", json_inline_object(operations)},
                                       })
                        .c_str());
    } else {
        std::printf("%s: %zu bytes, %d frames, sound %.1f dB SNR\n", out.c_str(), bytes.size(),
                    demo::FRAME_COUNT, stats.audio_snr);
    }
    return 0;
}

} // namespace

const CommandSpec &demo_command() {
    static const CommandSpec spec = {
        "demo",
        "make the demo movie (drawn and synthesized by kmov)",
        "-o OUT.kmov [--json]",
        "Makes the demo movie: a 640x480 scene of 97 frames at 15 frames per second\n"
        "on one 240-colour palette, with a sound track at 22050 Hz (4-bit codes),\n"
        "all drawn and synthesized by kmov itself.",
        {text_option("o", "OUT", "the movie to write"),
         alias_option("output", "o", "OUT", "same as -o"),
         flag_option("json", "print a summary as JSON on stdout")},
        {required_check("o", "needs -o OUT and nothing else (see kmov demo --help)"),
         positionals_check(0, 0, "needs -o OUT and nothing else (see kmov demo --help)")},
        run_demo,
    };
    return spec;
}

} // namespace kmov
