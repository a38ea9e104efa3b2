// Writing what the tools extract: indexed PNG frames and mono WAV sound.
#ifndef KMOV_TOOLS_IMAGE_IO_H
#define KMOV_TOOLS_IMAGE_IO_H

#include "movie_writer.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// An indexed 8-bit PNG of width x height palette indices with `colours`
// (the first `colour_count` used). Returns the file's bytes.
std::vector<uint8_t> encode_indexed_png(int width, int height, const uint8_t *pixels,
                                        const Rgb *colours, int colour_count);

// A 16-bit mono PCM WAV file's bytes.
std::vector<uint8_t> encode_wav(std::span<const int16_t> samples, int sample_rate);

} // namespace kmov

#endif
