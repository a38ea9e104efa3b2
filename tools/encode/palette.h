// The movie's one palette of 240 colours and the mapping of true-colour
// frames onto it.
//
// The palette is chosen with libimagequant from a histogram of every pixel
// of every frame (not the first frame alone); a movie with 240 colours or
// fewer gets exactly its own colours. A palette can also be imposed from
// another movie, a GIMP .gpl or a JASC .pal file.
//
// The remapping is stable from frame to frame: a pixel whose source colour
// has not moved since it was last mapped keeps its index, so an area that
// does not change in the source does not change in the movie (no shimmer,
// and the coder skips it).
#ifndef KMOV_TOOLS_ENCODE_PALETTE_H
#define KMOV_TOOLS_ENCODE_PALETTE_H

#include "cli.h"
#include "movie_writer.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace kmov {

// Colour counts of the frames seen so far, at 6 bits per channel with the
// mean colour of each cell, plus the exact colours while there are few.
class ColourHistogram {
  public:
    ColourHistogram();
    void add(const uint8_t *rgba, size_t pixels);
    bool empty() const { return pixels_ == 0; }

  private:
    friend Expected<Palette> choose_palette(const ColourHistogram &histogram);
    std::vector<uint32_t> count_;
    std::vector<uint64_t> sum_; // r, g, b per cell
    std::unordered_set<uint32_t> exact_;
    bool few_ = true;
    uint64_t pixels_ = 0;
};

Expected<Palette> choose_palette(const ColourHistogram &histogram);

// Reads a palette: the palette of a kmov movie file (read as the player
// reads it), a GIMP palette (.gpl) or a JASC palette (.pal). More than 240
// colours is an error; fewer are padded with the last one.
Expected<Palette> load_palette(const std::string &path);

enum class Dither { None, Ordered, Diffusion };

class Remapper {
  public:
    Remapper(const Palette &palette, Dither dither, int width, int height);

    // Maps one RGBA frame to palette indices (width x height, no padding).
    void remap(const uint8_t *rgba, std::vector<uint8_t> &indices);

    // The index of the palette colour nearest to (r, g, b).
    uint8_t nearest(int r, int g, int b);

  private:
    const std::vector<uint8_t> &candidates(int cell);
    uint8_t search_nearest(int r, int g, int b);

    Palette palette_;
    Dither dither_;
    int width_, height_;
    int spread_;                      // ordered dither amplitude, from the palette's spacing
    std::vector<int32_t> cell_start_; // per 6-bit cell: offset into cell_list_, -1 unknown
    std::vector<uint8_t> cell_count_;
    std::vector<uint8_t> cell_list_;
    // Per 24-bit colour: the nearest index once searched (a palette index is
    // below 240, so UNKNOWN cannot be one).
    static constexpr uint8_t UNKNOWN = 0xFF;
    std::vector<uint8_t> exact_;
    std::vector<uint8_t> scratch_;
    // Per pixel: the source colour when its index was last chosen, and it.
    std::vector<uint8_t> reference_;
    std::vector<uint8_t> previous_;
    bool have_previous_ = false;
    std::vector<int16_t> error_; // diffusion: two rows of r, g, b errors
};

// Colour distance used throughout (weighted squared RGB).
inline int colour_distance(int dr, int dg, int db) {
    return 2 * dr * dr + 4 * dg * dg + 3 * db * db;
}

// Lossy coding's tolerance table for the palette: entry [a * 240 + b] is 1
// when colour b may stand for colour a, that is when they differ by less
// than `level` in CIE L*a*b* (delta E 1976).
std::vector<uint8_t> tolerance_table(const Palette &palette, double level);

} // namespace kmov

#endif
