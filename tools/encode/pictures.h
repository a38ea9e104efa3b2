// The picture stages of the encoder, each a function of plain data:
//
//   scan_pictures    pass 1: every frame read once, into the colour
//                    histogram and the count; frames kept in memory while
//                    they fit in KEEP_BYTES, else none (pass 2 reads the
//                    input again)
//   pick_palette     the palette: imposed (--palette) or chosen from the
//                    histogram
//   code_pictures    pass 2: each frame mapped onto the palette, coded,
//                    checked by decoding it with the player's decoder, and
//                    measured against its source
#ifndef KMOV_TOOLS_ENCODE_PICTURES_H
#define KMOV_TOOLS_ENCODE_PICTURES_H

#include "cli.h"
#include "encode/media_input.h"
#include "encode/palette.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kmov {

struct Progress {
    // Called after each frame of each pass: pass 1 reads, pass 2 codes.
    // `total` is 0 while it is not known.
    std::function<void(int pass, int done, int total, uint64_t bytes)> update;
};

// Where the pictures come from: the request's inputs, or one black picture
// of black_width x black_height (a movie of sound alone without a cover).
struct PictureInput {
    VideoRequest request;
    bool black = false;
    int black_width = 0, black_height = 0;
    std::string name; // the inputs as messages name them
};

Expected<std::unique_ptr<VideoReader>> open_pictures(const PictureInput &input);

// Frames are kept for the second pass while they fit in this much memory.
constexpr size_t KEEP_BYTES = size_t{768} << 20;

struct PictureScan {
    int width = 0, height = 0;
    int count = 0;             // frames read
    ColourHistogram histogram; // empty unless asked for
    bool all_kept = false;     // `kept` holds every frame (RGBA)
    std::vector<std::vector<uint8_t>> kept;
};

// Pass 1. With `histogram` false the colours are not counted (an imposed
// palette needs none).
Expected<PictureScan> scan_pictures(const PictureInput &input, bool histogram,
                                    const Progress &progress);

// The palette of the movie: the one in `palette_file` when it is named,
// else one chosen from the scan's histogram.
Expected<Palette> pick_palette(const PictureScan &scan, const std::string &palette_file);

struct PictureCoding {
    Palette palette{};
    Dither dither = Dither::Diffusion;
    double lossy = 0;        // 0: exact; else the colour tolerance (delta E)
    int frames = 0;          // frames of the movie: scan.count, or more while the sound plays on
    std::string frames_file; // also write the decoded frames here (raw RGB24), or ""
};

struct CodedPictures {
    // One per frame of the movie: its codes, or empty for a frame that only
    // shows the previous picture again.
    std::vector<std::vector<uint8_t>> payloads;
    uint64_t video_bytes = 0;
    double squared_error = 0; // summed over the pictures, RGB
    double ssim = 0;          // summed over the pictures
    double seconds = 0;       // the pass's time
};

// Pass 2 over the scan's pictures (its kept frames are consumed). Frames
// past scan.count show the last picture again.
Expected<CodedPictures> code_pictures(PictureScan &scan, const PictureInput &input,
                                      const PictureCoding &coding, const Progress &progress);

} // namespace kmov

#endif
