// The "vdat" decoder: every operation on small hand-made frames, runs at the
// row and buffer edges, payloads too short for their codes, and the fast
// path against a plain byte-by-byte decoder on random payloads.
#include "player/movie_format.h"
#include "player/player_state.h"
#include "player/video_decoder.h"
#include "stream/prefetch_ring.h"
#include "reference_decoder.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <climits>
#include <optional>
#include <random>

using kmov::test::TempFile;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t GUARD = 512;
constexpr uint8_t GUARD_BYTE = 0xEE;

int32_t stride_of(int32_t w) {
    return (w + 3) & ~3;
}

// Decodes a "vdat" payload whose stream continues with a "vblt" header, over
// `frame` (height rows of the padded stride), with `length` as the record's
// length (the payload's size unless given). The frame lies between guard
// bytes, which must come back untouched.
struct Decode {
    int32_t w, h;
    Bytes frame;
    Bytes stream_tail = {0x76, 0x62, 0x6C, 0x74, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    Bytes run(const Bytes &payload, std::optional<int32_t> length = std::nullopt) {
        Bytes stream = payload;
        stream.insert(stream.end(), stream_tail.begin(), stream_tail.end());
        TempFile file("stream", stream);
        headless_reset();
        movie_source = source_open(file.c_str());
        EXPECT_EQ(ring_create(0), 1);

        Bytes memory(GUARD + frame.size() + GUARD, GUARD_BYTE);
        std::copy(frame.begin(), frame.end(), memory.begin() + GUARD);
        frame_bits = memory.data() + GUARD;
        width = w;
        height = h;
        row_stride = stride_of(w);
        current_length = length.value_or(static_cast<int32_t>(payload.size()));
        decode_video_frame();
        EXPECT_EQ(current_length, 0);

        for (size_t i = 0; i < GUARD; i++) {
            EXPECT_EQ(memory[i], GUARD_BYTE) << "wrote before the frame";
            EXPECT_EQ(memory[GUARD + frame.size() + i], GUARD_BYTE) << "wrote after the frame";
        }
        next_word = ring_read_be32();
        frame_bits = nullptr;
        ring_free();
        source_close(movie_source);
        movie_source = nullptr;
        return Bytes(memory.begin() + GUARD, memory.begin() + GUARD + frame.size());
    }
    uint32_t next_word = 0; // the word the ring stood at after decoding
};

struct Case {
    const char *what;
    int32_t w, h;
    Bytes before, codes, after;
};

// Strides are padded to 4: a 3-pixel row is 3 pixels and 1 padding byte.
const Case cases[] = {
    {"literals rewrite every pixel; the 2 padding bytes are dropped",
     3,
     2,
     {9, 9, 9, 9, 9, 9, 9, 9},
     {1, 2, 3, 4, 5, 6, 0xF0, 0xF1},
     {1, 2, 3, 9, 4, 5, 6, 9}},
    {"240 with count 0 leaves 2", 4, 1, {1, 2, 3, 4}, {240, 0, 7, 7}, {1, 2, 7, 7}},
    {"249 leaves 2 and 252 leaves 5",
     8,
     1,
     {1, 2, 3, 4, 5, 6, 7, 8},
     {249, 252, 9},
     {1, 2, 3, 4, 5, 6, 7, 9}},
    {"253 repeats the left pixel twice and 255 four times",
     7,
     1,
     {0, 0, 0, 0, 0, 0, 0, 0},
     {3, 253, 255},
     {3, 3, 3, 3, 3, 3, 3, 0}},
    {"248 with count 0 fills 2", 4, 1, {0, 0, 0, 0}, {5, 248, 0, 6}, {5, 5, 5, 6}},
    {"241 takes the right neighbour as memmove: 1 2 3 4 5 -> 2 3 4 4 5",
     5,
     1,
     {1, 2, 3, 4, 5, 0, 0, 0},
     {241, 1, 249},
     {2, 3, 4, 4, 5, 0, 0, 0}},
    {"242 copies the row below one to the left as it was, 243 the row below",
     4,
     3,
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
     {242, 2, 243, 2, 252},
     {4, 5, 6, 7, 9, 10, 11, 12, 9, 10, 11, 12}},
    {"244 copies the row below one to the right",
     4,
     3,
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
     {244, 2, 252, 252},
     {6, 7, 8, 9, 5, 6, 7, 8, 9, 10, 11, 12}},
    {"246 past the row end repeats the row above into the next row",
     4,
     3,
     Bytes(12, 0),
     {1, 2, 3, 4, 246, 6, 249, 249},
     {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}},
    {"247 on a 4-byte stride reads its whole group before writing it",
     4,
     2,
     {0, 0, 0, 0, 9, 9, 9, 9},
     {1, 2, 3, 4, 247, 2},
     {1, 2, 3, 4, 2, 3, 4, 9}},
    {"247 longer than its distance repeats in groups of 4, each read before written",
     4,
     3,
     {0, 0, 0, 0, 9, 9, 9, 9, 8, 8, 8, 8},
     {1, 2, 3, 4, 247, 6, 249, 249},
     {1, 2, 3, 4, 2, 3, 4, 9, 3, 4, 9, 8}},
    {"245 at column 0 reads the last byte of the stride two rows up",
     3,
     3,
     {0, 0, 0, 77, 0, 0, 0, 0, 0, 0, 0, 0},
     {1, 2, 3, 4, 5, 6, 245, 1},
     {1, 2, 3, 77, 4, 5, 6, 0, 77, 4, 5, 0}},
    {"a run past the row end goes on into the next row, which starts at column 0",
     3,
     2,
     {0, 0, 0, 0, 0, 50, 51, 52},
     {5, 6, 254, 249, 7},
     {5, 6, 6, 6, 6, 50, 7, 52}},
    {"a fill at column 0 reads the previous row's padding",
     3,
     2,
     {0, 0, 0, 44, 0, 0, 0, 0},
     {1, 2, 3, 253, 9},
     {1, 2, 3, 44, 44, 44, 9, 0}},
    // Outside the buffer: sources read as 0, writes are dropped.
    {"copies from above in row 0 and from below in the last row read 0",
     4,
     2,
     Bytes(8, 5),
     {246, 2, 244, 255},
     Bytes(8, 0)},
    {"fills at column 0 of row 0 read 0", 4, 1, {5, 5, 5, 5}, {248, 2}, {0, 0, 0, 0}},
    {"a 241 ending at the buffer's end reads 0 beyond it",
     4,
     1,
     {1, 2, 3, 4},
     {7, 7, 241, 0},
     {7, 7, 4, 0}},
    {"a run past the buffer's end is cut there",
     4,
     2,
     Bytes(8, 1),
     {9, 9, 9, 9, 2, 248, 255},
     {9, 9, 9, 9, 2, 2, 2, 2}},
};

TEST(VideoDecoder, EachOperationOnSmallFrames) {
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.before.size(), static_cast<size_t>(stride_of(c.w) * c.h));
        Decode decode{c.w, c.h, c.before};
        Bytes payload = c.codes;
        payload.resize(kmov::padded_length(payload.size()), 0xFF);
        EXPECT_EQ(decode.run(payload), c.after);
        EXPECT_EQ(decode.next_word, TAG_VBLT) << "the ring is not at the next header";
    }
}

