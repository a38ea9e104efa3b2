// kmov: makes, packs, inspects and extracts self-playing movies.
#include "commands.h"
#include "kmov_version.h"

#include <cstdio>
#include <cstring>

namespace kmov {

const std::vector<const CommandSpec *> &commands() {
    static const std::vector<const CommandSpec *> list = {
        &encode_command(), &pack_command(),     &make_command(),   &verify_command(),
        &play_command(),   &info_command(),     &frames_command(), &audio_command(),
        &export_command(), &checksum_command(), &demo_command(),
    };
    return list;
}

} // namespace kmov

static void usage(FILE *out) {
    std::fprintf(out, "usage: kmov COMMAND [ARGS...]\n\ncommands:\n");
    for (const kmov::CommandSpec *command : kmov::commands())
        std::fprintf(out, "  %-10s %s\n", command->name.c_str(), command->summary.c_str());
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
    for (const kmov::CommandSpec *command : kmov::commands())
        if (command->name == argv[1])
            return kmov::run_command(*command, args);
    std::fprintf(stderr, "kmov: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
