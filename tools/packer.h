// Packing a movie into a player template, and reading a packed program's
// startup block back.
#ifndef KMOV_TOOLS_PACKER_H
#define KMOV_TOOLS_PACKER_H

#include "error.h"
#include "file_io.h"

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
// one, is refused. For a web page (web_page.h) it is the page's block, and
// `packed` says whether its movie is there.
Expected<StartupInfo> find_startup_block(std::span<const uint8_t> program);

// The movie checksum over whole little-endian words; 1 to 3 trailing bytes
// are not part of it.
uint32_t movie_checksum(std::span<const uint8_t> bytes);

// The template's image followed by the movie, with the block written:
// movie_offset = the image's length, movie_checksum over the movie, and the
// title (its stored bytes, at most 255). Packing a packed program replaces
// its movie. A Windows (PE) program also gets zeros behind the movie up to
// a multiple of 8 bytes (inside the checksum) and its header's CheckSum
// set for the new file; a signed one is refused (pack first, then sign). A
// web page takes the movie and block in its elements (pack_web_page).
// An error names the input at fault, the template or the movie, by `names`
// (one about the title names neither).
struct PackNames {
    std::string program = "the template";
    std::string movie = "the movie";
};
Expected<std::vector<uint8_t>> pack_movie(std::span<const uint8_t> program,
                                          std::span<const uint8_t> movie, const std::string &title,
                                          const PackNames &names = {});

// The PE header's CheckSum of `file`: its 16-bit little-endian words (an
// odd last byte padded with zero) added with the carries folded back, the
// 4 bytes of the field at `checksum_offset` counting as zero, plus the
// file's length.
uint32_t pe_checksum(std::span<const uint8_t> file, size_t checksum_offset);

// The player's message for a movie that fails its checksum ("the data are
// not correct"), in UTF-8 (defined where the tools' character set holds).
extern const char VERIFY_CHECKSUM_MESSAGE[];
// ... and for a movie_offset at which no movie's magic lies.
extern const char VERIFY_NOT_A_MOVIE[];

// The player's integrity check of a program: the checksum of every whole
// word from the block's movie_offset to the end of the file (to the
// certificate table, when a signature ends the file behind the movie),
// against the block's. An offset beyond the end sums nothing.
struct IntegrityCheck {
    uint32_t stored = 0;   // the startup block's movie_checksum
    uint32_t computed = 0; // what the player computes
    bool matches() const { return stored == computed; }
};
IntegrityCheck check_integrity(std::span<const uint8_t> program, const StartupInfo &startup);

// Checks a program as the player does at start: the checksum of every whole
// word from movie_offset to the end (to the certificate table, when one
// ends the file behind the movie) against the block's, then the movie's
// magic at movie_offset; a web page over its movie. Errors:
// find_startup_block's, VERIFY_CHECKSUM_MESSAGE, or VERIFY_NOT_A_MOVIE;
// `why` (when given) says which of the three.
enum class VerifyFailure {
    no_template, // no startup block that can be read: not a program kmov made
    checksum,    // the movie fails the block's checksum
    no_movie,    // no movie's magic at the block's offset
};
Expected<StartupInfo> verify_program(std::span<const uint8_t> program,
                                     VerifyFailure *why = nullptr);

} // namespace kmov

#endif