TEST(VideoDecoder, CountBytesReachTheirLimits) {
    // 240 255 leaves 257 pixels; 248 255 repeats the left pixel 257 times.
    Bytes before(260);
    for (size_t i = 0; i < before.size(); i++)
        before[i] = static_cast<uint8_t>(i % 200);
    Decode skip{260, 1, before};
    Bytes skipped = before;
    skipped[257] = skipped[258] = skipped[259] = 1;
    EXPECT_EQ(skip.run({240, 255, 1, 1, 1, 0, 0, 0}), skipped);

    Decode fill{258, 1, before};
    Bytes filled = before;
    std::fill(filled.begin(), filled.begin() + 258, 7);
    EXPECT_EQ(fill.run({7, 248, 255, 0}), filled);
}

TEST(VideoDecoder, CodesPastTheLengthReadAsZeroAndTheNextRecordStays) {
    // The count byte of the 240 lies beyond the record's 4 bytes: it reads as
    // 0 (a skip of 2) and the rest of the row as literal 0s.
    Decode decode{8, 1, Bytes(8, 9)};
    EXPECT_EQ(decode.run({1, 2, 3, 240}), (Bytes{1, 2, 3, 9, 9, 0, 0, 0}));
    EXPECT_EQ(decode.next_word, TAG_VBLT);
}

TEST(VideoDecoder, AStreamCutShortEndsTheFrameWithZerosAndNoWait) {
    Decode decode{640, 480, Bytes(640 * 480, 9)};
    decode.stream_tail.clear();
    Bytes after = decode.run({1, 2, 3}, INT_MAX);
    EXPECT_EQ(after[0], 1);
    EXPECT_EQ(after[2], 3);
    EXPECT_EQ(std::count(after.begin() + 3, after.end(), 0), 640 * 480 - 3);
}

TEST(VideoDecoder, ANegativeLengthTakesNothing) {
    Decode decode{4, 1, Bytes(4, 9)};
    EXPECT_EQ(decode.run({1, 2, 3, 4}, -8), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(decode.next_word, 0x01020304u) << "the payload was taken";
}

Bytes plain_decode(Bytes buffer, int32_t w, int32_t h, const Bytes &codes) {
    kmov::test::reference_decode_frame(buffer, w, h, stride_of(w), codes);
    return buffer;
}

TEST(VideoDecoder, MatchesAPlainByteByByteDecoderOnRandomPayloads) {
    std::mt19937 random(4);
    const int32_t widths[] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 100, 300};
    for (int trial = 0; trial < 400; trial++) {
        int32_t w = widths[random() % std::size(widths)];
        // Narrow frames need many rows before any row is far enough from
        // both ends of the buffer for the unchecked path.
        int32_t h = 1 + static_cast<int32_t>(random() % (w > 64 ? 8 : w <= 8 ? 150 : 40));
        Bytes before(static_cast<size_t>(stride_of(w) * h));
        for (uint8_t &b : before)
            b = static_cast<uint8_t>(random());
        Bytes codes;
        size_t count = random() % (static_cast<size_t>(w * h) + 16);
        for (size_t i = 0; i < count; i++) {
            unsigned kind = random() % 4;
            if (kind == 0) // an operation, mostly with a short count
                codes.push_back(static_cast<uint8_t>(240 + random() % 16));
            else if (kind == 1)
                codes.push_back(static_cast<uint8_t>(random() % 4 ? random() % 20 : random()));
            else
                codes.push_back(static_cast<uint8_t>(random() % 240));
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << w << " x " << h);
        Decode decode{w, h, before};
        ASSERT_EQ(decode.run(codes), plain_decode(before, w, h, codes));
    }
}

} // namespace
