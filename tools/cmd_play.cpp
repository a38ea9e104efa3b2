// kmov play FILE [--scale N] [--player PATH]: plays a movie, or the movie
// of a packed program, in a window of the Linux player itself (its pump,
// window, clicks and sound), packed for the moment into a temporary program.
#include "commands.h"
#include "movie_input.h"
#include "pack_command.h"
#include "packer.h"
#include "player_harness.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kmov {

namespace {

// Writes `program` to a new private file in the temporary folder; returns
// its path, or an error.
Expected<std::string> write_temporary_program(const std::vector<uint8_t> &program) {
    const char *folder = std::getenv("TMPDIR");
    std::string path =
        std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/kmov-play-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        return Error{"cannot make a temporary program in " + path + ": " + std::strerror(errno)};
    size_t written = 0;
    while (written < program.size()) {
        ssize_t n = write(fd, program.data() + written, program.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string reason = std::strerror(errno);
            close(fd);
            unlink(path.c_str());
            return Error{"cannot write the temporary program " + path + ": " + reason};
        }
        written += static_cast<size_t>(n);
    }
    if (fchmod(fd, 0700) != 0 || close(fd) != 0) {
        unlink(path.c_str());
        return Error{"cannot finish the temporary program " + path};
    }
    return path;
}

// Runs the program with the window scale set; its exit code (1 when it did
// not exit by itself). Ctrl-C ends the player; kmov waits for it and tidies.
int run_program(const std::string &path, int scale) {
    struct sigaction ignore = {}, old_int = {}, old_quit = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &old_int);
    sigaction(SIGQUIT, &ignore, &old_quit);
    pid_t child = fork();
    if (child == 0) {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
        setenv("KMOV_PLAYER_SCALE", std::to_string(scale).c_str(), 1);
        execl(path.c_str(), path.c_str(), static_cast<char *>(nullptr));
        std::fprintf(stderr, "kmov play: cannot run the player: %s\n", std::strerror(errno));
        _exit(1);
    }
    int status = 0, code = 1;
    if (child > 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    } else {
        std::fprintf(stderr, "kmov play: cannot start the player: %s\n", std::strerror(errno));
    }
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    return code;
}

Expected<int> run_play(const Arguments &args) {
    const int scale = static_cast<int>(args.whole("scale"));
    const char *display = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0'))
        return Error{"no display to play on (neither DISPLAY nor WAYLAND_DISPLAY is set); kmov "
                     "frames and kmov audio extract without one"};

    // The movie: the file itself, or the one inside a packed program, whole
    // and undamaged (as kmov pack takes it).
    const std::string &path = args.positional()[0];
    Expected<std::vector<uint8_t>> movie = read_whole_file(path);
    if (!movie)
        return movie.error();
    std::string title = std::filesystem::path(path).stem().string();
    Expected<MovieSource> source = open_movie("play", path, std::nullopt, true, Damaged::refuse);
    if (!source)
        return source.error();
    const MovieLocation &location = source->location;
    const MovieSummary &summary = source->summary;
    if (location.packed) {
        if (location.integrity && !location.integrity->matches())
            return file_error(path, "a packed program whose movie fails its checksum (see kmov "
                                    "verify)");
        if (Expected<StartupInfo> startup = find_startup_block(*movie); startup)
            title = cp932_to_utf8(startup->block.window_title);
        if (summary.end_offset > location.offset)
            movie->erase(movie->begin() + summary.end_offset, movie->end());
        movie->erase(movie->begin(), movie->begin() + location.offset);
    }
    std::optional<std::string> title_cp932 = utf8_to_cp932(title);
    if (!title_cp932 || title_cp932->size() >= STARTUP_TITLE_SIZE)
        title_cp932 = "kmov";

    std::string player_path = args.value("player");
    if (!args.has("player")) {
        PlayerSearch search = find_player_template("play");
        if (search.found.empty())
            return Error{"no Linux player template (see kmov make --help): build the native "
                         "preset or give --player PATH"};
        player_path = search.found;
    }
    Expected<std::vector<uint8_t>> player = read_whole_file(player_path);
    if (!player)
        return player.error();
    Expected<std::vector<uint8_t>> program =
        pack_movie(*player, *movie, *title_cp932, {.program = player_path, .movie = path});
    if (!program)
        return program.error();
    Expected<std::string> temporary = write_temporary_program(*program);
    if (!temporary)
        return temporary.error();
    int code = run_program(*temporary, scale);
    unlink(temporary->c_str());
    return code;
}

} // namespace

const CommandSpec &play_command() {
    static const CommandSpec spec = {
        "play",
        "play a movie or a packed program in the Linux player's window",
        "FILE [--scale N] [--player PATH]",
        "Plays a movie, or the movie of a packed program, in the Linux player's own\n"
        "window: a left click pauses, resumes or replays; closing the window ends it.\n"
        "Exits with the player's code (0 after closing, 1 after its error box).\n"
        "Needs a display (DISPLAY or WAYLAND_DISPLAY).",
        // 8: the largest scale the Linux player's window takes.
        {whole_option("scale", "N", "show each pixel as N x N (1 to 8, default 1)", 1, 8,
                      "a whole number from 1 to 8", "1"),
         text_option("player", "PATH",
                     "the Linux player template (default: as kmov make finds it)")},
        {positionals_check(1, 1, "wrong number of arguments (see kmov play --help)")},
        run_play,
    };
    return spec;
}

} // namespace kmov
