// How close a movie comes to its source: the picture's PSNR and SSIM and
// the sound's signal-to-noise ratio. Measures only; nothing here changes
// what is coded.
#ifndef KMOV_TOOLS_ENCODE_METRICS_H
#define KMOV_TOOLS_ENCODE_METRICS_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace kmov {

// Sum of squared differences over the red, green and blue channels of
// `pixels` pixels: the source as RGBA, the movie's frame as RGB.
double frame_squared_error(const uint8_t *rgba, const uint8_t *rgb, size_t pixels);

// Mean SSIM of the two frames' luma over 8 x 8 windows placed every 4
// pixels; a frame too small for two windows each way counts 1 when it is
// equal to its source, else 0.
double frame_ssim(const uint8_t *rgba, const uint8_t *rgb, int width, int height);

// PSNR in dB from a sum of squared errors over `samples` channel values
// (infinity when there is no error).
double psnr_db(double squared_error, double samples);

// Signal-to-noise ratio in dB of `decoded` against `source` (infinity when
// they are equal; 0 for silence against silence).
double audio_snr(std::span<const int16_t> source, std::span<const int16_t> decoded);

} // namespace kmov

#endif
