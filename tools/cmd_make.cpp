// kmov make INPUT... -o OUT [--title TEXT] [--player PATH] [encode options]:
// encodes and packs in one step; the movie stays in memory.
#include "commands.h"
#include "encode_command.h"
#include "pack_command.h"
#include "packer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kmov {

namespace fs = std::filesystem;

namespace {

bool ends_in_exe(const std::string &out) {
    std::string extension = fs::path(out).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".exe";
}

// The folder of the running kmov program, or empty when it cannot be told.
fs::path program_folder() {
    std::error_code code;
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    return code ? fs::path() : self.parent_path();
}

// Where the player template for OUT was found (empty when nowhere), and the
// places tried before.
struct PlayerSearch {
    std::string found;
    std::string variable; // the environment variable that named it, if one did
    std::vector<std::string> tried;
};

PlayerSearch find_player_template(const std::string &out) {
    const bool exe = ends_in_exe(out);
    const char *variable = exe ? "KMOV_PLAYER_EXE" : "KMOV_PLAYER";
    PlayerSearch search;
    // A template named in the environment is the one meant: used even when
    // it is missing, so that the error names it rather than another player.
    if (const char *named = std::getenv(variable); named != nullptr && *named != '\0') {
        search.found = named;
        search.variable = variable;
        return search;
    }
    search.tried.push_back(std::string(variable) + " (not set)");
    if (const fs::path kmov_folder = program_folder(); !kmov_folder.empty()) {
        const std::vector<fs::path> places =
            exe ? std::vector<fs::path>{kmov_folder / "kmovsp.exe", kmov_folder / ".." / ".." /
                                                                        "windows" / "app" /
                                                                        "kmovsp.exe"}
                : std::vector<fs::path>{kmov_folder / "kmovsp",
                                        kmov_folder / ".." / "app" / "kmovsp"};
        for (const fs::path &place : places) {
            const fs::path normal = place.lexically_normal();
            std::error_code code;
            if (fs::is_regular_file(normal, code)) {
                search.found = normal.string();
                return search;
            }
            search.tried.push_back(normal.string());
        }
    }
    return search;
}

} // namespace

int command_make(const std::vector<std::string> &argv) {
    std::vector<Arguments::Option> options = {
        {"o", true, "the program to write (a name ending in .exe: the Windows player)", "OUT"},
        title_option(),
        {"player", true, "the player template (default: see above)", "PATH"},
    };
    options.insert(options.end(), encoder_options().begin(), encoder_options().end());
    Arguments args(
        "make", "INPUT... -o OUT [--title TEXT] [--player PATH] [encode options]",
        "Makes a self-playing program from video, images and sound in one step: encodes\n"
        "as kmov encode does and packs the movie as kmov pack does, without a movie\n"
        "file between them. OUT ending in .exe (in any case) takes the Windows player,\n"
        "any other name the Linux one. Unless --player names it, the template is the\n"
        "first of:\n"
        "  KMOV_PLAYER (or KMOV_PLAYER_EXE for .exe), when set\n"
        "  kmovsp (kmovsp.exe) in kmov's own folder\n"
        "  the build tree kmov was built in: ../app/kmovsp from kmov's folder (for .exe\n"
        "  ../../windows/app/kmovsp.exe, the windows preset's build beside it)",
        options);
    if (!args.parse(argv))
        return report("make", {args.error(), 2});
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    const std::string out = args.value("o");
    if (out.empty())
        return report("make", {"no output: give -o OUT", 2});
    if (args.positional().empty())
        return report("make", {"no input (see kmov make --help)", 2});
    Expected<EncodeOptions> encode = parse_encode_options(args);
    if (!encode)
        return report("make", encode.error());
    Expected<std::string> title = program_title(args, out);
    if (!title)
        return report("make", title.error());

    // The template is read and checked before the encode, which may take
    // minutes.
    std::string player_path = args.value("player");
    std::string named_by; // "KMOV_PLAYER: " when the environment named it
    if (!args.has("player")) {
        PlayerSearch search = find_player_template(out);
        if (search.found.empty()) {
            std::string tried;
            for (const std::string &place : search.tried)
                tried += (tried.empty() ? "" : ", ") + place;
            return report("make",
                          {"no player template for " + out + " (tried " + tried +
                           "): build the player (the " + (ends_in_exe(out) ? "windows" : "native") +
                           " preset) or give --player PATH"});
        }
        player_path = search.found;
        if (!search.variable.empty())
            named_by = search.variable + ": ";
    }
    if (std::optional<Error> error =
            refuse_output_over_input({out, encode->frames_file}, {player_path}))
        return report("make", *error);
    Expected<std::vector<uint8_t>> player = read_whole_file(player_path);
    if (!player)
        return report("make", {named_by + player.error().message});
    if (Expected<StartupInfo> block = find_startup_block(*player); !block)
        return report("make", {named_by + player_path + ": " + block.error().message});

    Expected<EncodedMovie> encoded = run_encoder(args, *encode);
    if (!encoded)
        return report("make", encoded.error());
    const std::vector<uint8_t> movie = encoded->movie.bytes();
    if (std::optional<Error> error =
            write_program(out, *player, player_path, movie, "the encoded movie", *title)) {
        if (!encode->frames_file.empty())
            std::remove(encode->frames_file.c_str());
        return report("make", *error);
    }
    print_encode_summary(args, out, encoded->stats);
    return 0;
}

} // namespace kmov
