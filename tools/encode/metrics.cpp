#include "encode/metrics.h"

#include <cmath>
#include <limits>
#include <vector>

namespace kmov {

double frame_squared_error(const uint8_t *rgba, const uint8_t *rgb, size_t pixels) {
    uint64_t total = 0;
    for (size_t i = 0; i < pixels; i++)
        for (int c = 0; c < 3; c++) {
            const int d =
                rgba[i * 4 + static_cast<size_t>(c)] - rgb[i * 3 + static_cast<size_t>(c)];
            total += static_cast<uint64_t>(d * d);
        }
    return static_cast<double>(total);
}

double frame_ssim(const uint8_t *rgba, const uint8_t *rgb, int width, int height) {
    // Sums over 4 x 4 blocks of the two lumas, their squares and product;
    // each 8 x 8 window (every 4 pixels) adds four blocks.
    const int bw = width / 4, bh = height / 4;
    if (bw < 2 || bh < 2) {
        // Too small for windows: compare the whole frame as one.
        return frame_squared_error(rgba, rgb, static_cast<size_t>(width) * height) == 0 ? 1.0 : 0.0;
    }
    struct Sums {
        double a = 0, b = 0, aa = 0, bb = 0, ab = 0;
    };
    std::vector<Sums> blocks(static_cast<size_t>(bw) * static_cast<size_t>(bh));
    for (int y = 0; y < bh * 4; y++)
        for (int x = 0; x < bw * 4; x++) {
            const size_t i =
                static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            const double a =
                0.299 * rgba[i * 4] + 0.587 * rgba[i * 4 + 1] + 0.114 * rgba[i * 4 + 2];
            const double b = 0.299 * rgb[i * 3] + 0.587 * rgb[i * 3 + 1] + 0.114 * rgb[i * 3 + 2];
            Sums &s = blocks[static_cast<size_t>(y / 4) * static_cast<size_t>(bw) +
                             static_cast<size_t>(x / 4)];
            s.a += a, s.b += b, s.aa += a * a, s.bb += b * b, s.ab += a * b;
        }
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    int windows = 0;
    for (int y = 0; y + 1 < bh; y++)
        for (int x = 0; x + 1 < bw; x++) {
            Sums w;
            for (int dy = 0; dy < 2; dy++)
                for (int dx = 0; dx < 2; dx++) {
                    const Sums &s = blocks[static_cast<size_t>(y + dy) * static_cast<size_t>(bw) +
                                           static_cast<size_t>(x + dx)];
                    w.a += s.a, w.b += s.b, w.aa += s.aa, w.bb += s.bb, w.ab += s.ab;
                }
            const double n = 64;
            const double ma = w.a / n, mb = w.b / n;
            const double va = w.aa / n - ma * ma, vb = w.bb / n - mb * mb, cov = w.ab / n - ma * mb;
            total +=
                ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            windows++;
        }
    return total / windows;
}

double psnr_db(double squared_error, double samples) {
    const double mse = squared_error / samples;
    return mse == 0 ? std::numeric_limits<double>::infinity()
                    : 10 * std::log10(255.0 * 255.0 / mse);
}

double audio_snr(std::span<const int16_t> source, std::span<const int16_t> decoded) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < source.size() && i < decoded.size(); i++) {
        signal += static_cast<double>(source[i]) * source[i];
        const double d = static_cast<double>(source[i]) - decoded[i];
        noise += d * d;
    }
    if (noise == 0)
        return signal == 0 ? 0 : std::numeric_limits<double>::infinity();
    return 10 * std::log10(signal / noise);
}

} // namespace kmov
