// The PrefetchRing: sizing, the preload target, refills in one or two
// pieces, and the takes at the end of the stream.
#include "player/player_state.h"
#include "stream/prefetch_ring.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <climits>
#include <memory>

using kmov::test::counting_bytes;
using kmov::test::TempFile;

namespace {

// A ring of `ring_size` over a ByteSource reading `bytes` from a file.
class Ring : public testing::Test {
  protected:
    void open(const std::vector<uint8_t> &bytes, int32_t ring_size = 0) {
        headless_reset();
        file_ = std::make_unique<TempFile>("stream", bytes);
        movie_source = source_open(file_->c_str());
        ASSERT_NE(movie_source, nullptr);
        ASSERT_EQ(ring_create(ring_size), 1);
    }
    void TearDown() override {
        ring_free();
        source_close(movie_source);
        movie_source = nullptr;
    }
    std::unique_ptr<TempFile> file_;
};

TEST_F(Ring, CapacityIsThePowerOfTwoAtLeast2048AndTheRingSize) {
    const struct {
        int32_t ring_size, capacity;
    } cases[] = {{0, 2048}, {-7, 2048}, {2048, 2048}, {2049, 4096}, {689768, 1048576}};
    for (const auto &c : cases) {
        ASSERT_EQ(ring_create(c.ring_size), 1) << c.ring_size;
        EXPECT_EQ(ring_capacity, c.capacity) << c.ring_size;
        EXPECT_EQ(ring_mask, c.capacity - 1) << c.ring_size;
        EXPECT_NE(ring_data, nullptr);
        EXPECT_EQ(ring_fill + ring_read + ring_write, 0);
    }
}

TEST_F(Ring, ASizeWhoseDoublingWouldOverflowIsAnAllocationFailure) {
    for (int32_t ring_size : {(1 << 30) + 1, INT_MAX}) {
        SetLastError(0);
        EXPECT_EQ(ring_create(ring_size), 0) << ring_size;
        EXPECT_EQ(ring_data, nullptr);
        EXPECT_EQ(ring_capacity, 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        // Takes from the missing ring yield nothing and touch nothing.
        EXPECT_EQ(ring_read_byte(), 0);
        EXPECT_EQ(ring_fill, 0);
    }
}

TEST_F(Ring, PreloadTargetRoundsDownAndIsCappedAtTheCapacity) {
    ASSERT_EQ(ring_create(689768), 1);
    const struct {
        int32_t preload_size, target;
    } cases[] = {
        {0, 0},           {1, 2048},          {2048, 4096},
        {555107, 624640}, {1000000, 1 << 20}, {INT_MAX, 1 << 20},
        {-1, 0},          {INT_MIN, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ring_preload_target(c.preload_size), c.target) << c.preload_size;
}

TEST_F(Ring, PreloadFillsToTheTargetInOneRefill) {
    open(counting_bytes(20000), 9000);          // capacity 16384
    preload_target = ring_preload_target(5000); // 5000 + 625 + 2047 -> 6144
    EXPECT_EQ(preload_target, 6144);
    EXPECT_EQ(ring_read_byte(), 0); // a standard refill of 2048 first
    ring_preload();
    EXPECT_EQ(ring_fill, 6144);
    EXPECT_EQ(ring_write, 6145);
    ring_preload(); // already there: reads nothing
    EXPECT_EQ(ring_write, 6145);
}

TEST_F(Ring, ARefillCrossingTheEndReadsUpToTheEndThenFromIndexZero) {
    std::vector<uint8_t> stream = counting_bytes(5000);
    open(stream);
    ring_refill(2000);
    EXPECT_EQ(ring_skip(2000), 2000);
    ring_refill(RING_REFILL);
    EXPECT_EQ(ring_fill, 2048);
    EXPECT_EQ(ring_write, 2000);
    EXPECT_EQ(ring_data[2047], stream[2047]);
    EXPECT_EQ(ring_data[0], stream[2048]);
    EXPECT_EQ(ring_data[1999], stream[4047]);

    // Takes continue across the wrap; a word that straddles the end (only a
    // misaligned stream does that) takes each byte at its own index.
    EXPECT_EQ(ring_skip(46), 46);
    uint32_t expected = (uint32_t{stream[2046]} << 24) | (uint32_t{stream[2047]} << 16) |
                        (uint32_t{stream[2048]} << 8) | stream[2049];
    EXPECT_EQ(ring_read_be32(), expected);
    EXPECT_EQ(ring_read, 2);
    EXPECT_EQ(ring_read_byte(), stream[2050]);
}

TEST_F(Ring, AShortFirstPieceEndsTheRefill) {
    open(counting_bytes(2030));
    ring_refill(2000);
    ring_skip(2000);
    ring_refill(RING_REFILL); // wants 48 up to the end, then 2000 from index 0
    EXPECT_EQ(ring_fill, 30);
    EXPECT_EQ(ring_write, 2030) << "the second piece was attempted";
}

TEST_F(Ring, RefillsNeverOverwriteHeldBytes) {
    open(counting_bytes(10000));
    ring_refill(5000); // capacity 2048: all of it
    EXPECT_EQ(ring_fill, 2048);
    EXPECT_EQ(ring_write, 2048) << "a refill ending at the end of the array";
    ring_refill(100); // full: nothing
    EXPECT_EQ(ring_fill, 2048);
    ring_skip(100);
    ring_refill(RING_REFILL); // 100 free: at most 100, from index 0
    EXPECT_EQ(ring_fill, 2048);
    EXPECT_EQ(ring_write, 100);
    EXPECT_EQ(ring_data[100], 100) << "an unread byte was overwritten";
}

TEST_F(Ring, TakesAtTheEndOfTheStream) {
    open({0x76, 0x62, 0x6C, 0x74, 0xAA, 0xBB});
    EXPECT_EQ(ring_read_be32(), 0x76626C74u);
    // Two bytes left: a word takes nothing and reads as 0.
    EXPECT_EQ(ring_read_be32(), 0u);
    EXPECT_EQ(ring_fill, 2);
    EXPECT_EQ(ring_read, 4);
    EXPECT_EQ(ring_read_byte(), 0xAA);
    EXPECT_EQ(ring_read_byte(), 0xBB);
    // Empty at the end: 0, and nothing moves.
    EXPECT_EQ(ring_read_byte(), 0);
    EXPECT_EQ(ring_fill, 0);
    EXPECT_EQ(ring_read, 6);
    const uint8_t *run = nullptr;
    EXPECT_EQ(ring_take_run(10, &run), 0);
    EXPECT_EQ(ring_skip(10), 0);
}

TEST_F(Ring, BulkTakesStopAtTheLimitTheArrayEndAndTheHeldBytes) {
    std::vector<uint8_t> stream = counting_bytes(6000);
    open(stream);
    const uint8_t *run = nullptr;
    EXPECT_EQ(ring_take_run(0, &run), 0);
    EXPECT_EQ(ring_fill, 0) << "a take of nothing refilled";
    EXPECT_EQ(ring_take_run(100, &run), 100); // refills 2048 first
    EXPECT_EQ(run, ring_data);
    EXPECT_EQ(ring_fill, 1948);
    EXPECT_EQ(ring_take_run(5000, &run), 1948); // what is held
    EXPECT_EQ(run[0], stream[100]);
    ring_refill(1000); // 1000 from index 0: the held bytes start at 2048 & mask
    EXPECT_EQ(ring_take_run(5000, &run), 1000);
    EXPECT_EQ(run, ring_data);
    EXPECT_EQ(run[999], stream[3047]);
    EXPECT_EQ(ring_skip(10000), 6000 - 3048) << "the rest of the stream";
    EXPECT_EQ(ring_fill, 0);
}

} // namespace
