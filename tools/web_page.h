// The web player template (kmovsp.html) and the pages packed from it.
//
// The page carries the player's script with its WebAssembly inline, and two
// elements that kmov pack fills, both base64:
//   <script id="kmov-startup" type="application/octet-stream">  the startup
//       block, 264 bytes as the player's data holds it (offset, checksum,
//       code page 932 title)
//   <script id="kmov-movie" type="application/octet-stream">  the movie
// Before the player starts, the page makes the movie the player's own file
// and puts the block into the player's data, so the player reads and
// checks the movie exactly as a program file: from movie_offset (0 here) to
// the end. An empty element leaves the template's compiled block, and an
// empty file.
#ifndef KMOV_TOOLS_WEB_PAGE_H
#define KMOV_TOOLS_WEB_PAGE_H

#include "error.h"

#include "app/startup_block.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// True for a file that begins as an HTML document ("<!DOCTYPE html", in any
// case): a web player template or a page packed from one, whose elements
// read_web_page checks. A program image never begins so, and packing keeps
// a file's beginning, so a file and its packed copy are always taken alike.
bool is_web_page(std::span<const uint8_t> page);

// The page's startup block and the program file it lays out for the player
// (the decoded movie). A template's empty block reads as all zeros. Errors:
// a page without each of the two elements exactly once (or with one inside
// the other), an element that is not base64, or a block of another size.
struct WebProgram {
    StartupBlock block{};
    bool has_block = false;  // the startup element holds a block
    size_t block_offset = 0; // where the startup element's content begins in the page
    std::vector<uint8_t> file;
};
Expected<WebProgram> read_web_page(std::span<const uint8_t> page);

// The page with `movie` and its block (movie_offset 0, the movie's checksum,
// the title) in its elements; a packed page's movie and block are replaced.
Expected<std::vector<uint8_t>> pack_web_page(std::span<const uint8_t> page,
                                             std::span<const uint8_t> movie,
                                             const std::string &title_cp932);

} // namespace kmov

#endif
