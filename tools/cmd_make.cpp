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

// The player OUT's name asks for, by its extension in any case: .exe the
// Windows one, .html (.htm) the web page, anything else the Linux one.
enum class PlayerKind { linux_program, windows, web };

PlayerKind player_kind(const std::string &out) {
    std::string extension = fs::path(out).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".exe")
        return PlayerKind::windows;
    if (extension == ".html" || extension == ".htm")
        return PlayerKind::web;
    return PlayerKind::linux_program;
}

// The folder of the running kmov program, or empty when it cannot be told.
fs::path program_folder() {
    std::error_code code;
    fs::path self = fs::read_symlink("/proc/self/exe", code);
    return code ? fs::path() : self.parent_path();
}

} // namespace

PlayerSearch find_player_template(const std::string &out) {
    const PlayerKind kind = player_kind(out);
    const char *variable = kind == PlayerKind::windows ? "KMOV_PLAYER_EXE"
                           : kind == PlayerKind::web   ? "KMOV_PLAYER_HTML"
                                                       : "KMOV_PLAYER";
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
        // Beside kmov; where an installed kmov's templates are (bin/ and
        // share/kmov/ under one prefix, wherever it was moved); the build
        // tree: the native preset's player, or the windows or web preset's
        // build beside it.
        const char *name = kind == PlayerKind::windows ? "kmovsp.exe"
                           : kind == PlayerKind::web   ? "kmovsp.html"
                                                       : "kmovsp";
        const fs::path built = kind == PlayerKind::windows ? kmov_folder / ".." / ".." / "windows"
                               : kind == PlayerKind::web   ? kmov_folder / ".." / ".." / "web"
                                                           : kmov_folder / "..";
        const std::vector<fs::path> places = {
            kmov_folder / name, kmov_folder / ".." / "share" / "kmov" / name, built / "app" / name};
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

namespace {

Expected<int> run_make(const Arguments &args) {
    const std::string out = args.value("o");
    Expected<EncodeOptions> encode = parse_encode_options(args);
    if (!encode)
        return encode.error();
    Expected<std::string> title = program_title(args, out);
    if (!title)
        return title.error();

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
            return Error{"no player template for " + out + " (tried " + tried +
                         "): build the player (the " +
                         (player_kind(out) == PlayerKind::windows ? "windows"
                          : player_kind(out) == PlayerKind::web   ? "web"
                                                                  : "native") +
                         " preset) or give --player PATH"};
        }
        player_path = search.found;
        if (!search.variable.empty())
            named_by = search.variable + ": ";
    }
    if (Status refused = refuse_output_over_input({out, encode->frames_file}, {player_path});
        !refused)
        return refused.error();
    Expected<Branding> branding = parse_branding(args, out);
    if (!branding)
        return branding.error();
    // An error about the template says which variable named it, if one did.
    auto about_template = [&](const Error &error) {
        Error named = naming(error, player_path);
        named.file = named_by + named.file;
        return named;
    };
    Expected<std::vector<uint8_t>> player = read_whole_file(player_path);
    if (!player)
        return about_template(player.error());
    if (Expected<StartupInfo> block = find_startup_block(*player); !block)
        return about_template(block.error());
    player = brand_program(*player, *branding);
    if (!player)
        return about_template(player.error());

    Expected<EncodedMovie> encoded = run_encoder(args, *encode, player->size());
    if (!encoded)
        return encoded.error();
    const std::vector<uint8_t> movie = encoded->movie.bytes();
    if (Status written =
            write_program(out, *player, player_path, movie, "the encoded movie", *title);
        !written) {
        if (!encode->frames_file.empty())
            std::remove(encode->frames_file.c_str());
        return written.error();
    }
    print_encode_summary(args, out, encoded->stats);
    return 0;
}

} // namespace

const CommandSpec &make_command() {
    static const CommandSpec spec = {
        "make",
        "encode and pack in one step: a self-playing program",
        "INPUT... -o OUT [--title TEXT] [--player PATH] [--icon FILE] [--version-info TEXT] "
        "[encode options]",
        "Makes a self-playing program from video, images and sound in one step: encodes\n"
        "as kmov encode does and packs the movie as kmov pack does, without a movie\n"
        "file between them. OUT ending in .exe (in any case) takes the Windows player,\n"
        "in .html or .htm the web page (kmovsp.html), any other name the Linux one.\n"
        "--icon and --version-info brand the program as kmov pack does. Unless --player\n"
        "names it, the template is the first of:\n"
        "  KMOV_PLAYER (KMOV_PLAYER_EXE for .exe, KMOV_PLAYER_HTML for .html), when set\n"
        "  kmovsp (kmovsp.exe, kmovsp.html) in kmov's own folder\n"
        "  ../share/kmov/kmovsp (.exe, .html) from kmov's folder: an installed kmov\n"
        "  the build tree kmov was built in: ../app/kmovsp from kmov's folder (for .exe\n"
        "  ../../windows/app/kmovsp.exe, for .html ../../web/app/kmovsp.html: the\n"
        "  windows or web preset's build beside it)",
        joined(joined({text_option("o", "OUT",
                                   "the program to write (a name ending in .exe: the Windows "
                                   "player, .html: the web page)"),
                       title_option(),
                       text_option("player", "PATH", "the player template (default: see above)")},
                      encoder_options()),
               branding_options()),
        joined({required_check("o", "no output: give -o OUT")}, encoder_checks("make")),
        run_make,
    };
    return spec;
}

} // namespace kmov
