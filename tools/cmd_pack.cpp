// kmov pack, kmov verify, kmov checksum: making and checking self-playing
// programs.
#include "commands.h"
#include "movie_input.h"
#include "pack_command.h"
#include "packer.h"
#include "player_harness.h"
#include "web_page.h"

#include <cstdio>
#include <filesystem>

namespace kmov {

Option title_option() {
    return text_option("title", "TEXT", "window title in UTF-8 (default: OUT's name)");
}

std::vector<Option> branding_options() {
    return {text_option("icon", "FILE",
                        "the program's icon: a PNG, ICO or any picture FFmpeg reads, at least "
                        "32x32"),
            text_option("version-info", "TEXT",
                        "the Windows program's version resource: "
                        "\"Company=..;Product=..;Version=1.2.3;Copyright=..;Description=..\"")};
}

Expected<Branding> parse_branding(const Arguments &args, const std::string &out) {
    Branding branding;
    if (args.has("icon")) {
        Expected<RgbaImage> picture = icon_read_picture(args.value("icon"));
        if (!picture)
            return picture.error();
        branding.icon = std::move(*picture);
    }
    if (args.has("version-info")) {
        std::string title =
            args.has("title") ? args.value("title") : std::filesystem::path(out).stem().string();
        Expected<VersionInfo> version = parse_version_info(args.value("version-info"), title, out);
        if (!version)
            return version.error();
        branding.version = std::move(*version);
    }
    return branding;
}

Expected<std::string> program_title(const Arguments &args, const std::string &out) {
    std::string title =
        args.has("title") ? args.value("title") : std::filesystem::path(out).stem().string();
    // Code page 932 when every character has a place in it, as older
    // players read it; else UTF-8 behind a byte-order mark, which the player
    // recognises.
    std::optional<std::string> cp932 = utf8_to_cp932(title);
    if (!cp932 && !is_utf8(title))
        return Error{"the title is not UTF-8 text"};
    std::string stored = cp932 ? *cp932 : UTF8_MARK + title;
    if (stored.size() > STARTUP_TITLE_SIZE - 1)
        return Error{"the title takes " + std::to_string(stored.size()) + " bytes as stored (" +
                     (cp932 ? "code page 932" : "UTF-8 behind a 3-byte mark") + "); at most " +
                     std::to_string(STARTUP_TITLE_SIZE - 1) + " fit"};
    return stored;
}

Status write_program(const std::string &out, std::span<const uint8_t> player,
                     const std::string &player_name, std::span<const uint8_t> movie,
                     const std::string &movie_name, const std::string &title) {
    Expected<std::vector<uint8_t>> packed =
        pack_movie(player, movie, title, {.program = player_name, .movie = movie_name});
    if (!packed)
        return packed.error();
    // A web page is a document, not a program to run.
    return write_file_atomically(out, *packed, !is_web_page(player));
}

namespace {

Expected<int> run_pack(const Arguments &args) {
    const std::string out = args.value("o");
    Expected<std::string> title = program_title(args, out);
    if (!title)
        return title.error();
    if (Status refused = refuse_output_over_input({out}, args.positional()); !refused)
        return refused.error();
    Expected<Branding> branding = parse_branding(args, out);
    if (!branding)
        return branding.error();
    const std::string &player_path = args.positional()[0];
    Expected<std::vector<uint8_t>> player = read_whole_file(player_path);
    if (!player)
        return player.error();
    player = brand_program(*player, *branding);
    if (!player)
        return naming(player.error(), player_path);
    const std::string &movie_path = args.positional()[1];
    Expected<std::vector<uint8_t>> movie = read_whole_file(movie_path);
    if (!movie)
        return movie.error();
    // A movie cut short or one the player refuses would make a program that
    // fails or stops early: refused here, with what is wrong. A packed
    // program gives the movie inside it, up to its "end " record.
    report_player_errors("pack");
    if (Expected<MovieLocation> location = locate_movie(movie_path, std::nullopt); location) {
        Expected<MovieSummary> summary = inspect_movie(*location, true);
        if (summary && !summary->damage.empty())
            return file_error(movie_path,
                              "a damaged movie: " + summary->damage + " (see kmov info)");
        if (summary && location->packed) {
            if (location->integrity && !location->integrity->matches())
                return file_error(movie_path, "a packed program whose movie fails its checksum "
                                              "(see kmov verify)");
            std::fprintf(stderr, "kmov pack: %s is a packed program: packing the movie inside it\n",
                         movie_path.c_str());
            if (summary->end_offset > location->offset)
                movie->erase(movie->begin() + summary->end_offset, movie->end());
            movie->erase(movie->begin(), movie->begin() + location->offset);
        }
    }
    if (Status written = write_program(out, *player, player_path, *movie, movie_path, *title);
        !written)
        return written.error();
    return 0;
}

Expected<int> run_verify(const Arguments &args) {
    const std::string &path = args.positional()[0];
    Expected<std::vector<uint8_t>> program = read_whole_file(path);
    if (!program) {
        // The player cannot read itself either, and says what it says to a
        // wrong checksum.
        std::fprintf(stderr, "%s\n", VERIFY_CHECKSUM_MESSAGE);
        return Error{"cannot read " + program.error().text()};
    }
    VerifyFailure failure;
    Expected<StartupInfo> verified = verify_program(*program, &failure);
    if (verified)
        return 0;
    // What the player would show, in its own words, then what is wrong in
    // plain words; anything else is not a program made by kmov pack.
    const std::string &message = verified.error().message;
    if (failure == VerifyFailure::no_movie) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), message.c_str());
        return 1;
    }
    if (failure == VerifyFailure::no_template)
        return naming(verified.error(), path);
    std::fprintf(stderr, "%s\n", message.c_str());
    Expected<StartupInfo> startup = find_startup_block(*program);
    // A web page's player checks the movie inside it as its whole file.
    const bool page = is_web_page(*program);
    if (page)
        *program = read_web_page(*program)->file;
    const IntegrityCheck check = check_integrity(*program, *startup);
    char sums[96];
    std::snprintf(sums, sizeof sums,
                  "the movie's checksum is %08x, but the startup block says %08x", check.computed,
                  check.stored);
    std::string reason = sums;
    const uint32_t offset = startup->block.movie_offset;
    if (offset >= program->size()) {
        reason += "; the file ends at byte " + std::to_string(program->size()) +
                  ", before the movie's offset " + std::to_string(offset) + " (cut short)";
    } else if (page) {
        reason += " (changed after it was packed)";
    } else if (Expected<MovieLocation> location = locate_movie(path, offset); location) {
        report_player_errors("verify");
        Expected<MovieSummary> summary = inspect_movie(*location, false);
        if (summary && summary->end_offset == 0)
            reason += "; the movie ends at byte " + std::to_string(program->size()) +
                      ", before its \"end \" record (cut short)";
        else
            reason += " (changed after it was packed)";
    }
    return file_error(path, reason);
}

