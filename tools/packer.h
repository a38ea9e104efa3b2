// Packing a movie into a player template, and reading a packed program's
// startup block back.
#ifndef KMOV_TOOLS_PACKER_H
#define KMOV_TOOLS_PACKER_H

#include "cli.h"

#include "app/startup_block.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// Where the startup block of a program file is, and what it says.
struct StartupInfo {
    size_t block_offset = 0; // file offset of the block (behind the marker)
    StartupBlock block{};
    // The block names a movie that is there: movie_offset inside the file
    // and the magic at it.
    bool packed = false;
};

// Finds the one startup block in a player template or packed program. A
// file with none, or (in its image, in front of a packed movie) more than
// one, is refused.
Expected<StartupInfo> find_startup_block(std::span<const uint8_t> program);

// The movie checksum over whole little-endian words; 1 to 3 trailing bytes
// are not part of it.
uint32_t movie_checksum(std::span<const uint8_t> bytes);

// The template's image followed by the movie, with the block written:
// movie_offset = the image's length, movie_checksum over the movie, and the
// title (code page 932, at most 255 bytes). Packing a packed program
// replaces its movie.
Expected<std::vector<uint8_t>> pack_movie(std::span<const uint8_t> program,
                                          std::span<const uint8_t> movie,
                                          const std::string &title_cp932);

// Reads a whole file.
Expected<std::vector<uint8_t>> read_whole_file(const std::string &path);

} // namespace kmov

#endif
