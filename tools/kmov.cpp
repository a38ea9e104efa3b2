// kmov: makes, packs, inspects and extracts self-playing movies.
#include "commands.h"
#include "kmov_version.h"

#include <cstdio>
#include <cstring>

namespace kmov {

const std::vector<Command> &commands() {
    static const std::vector<Command> list = {
        {"encode", "make a movie from video, images and sound", command_encode},
        {"pack", "append a movie to a player template: a self-playing program", command_pack},
        {"make", "encode and pack in one step: a self-playing program", command_make},
        {"verify", "check a self-playing program as the player does", command_verify},
        {"play", "play a movie or a packed program in the Linux player's window", command_play},
        {"info", "show a movie's header, palette, records and problems", command_info},
        {"frames", "extract the frames the player presents", command_frames},
        {"audio", "extract the sound the player plays", command_audio},
        {"export", "write what the player shows and plays as a video, GIF or sound file",
         command_export},
        {"checksum", "print the movie checksum of a file", command_checksum},
        {"demo", "make the demo movie (drawn and synthesized by kmov)", command_demo},
    };
    return list;
}

} // namespace kmov

static void usage(FILE *out) {
    std::fprintf(out, "usage: kmov COMMAND [ARGS...]\n\ncommands:\n");
    for (const kmov::Command &command : kmov::commands())
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(out, "\n'kmov COMMAND --help' describes one command.\n");
}

int main(int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        usage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("kmov %s\n", KMOV_VERSION);
        return 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const kmov::Command &command : kmov::commands())
        if (std::strcmp(argv[1], command.name) == 0)
            return command.run(args);
    std::fprintf(stderr, "kmov: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
