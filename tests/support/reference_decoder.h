// The "vdat" decoder's definition, one byte at a time, for checking the
// player's decoder against: decodes `codes` in place over `buffer` (a frame
// of `h` rows of `stride` bytes, `w` pixels wide). A byte outside the buffer
// reads as 0, a write past its end is dropped, and codes past the end of
// `codes` read as 0.
#ifndef KMOV_TESTS_REFERENCE_DECODER_H
#define KMOV_TESTS_REFERENCE_DECODER_H

#include "player/audio_decoder.h"
#include "player/frame_codes.h"

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
            const int64_t n = frame_run_length(a, frame_op_has_count(a) ? code() : 0);
            if (a < FRAME_OP_FIRST) {
                put(pos, static_cast<uint8_t>(a));
            } else if (a == FRAME_OP_FILL_LONG || a >= FRAME_OP_FILL_SHORT) {
                uint8_t v = get(pos - 1);
                for (int64_t i = 0; i < n; i++)
                    put(pos + i, v);
            } else if (a != FRAME_OP_SKIP_LONG && a < FRAME_OP_SKIP_SHORT) {
                const int64_t from = pos + frame_copy_offset(a, stride);
                int64_t i = 0;
                for (; i + FRAME_COPY_GROUP <= n; i += FRAME_COPY_GROUP) {
                    uint8_t g[FRAME_COPY_GROUP];
                    for (int j = 0; j < FRAME_COPY_GROUP; j++)
                        g[j] = get(from + i + j);
                    for (int j = 0; j < FRAME_COPY_GROUP; j++)
                        put(pos + i + j, g[j]);
                }
                for (; i < n; i++)
                    put(pos + i, get(from + i));
            }
            col += n;
        }
    }
}

// The "adat" decoder's definition, one bit at a time, for checking the
// player's sound decoder against: the samples of a block of `param`'s low
// 16 bits, cut at `buffer_samples`, from `count` bytes of ldp-bit codes
// (`bits` 4 or 6) read most significant bit first, zeros past their end.
inline std::vector<int16_t> reference_decode_sound(const uint8_t *bytes, int32_t count, int bits,
                                                   uint32_t param, int32_t buffer_samples) {
    const int16_t *table = bits == 4 ? delta_table_16 : delta_table_64;
    int64_t position = 0; // in bits
    auto take = [&]() {
        uint32_t value = 0;
        for (int i = 0; i < bits; i++, position++) {
            int64_t byte = position / 8;
            int bit = byte < count ? (bytes[byte] >> (7 - position % 8)) & 1 : 0;
            value = (value << 1) | static_cast<uint32_t>(bit);
        }
        return value;
    };
    int32_t n = static_cast<int32_t>(param & 0xFFFF);
    if (n > buffer_samples)
        n = buffer_samples;
    std::vector<int16_t> out;
    uint16_t value = 0;
    while (static_cast<int32_t>(out.size()) < n) {
        uint32_t code = take();
        if (code != 0) {
            value = static_cast<uint16_t>(value + table[code]);
            out.push_back(static_cast<int16_t>(value));
            continue;
        }
        uint32_t run = take() + 1;
        for (uint32_t i = 0; i < run && static_cast<int32_t>(out.size()) < n; i++)
            out.push_back(static_cast<int16_t>(value));
    }
    return out;
}

} // namespace kmov::test

#endif
