// kmov pack, kmov verify, kmov checksum: making and checking self-playing
// programs.
#include "cli.h"
#include "commands.h"
#include "movie_input.h"
#include "pack_command.h"
#include "packer.h"
#include "web_page.h"

#include <cstdio>
#include <filesystem>

namespace kmov {

namespace {

// Parses the command line; returns an exit code to end with, or -1 to go on.
int parse(Arguments &args, const std::vector<std::string> &argv, size_t positional,
          const char *name) {
    if (!args.parse(argv))
        return report(name, {args.error(), 2});
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    if (args.positional().size() != positional)
        return report(name,
                      {std::string("wrong number of arguments (see kmov ") + name + " --help)", 2});
    return -1;
}

// Well-formed UTF-8: no stray or cut-off sequences, nothing overlong, no
// surrogates, nothing above U+10FFFF.
bool is_utf8(const std::string &text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        size_t length = b < 0x80                 ? 1
                        : b >= 0xC2 && b <= 0xDF ? 2
                        : b >= 0xE0 && b <= 0xEF ? 3
                        : b >= 0xF0 && b <= 0xF4 ? 4
                                                 : 0;
        if (length == 0 || text.size() - i < length)
            return false;
        uint32_t c = length == 1 ? b : b & (0x7F >> length);
        for (size_t k = 1; k < length; k++) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

Arguments::Option title_option() {
    return {"title", true, "window title in UTF-8 (default: OUT's name)", "TEXT"};
}

std::vector<Arguments::Option> branding_options() {
    return {{"icon", true,
             "the program's icon: a PNG, ICO or any picture FFmpeg reads, at least 32x32", "FILE"},
            {"version-info", true,
             "the Windows program's version resource: "
             "\"Company=..;Product=..;Version=1.2.3;Copyright=..;Description=..\"",
             "TEXT"}};
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

std::optional<Error> write_program(const std::string &out, std::span<const uint8_t> player,
                                   const std::string &player_name, std::span<const uint8_t> movie,
                                   const std::string &movie_name, const std::string &title) {
    Expected<std::vector<uint8_t>> packed = pack_movie(player, movie, title);
    if (!packed) {
        Error error = packed.error();
        error.message =
            (error.message.find("movie") != std::string::npos ? movie_name : player_name) + ": " +
            error.message;
        return error;
    }
    // A web page is a document, not a program to run.
    if (std::string error = write_file_atomically(out, *packed, !is_web_page(player));
        !error.empty())
        return Error{error};
    return std::nullopt;
}

int command_pack(const std::vector<std::string> &argv) {
    std::vector<Arguments::Option> options = {{"o", true, "the program to write", "OUT"},
                                              {"output", true, "same as -o", "OUT"},
                                              title_option()};
    for (const Arguments::Option &option : branding_options())
        options.push_back(option);
    Arguments args("pack", "PLAYER MOVIE -o OUT [--title TEXT] [--icon FILE] [--version-info TEXT]",
                   "Makes a self-playing program: copies the player template PLAYER (kmovsp,\n"
                   "kmovsp.exe or the web page kmovsp.html, or a packed program, whose movie is\n"
                   "replaced), appends MOVIE and writes the movie's offset, checksum and the\n"
                   "window title into its startup block. --icon replaces the icon of either\n"
                   "program; --version-info the Windows program's version resource (its\n"
                   "Description defaults to the title).",
                   options);
    if (int code = parse(args, argv, 2, "pack"); code >= 0)
        return code;
    std::string out = args.value("o", args.value("output"));
    if (out.empty())
        return report("pack", {"needs -o OUT", 2});
    Expected<std::string> title = program_title(args, out);
    if (!title)
        return report("pack", title.error());

    if (std::optional<Error> error = refuse_output_over_input({out}, args.positional()))
        return report("pack", *error);
    Expected<Branding> branding = parse_branding(args, out);
    if (!branding)
        return report("pack", branding.error());
    Expected<std::vector<uint8_t>> player = read_whole_file(args.positional()[0]);
    if (!player)
        return report("pack", player.error());
    player = brand_program(*player, *branding);
    if (!player)
        return report("pack", {args.positional()[0] + ": " + player.error().message});
    Expected<std::vector<uint8_t>> movie = read_whole_file(args.positional()[1]);
    if (!movie)
        return report("pack", movie.error());
    // A movie cut short or one the player refuses would make a program that
    // fails or stops early: refused here, with what is wrong. A packed
    // program gives the movie inside it, up to its "end " record.
    report_player_errors("pack");
    const std::string &movie_path = args.positional()[1];
    if (Expected<MovieLocation> location = locate_movie(movie_path, std::nullopt); location) {
        Expected<MovieSummary> summary = inspect_movie(*location, true);
        if (summary && !summary->damage.empty())
            return report("pack", {movie_path + ": a damaged movie: " + summary->damage +
                                   " (see kmov info)"});
        if (summary && location->packed) {
            if (location->integrity && !location->integrity->matches())
                return report("pack", {movie_path + ": a packed program whose movie fails its "
                                                    "checksum (see kmov verify)"});
            std::fprintf(stderr, "kmov pack: %s is a packed program: packing the movie inside it\n",
                         movie_path.c_str());
            if (summary->end_offset > location->offset)
                movie->erase(movie->begin() + summary->end_offset, movie->end());
            movie->erase(movie->begin(), movie->begin() + location->offset);
        }
    }
    if (std::optional<Error> error =
            write_program(out, *player, args.positional()[0], *movie, args.positional()[1], *title))
        return report("pack", *error);
    return 0;
}

int command_verify(const std::vector<std::string> &argv) {
    Arguments args("verify", "EXE",
                   "Checks a self-playing program as the player does at start: the appended\n"
                   "movie against the checksum in its startup block, and the movie's header.\n"
                   "Exits 0 when it would play, else 1 with the player's message and what is\n"
                   "wrong in plain words.",
                   {});
    if (int code = parse(args, argv, 1, "verify"); code >= 0)
        return code;
    const std::string &path = args.positional()[0];
    Expected<std::vector<uint8_t>> program = read_whole_file(path);
    if (!program) {
        // The player cannot read itself either, and says what it says to a
        // wrong checksum.
        std::fprintf(stderr, "%s\n", VERIFY_CHECKSUM_MESSAGE);
        return report("verify", {"cannot read " + program.error().message});
    }
    Expected<StartupInfo> verified = verify_program(*program);
    if (verified)
        return 0;
    // What the player would show, in its own words, then what is wrong in
    // plain words; anything else is not a program made by kmov pack.
    const std::string &message = verified.error().message;
    if (message == VERIFY_NOT_A_MOVIE) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), message.c_str());
        return 1;
    }
    if (message != VERIFY_CHECKSUM_MESSAGE)
        return report("verify", {path + ": " + message});
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
    std::string reason = path + ": " + sums;
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
    return report("verify", {reason});
}

int command_checksum(const std::vector<std::string> &argv) {
    Arguments args("checksum", "FILE [--offset N]",
                   "Prints the movie checksum of FILE from offset N (default 0) to its end as 8\n"
                   "lower-case hex digits: the sum of its whole 4-byte little-endian words,\n"
                   "each step rotating the sum left by one bit.",
                   {{"offset", true, "where to start, in bytes", "N"}});
    if (int code = parse(args, argv, 1, "checksum"); code >= 0)
        return code;
    uint64_t offset = 0;
    if (args.has("offset")) {
        std::optional<uint64_t> value = parse_unsigned(args.value("offset"));
        if (!value)
            return report("checksum", {"--offset takes a whole number of bytes", 2});
        offset = *value;
    }
    Expected<std::vector<uint8_t>> bytes = read_whole_file(args.positional()[0]);
    if (!bytes)
        return report("checksum", bytes.error());
    uint32_t sum = 0;
    if (offset < bytes->size())
        sum = movie_checksum(std::span<const uint8_t>(*bytes).subspan(offset));
    std::printf("%08x\n", sum);
    return 0;
}

} // namespace kmov
