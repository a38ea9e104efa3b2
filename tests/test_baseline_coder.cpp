// The baseline frame coder, round trip through the player's decoder: movies
// coded from their first frame decode to their frames from any initial
// buffer; frames coded over a known buffer decode over it; first frames
// use only what a first frame may; and the codes are compact where they can
// be.
#include "baseline_coder.h"
#include "player/player_state.h"
#include "player/video_decoder.h"
#include "stream/prefetch_ring.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <random>
#include <stdexcept>

using kmov::BaselineCoder;
using kmov::MovieWriter;
using kmov::test::TempFile;
using Bytes = std::vector<uint8_t>;

namespace {

struct Size {
    int32_t w, h;
};

int32_t stride_of(int32_t w) {
    return (w + 3) & ~3;
}

// Runs every record of a movie's stream through the ring as the player
// would, decoding each "vdat" over a buffer that starts as `initial`, and
// returns the pixels of every decoded frame (rows without padding).
std::vector<Bytes> decode_movie(const MovieWriter &movie, const Bytes &initial) {
    TempFile file("movie", movie.bytes());
    headless_reset();
    movie_source = source_open(file.c_str());
    source_seek(movie_source, MOVIE_RECORDS_OFFSET);
    EXPECT_EQ(ring_create(0), 1);
    width = movie.header().width;
    height = movie.header().height;
    row_stride = stride_of(width);
    Bytes buffer = initial;
    frame_bits = buffer.data();

    std::vector<Bytes> frames;
    for (;;) {
        kmov_cmd = ring_read_be32();
        current_delay = ring_read_be32();
        current_length = static_cast<int32_t>(ring_read_be32());
        current_param = ring_read_be32();
        if (kmov_cmd != TAG_VDAT)
            break;
        decode_video_frame();
        Bytes pixels;
        for (int32_t row = 0; row < height; row++)
            pixels.insert(pixels.end(), buffer.begin() + row * row_stride,
                          buffer.begin() + row * row_stride + width);
        frames.push_back(std::move(pixels));
        EXPECT_EQ(ring_read_be32(), TAG_VBLT);
        ring_skip(12);
    }
    EXPECT_EQ(kmov_cmd, TAG_END);
    frame_bits = nullptr;
    ring_free();
    source_close(movie_source);
    movie_source = nullptr;
    return frames;
}

// A sequence that gives every code a chance: flat areas (of 0, the value a
// buffer the coder cannot be sure of would hold), gradients and noise, then frames that scroll by a
// row or a pixel, change in patches, or stay as they are.
std::vector<Bytes> make_sequence(Size size, std::mt19937 &random, int count) {
    const int32_t w = size.w, h = size.h;
    auto at = [w](Bytes &f, int32_t x, int32_t y) -> uint8_t & { return f[y * w + x]; };
    std::vector<Bytes> frames;
    Bytes frame(static_cast<size_t>(w * h));
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)
            at(frame, x, y) = static_cast<uint8_t>(x < w / 3       ? 0
                                                   : x < 2 * w / 3 ? (x + y) % 240
                                                                   : random() % 240);
    frames.push_back(frame);
    for (int i = 1; i < count; i++) {
        Bytes next = frame;
        int32_t dx = static_cast<int32_t>(random() % 3) - 1;
        int32_t dy = static_cast<int32_t>(random() % 3) - 1;
        switch (random() % 4) {
        case 0: // scroll
            for (int32_t y = 0; y < h; y++)
                for (int32_t x = 0; x < w; x++)
                    at(next, x, y) =
                        at(frame, std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1));
            break;
        case 1: { // a patch of noise or of one colour
            int32_t x0 = static_cast<int32_t>(random() % w),
                    y0 = static_cast<int32_t>(random() % h);
            uint8_t colour = static_cast<uint8_t>(random() % 240);
            bool noise = random() % 2;
            for (int32_t y = y0; y < std::min(h, y0 + 9); y++)
                for (int32_t x = x0; x < std::min(w, x0 + 23); x++)
                    at(next, x, y) = noise ? static_cast<uint8_t>(random() % 240) : colour;
            break;
        }
        case 2: // scattered single pixels
            for (int32_t k = 0; k < (w * h) / 16 + 1; k++)
                at(next, static_cast<int32_t>(random() % w), static_cast<int32_t>(random() % h)) =
                    static_cast<uint8_t>(random() % 240);
            break;
        default: // unchanged
            break;
        }
        frames.push_back(next);
        frame = next;
    }
    return frames;
}

