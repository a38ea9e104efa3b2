// What `kmov pack` and `kmov make` share: the window title and writing the
// self-playing program.
#ifndef KMOV_TOOLS_PACK_COMMAND_H
#define KMOV_TOOLS_PACK_COMMAND_H

#include "branding.h"
#include "cli.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// The --title option as both commands take it.
Option title_option();

// The window title as the startup block stores it: --title's text, else
// OUT's file name without its extension, in code page 932 when it can hold
// every character, else as UTF-8 behind a byte-order mark. At most 255
// bytes either way; a longer one is an error.
Expected<std::string> program_title(const Arguments &args, const std::string &out);

// --icon FILE and --version-info TEXT, as both commands take them.
std::vector<Option> branding_options();

// The icon and version they ask for: the picture read and checked, the
// version text parsed (its description defaulting to the title, in UTF-8).
Expected<Branding> parse_branding(const Arguments &args, const std::string &out);

// Where the player template for a program named `out` was found (empty
// when nowhere: the Windows one for a name ending in .exe), and the places
// tried before: KMOV_PLAYER (KMOV_PLAYER_EXE), kmov's own folder,
// ../share/kmov/ from it, the build tree.
struct PlayerSearch {
    std::string found;
    std::string variable; // the environment variable that named it, if one did
    std::vector<std::string> tried;
};
PlayerSearch find_player_template(const std::string &out);

// Appends `movie` to the template `player` (replacing a packed program's
// movie), writes the startup block and writes the program to `out`
// through a temporary file beside it, mode 0755 (a web page 0644). Errors
// name the template or the movie by the names given.
Status write_program(const std::string &out, std::span<const uint8_t> player,
                     const std::string &player_name, std::span<const uint8_t> movie,
                     const std::string &movie_name, const std::string &title);

} // namespace kmov

#endif
