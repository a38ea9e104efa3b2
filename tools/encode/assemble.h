// The last stages of making a movie, shared by `kmov encode` and the demo:
// the sound coded into blocks with their places in the stream, then the
// record stream laid out and the header sized for it.
//
// The stream: sound blocks of the lead-in, then per frame its "vdat" and
// "vblt" ("vblt" alone for a frame that only shows the last picture
// again), "asta" right behind the first "vblt", each later sound block
// behind the "vblt" its schedule names, and "end" one frame time after the
// last picture. Frame k is shown at round(k * 1000 / fps) ms.
#ifndef KMOV_TOOLS_ENCODE_ASSEMBLE_H
#define KMOV_TOOLS_ENCODE_ASSEMBLE_H

#include "encode/audio_coder.h"
#include "encode/stream_plan.h"
#include "movie_writer.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kmov {

// A sound track coded at one depth, block by block.
struct CodedSound {
    int rate = 0; // samples per second
    int ldp = 0;  // 4 or 6
    AudioSchedule schedule;
    std::vector<AudioBlock> blocks; // in order, schedule.samples_per_block samples each (the last
                                    // fewer)
    uint64_t bytes = 0;             // the blocks' payloads, padded as they are stored
    double snr = 0;                 // dB, of what the player plays against `sound`
};

// Codes `sound` (mono, `rate` samples per second) at `ldp` bits per code
// for a movie of `frames` frames at `fps`. `sound` must not be empty.
CodedSound code_sound(std::span<const int16_t> sound, int rate, double fps, int frames, int ldp);

// What a movie is made of, ready to be laid out.
struct MovieParts {
    int width = 0, height = 0;
    double fps = 15;
    Palette palette{};
    // One per frame: its "vdat" codes, or empty for a frame that shows the
    // previous picture again (never the first).
    std::vector<std::vector<uint8_t>> payloads;
    std::optional<CodedSound> sound;
};

// Lays the parts out as a record stream and sizes the header (frame rate
// and count, the sound's fields, data_rate, ring_size and preload_size).
// The payloads and blocks are moved into the writer.
MovieWriter assemble_movie(MovieParts parts);

// The bytes of the movie as it will be written.
uint64_t movie_bytes(const MovieWriter &movie);

} // namespace kmov

#endif
