// The encoder: from video, images and sound to a movie, in stages with
// plain data between them (each can be run alone):
//
//   pictures, pass 1   scan_pictures: every frame into the colour histogram
//   palette            pick_palette: chosen from the histogram, or imposed
//   sound              read whole; the movie lasts as long as the longer of
//                      its pictures and its sound (the last picture is shown
//                      again each frame while the sound plays on, and sound
//                      alone gets one black picture, or --cover's)
//   pictures, pass 2   code_pictures: remap, code, check with the player's
//                      decoder, measure
//   sound coder        code_sound at both depths, one chosen
//   assemble           assemble_movie: the record stream, the header sized
//
// The result is a MovieWriter, for `kmov encode` to write and `kmov make`
// to pack.
#ifndef KMOV_TOOLS_ENCODE_ENCODER_H
#define KMOV_TOOLS_ENCODE_ENCODER_H

#include "cli.h"
#include "encode/media_input.h"
#include "encode/palette.h"
#include "encode/pictures.h"
#include "movie_writer.h"

#include <optional>
#include <string>
#include <vector>

namespace kmov {

struct EncodeOptions {
    std::vector<std::string> inputs;
    int width = 0, height = 0; // as VideoRequest's
    Fit fit = Fit::Inside;
    bool allow_large = false;
    double fps = 15;
    double start = 0;
    double duration = -1;
    bool sound = true;      // take the input's sound (or --audio's)
    std::string audio_file; // sound from this file instead of the input
    // The command line checks these: rate 1000 to 96000; bits (ldp) 4 or 6,
    // or 0: 6 when that adds less than 5 % to the movie, else 4.
    int rate = 22050;
    int bits = 0;
    Dither dither = Dither::Diffusion;
    std::string cover_file;   // the picture of a movie made from sound alone
    std::string palette_file; // impose this palette
    double lossy = 0;         // 0: exact; else the colour tolerance (delta E)
    std::string frames_file;  // also write the decoded frames here (raw RGB24)
};

struct EncodeStats {
    int frames = 0;
    int width = 0, height = 0;
    uint64_t video_bytes = 0;        // "vdat" payloads
    uint64_t movie_bytes = 0;        // the whole movie
    double psnr = 0;                 // of the movie's frames against the source frames, RGB
    double ssim = 0;                 // luma, 8 x 8 windows
    std::optional<double> audio_snr; // at audio_bits
    int audio_bits = 0;              // 4 or 6; 0 without sound
    std::optional<double> other_snr; // at the other depth (10 - audio_bits)
    double seconds = 0;              // the whole encode
    double encode_seconds = 0;       // the second pass
};

struct EncodedMovie {
    MovieWriter movie;
    EncodeStats stats;
};

Expected<EncodedMovie> encode_movie(const EncodeOptions &options, const Progress &progress = {});

} // namespace kmov

#endif
