// Finding and reading the movie a command is pointed at: a movie file, or
// the movie packed into a self-playing executable.
#ifndef KMOV_TOOLS_MOVIE_INPUT_H
#define KMOV_TOOLS_MOVIE_INPUT_H

#include "error.h"
#include "movie_writer.h"
#include "packer.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kmov {

struct MovieLocation {
    std::string path;
    int64_t file_size = 0;
    int64_t offset = 0;  // file offset of the movie's magic
    bool packed = false; // found through a packed executable's startup block
    // For a packed executable: the player's check of the movie against the
    // startup block's checksum.
    std::optional<IntegrityCheck> integrity;
};

// Checks that `path` can be read and places the movie in it: at `offset`
// when given, else where a packed executable's startup block says, else 0.
Expected<MovieLocation> locate_movie(const std::string &path, std::optional<uint64_t> offset);

// What a walk over a movie found.
struct MovieSummary {
    MovieHeader header{};
    Palette palette{};
    int64_t records = 0;
    std::map<uint32_t, int64_t> tags; // tag word -> count
    uint64_t duration_ms = 0;         // sum of every record's delay
    uint32_t largest_payload = 0;
    int64_t end_offset = 0; // file offset just behind the "end " record; 0: none
    std::vector<std::string> problems;
    // The first of the problems that mean the movie is damaged: a file cut
    // short, records that cannot be read, or (when the player was asked)
    // the player's own message when it stops the movie. Empty when the
    // movie plays as made.
    std::string damage;
};

// The movie's palette, read by the player's own header reader; an Error
// when the magic is wrong.
Expected<Palette> read_movie_palette(const MovieLocation &location);

// Reads the header and palette through the player's own reader and walks
// the record stream. A wrong magic is an Error ("PATH: not a kmov file");
// everything else that is wrong with the movie lands in `problems`. With
// `ask_player`, a movie whose records can all be read is also played to its
// end by the player, guarded (see player_harness.h): what it refuses is
// damage, in its own words.
Expected<MovieSummary> inspect_movie(const MovieLocation &location, bool ask_player);

// The movie a command is pointed at, located and walked.
struct MovieSource {
    MovieLocation location;
    MovieSummary summary;
};

// What a command does with a damaged movie: refuses it ("PATH: a damaged
// movie: ... (see kmov info)"), or goes on after a warning on stderr.
enum class Damaged { refuse, warn };

// locate_movie and inspect_movie for `command`, whose player messages are
// printed as its own (report_player_errors) from here on.
Expected<MovieSource> open_movie(const std::string &command, const std::string &path,
                                 std::optional<uint64_t> offset, bool ask_player, Damaged damaged);

// "vdat", or the tag's bytes in hex when they are not printable.
std::string tag_text(uint32_t tag);

} // namespace kmov

#endif