Expected<int> run_checksum(const Arguments &args) {
    const uint64_t offset = args.whole("offset");
    Expected<std::vector<uint8_t>> bytes = read_whole_file(args.positional()[0]);
    if (!bytes)
        return bytes.error();
    uint32_t sum = 0;
    if (offset < bytes->size())
        sum = movie_checksum(std::span<const uint8_t>(*bytes).subspan(offset));
    std::printf("%08x\n", sum);
    return 0;
}

} // namespace

const CommandSpec &pack_command() {
    static const CommandSpec spec = {
        "pack",
        "append a movie to a player template: a self-playing program",
        "PLAYER MOVIE -o OUT [--title TEXT] [--icon FILE] [--version-info TEXT]",
        "Makes a self-playing program: copies the player template PLAYER (kmovsp,\n"
        "kmovsp.exe or the web page kmovsp.html, or a packed program, whose movie is\n"
        "replaced), appends MOVIE and writes the movie's offset, checksum and the\n"
        "window title into its startup block. --icon replaces the icon of either\n"
        "program; --version-info the Windows program's version resource (its\n"
        "Description defaults to the title).",
        joined({text_option("o", "OUT", "the program to write"),
                alias_option("output", "o", "OUT", "same as -o"), title_option()},
               branding_options()),
        {positionals_check(2, 2, "wrong number of arguments (see kmov pack --help)"),
         required_check("o", "needs -o OUT")},
        run_pack,
    };
    return spec;
}

const CommandSpec &verify_command() {
    static const CommandSpec spec = {
        "verify",
        "check a self-playing program as the player does",
        "EXE",
        "Checks a self-playing program as the player does at start: the appended\n"
        "movie against the checksum in its startup block, and the movie's header.\n"
        "Exits 0 when it would play, else 1 with the player's message and what is\n"
        "wrong in plain words.",
        {},
        {positionals_check(1, 1, "wrong number of arguments (see kmov verify --help)")},
        run_verify,
    };
    return spec;
}

const CommandSpec &checksum_command() {
    static const CommandSpec spec = {
        "checksum",
        "print the movie checksum of a file",
        "FILE [--offset N]",
        "Prints the movie checksum of FILE from offset N (default 0) to its end as 8\n"
        "lower-case hex digits: the sum of its whole 4-byte little-endian words,\n"
        "each step rotating the sum left by one bit.",
        {offset_option("where to start, in bytes")},
        {positionals_check(1, 1, "wrong number of arguments (see kmov checksum --help)")},
        run_checksum,
    };
    return spec;
}

} // namespace kmov
