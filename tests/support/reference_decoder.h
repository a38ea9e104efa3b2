// The "vdat" decoder's definition, one byte at a time, for checking the
// player's decoder against: decodes `codes` in place over `buffer` (a frame
// of `h` rows of `stride` bytes, `w` pixels wide). A byte outside the buffer
// reads as 0, a write past its end is dropped, and codes past the end of
// `codes` read as 0.
#ifndef KMOV_TESTS_REFERENCE_DECODER_H
#define KMOV_TESTS_REFERENCE_DECODER_H

#include <cstdint>
#include <vector>

namespace kmov::test {

inline void reference_decode_frame(std::vector<uint8_t> &buffer, int64_t w, int64_t h,
                                   int64_t stride, const std::vector<uint8_t> &codes) {
    const int64_t size = stride * h;
    size_t k = 0;
    auto code = [&]() -> int { return k < codes.size() ? codes[k++] : 0; };
    auto get = [&](int64_t i) -> uint8_t { return i >= 0 && i < size ? buffer[i] : 0; };
    auto put = [&](int64_t i, uint8_t v) {
        if (i < size)
            buffer[i] = v;
    };
    for (int64_t row = 0; row < h; row++) {
        for (int64_t col = 0; col < w;) {
            int64_t pos = row * stride + col;
            int a = code();
            if (a < 240) {
                put(pos, static_cast<uint8_t>(a));
                col++;
            } else if (a >= 249 && a <= 252) {
                col += a - 247;
            } else if (a >= 253 || a == 248) {
                int64_t n = a >= 253 ? a - 251 : code() + 2;
                uint8_t v = get(pos - 1);
                for (int64_t i = 0; i < n; i++)
                    put(pos + i, v);
                col += n;
            } else {
                int64_t n = code() + 2;
                const int64_t offsets[] = {0,          1,           stride - 1, stride,
                                           stride + 1, -stride - 1, -stride,    -stride + 1};
                int64_t from = pos + offsets[a - 240];
                int64_t i = 0;
                for (; a != 240 && i + 4 <= n; i += 4) {
                    uint8_t g[4] = {get(from + i), get(from + i + 1), get(from + i + 2),
                                    get(from + i + 3)};
                    for (int j = 0; j < 4; j++)
                        put(pos + i + j, g[j]);
                }
                for (; a != 240 && i < n; i++)
                    put(pos + i, get(from + i));
                col += n;
            }
        }
    }
}

} // namespace kmov::test

#endif