Bytes random_bytes(size_t count, std::mt19937 &random) {
    Bytes bytes(count);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

const Size sizes[] = {{1, 1}, {1, 7}, {2, 3},   {3, 5},   {4, 4},   {5, 9},
                      {7, 3}, {8, 6}, {13, 11}, {64, 17}, {67, 20}, {300, 6}};

TEST(BaselineCoder, MoviesDecodeToTheirFramesFromAnyInitialBuffer) {
    std::mt19937 random(11);
    for (Size size : sizes) {
        SCOPED_TRACE(testing::Message() << size.w << " x " << size.h);
        std::vector<Bytes> frames = make_sequence(size, random, 12);
        BaselineCoder coder(size.w, size.h);
        MovieWriter movie(kmov::make_header(size.w, size.h), kmov::test::test_palette());
        for (const Bytes &frame : frames)
            movie.frame(coder.encode(frame), 0, 66);
        movie.end().count_frames();

        size_t buffer_size = static_cast<size_t>(stride_of(size.w) * size.h);
        EXPECT_EQ(decode_movie(movie, Bytes(buffer_size, 0)), frames);
        EXPECT_EQ(decode_movie(movie, random_bytes(buffer_size, random)), frames);
    }
}

TEST(BaselineCoder, FramesCodedOverAKnownBufferDecodeOverIt) {
    std::mt19937 random(12);
    for (Size size : sizes) {
        SCOPED_TRACE(testing::Message() << size.w << " x " << size.h);
        // A previous buffer of any bytes, padding included, and a sequence
        // that starts from a frame related to it.
        Bytes previous = random_bytes(static_cast<size_t>(stride_of(size.w) * size.h), random);
        for (uint8_t &b : previous)
            b = random() % 3 ? b % 240 : b;
        BaselineCoder coder(size.w, size.h, previous);
        MovieWriter movie(kmov::make_header(size.w, size.h), kmov::test::test_palette());
        std::vector<Bytes> frames = make_sequence(size, random, 6);
        for (const Bytes &frame : frames)
            movie.frame(coder.encode(frame), 0, 66);
        movie.end().count_frames();
        EXPECT_EQ(decode_movie(movie, previous), frames);
        EXPECT_EQ(coder.buffer().size(), previous.size());
    }
}

// Walks a payload's codes by row and column, as the decoder does, and
// reports the first code a first frame may not use.
std::string first_frame_fault(const Bytes &codes, int32_t w, int32_t h) {
    size_t k = 0;
    for (int32_t row = 0; row < h; row++)
        for (int32_t col = 0; col < w;) {
            int op = codes.at(k++);
            int64_t n = 1;
            if (op >= 249 && op <= 252)
                return "a short skip";
            if (op >= 253)
                n = op - 251;
            else if (op >= 240)
                n = codes.at(k++) + 2;
            if (op == 240 || (op >= 241 && op <= 244))
                return "a skip or a copy of the previous frame";
            if ((op == 248 || op >= 253) && col == 0)
                return "a fill at column 0";
            if (op >= 245 && op <= 247 && row == 0)
                return "a copy from above in row 0";
            col += static_cast<int32_t>(n);
        }
    return k == codes.size() ? "" : "bytes after the last row";
}

TEST(BaselineCoder, FirstFramesUseOnlyLiteralsFillsAndCopiesFromAbove) {
    std::mt19937 random(13);
    for (Size size : sizes) {
        // A flat frame tempts a fill at column 0 wherever a row has no
        // padding: the previous row's last pixel is the same colour.
        for (const Bytes &frame :
             {make_sequence(size, random, 1)[0], Bytes(static_cast<size_t>(size.w * size.h), 9)}) {
            BaselineCoder coder(size.w, size.h);
            EXPECT_EQ(first_frame_fault(coder.encode(frame), size.w, size.h), "")
                << size.w << " x " << size.h;
        }
    }
}

TEST(BaselineCoder, CodesAreCompactWhereTheFrameAllowsIt) {
    std::mt19937 random(14);
    const int32_t w = 640, h = 48;
    Bytes noise = random_bytes(static_cast<size_t>(w * h), random);
    for (uint8_t &b : noise)
        b %= 240;
    BaselineCoder coder(w, h);
    EXPECT_EQ(coder.encode(noise).size(), static_cast<size_t>(w * h)) << "noise is all literals";

    // Unchanged: three skips a row (257 + 257 + 126).
    EXPECT_EQ(coder.encode(noise).size(), static_cast<size_t>(h * 6));

    // Scrolled up one row: copies from the row below, and literals for the
    // new last row.
    Bytes scrolled(noise.begin() + w, noise.end());
    Bytes last_row = random_bytes(w, random);
    for (uint8_t &b : last_row)
        b %= 240;
    scrolled.insert(scrolled.end(), last_row.begin(), last_row.end());
    EXPECT_LE(coder.encode(scrolled).size(), static_cast<size_t>((h - 1) * 6 + w));

    // One colour: a literal and fills in the first row, then copies or fills.
    BaselineCoder fresh(w, h);
    EXPECT_LE(fresh.encode(Bytes(static_cast<size_t>(w * h), 9)).size(),
              static_cast<size_t>(1 + 6 + (h - 1) * 6));
}

TEST(BaselineCoder, NeverTrustsA247ThatReadsItsOwnGroup) {
    // On a 4-byte stride, 247 reads 3 bytes back: repeating 2 3 4 would take
    // the fourth byte from the group being written, which the decoder reads
    // before writing it.
    const Bytes frame = {1, 2, 3, 4, 2, 3, 4, 2, 3, 4, 2, 3};
    for (int known = 0; known < 2; known++) {
        SCOPED_TRACE(known ? "over a known buffer" : "as a first frame");
        Bytes previous(12, 0);
        BaselineCoder coder = known ? BaselineCoder(4, 3, previous) : BaselineCoder(4, 3);
        MovieWriter movie(kmov::make_header(4, 3), kmov::test::test_palette());
        movie.frame(coder.encode(frame), 0, 66).end().count_frames();
        EXPECT_EQ(decode_movie(movie, previous), std::vector<Bytes>{frame});
    }
}

TEST(BaselineCoder, RejectsValuesThatAreOperations) {
    BaselineCoder coder(4, 1);
    EXPECT_THROW(coder.encode(Bytes{1, 2, 240, 3}), std::invalid_argument);
    EXPECT_THROW(coder.encode(Bytes{1, 2, 3}), std::invalid_argument);
    EXPECT_THROW(BaselineCoder(0, 5), std::invalid_argument);
}

} // namespace
