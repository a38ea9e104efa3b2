// The movie checksum, the start-up check, and packing movies into player
// templates.
#include "app/integrity.h"
#include "app/startup_block.h"
#include "packer.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

using kmov::test::TempFile;
using testing::HasSubstr;

namespace {

std::vector<uint8_t> text(const char *s) {
    return {s, s + std::strlen(s)};
}

uint32_t stream_sum(const std::vector<uint8_t> &bytes) {
    TempFile file("movie", bytes);
    FILE *stream = std::fopen(file.c_str(), "rb");
    uint32_t sum = movie_checksum_stream(stream, UINT64_MAX);
    std::fclose(stream);
    return sum;
}

TEST(Checksum, WorkedValues) {
    const std::pair<const char *, uint32_t> cases[] = {
        {"abcd", 0x64636261u}, {"abcdefgh", 0x312E2B27u}, {"abcdefghi", 0x312E2B27u}, {"", 0u}};
    for (const auto &[input, expected] : cases) {
        EXPECT_EQ(kmov::movie_checksum(text(input)), expected) << input;
        EXPECT_EQ(stream_sum(text(input)), expected) << input;
    }
}

TEST(Checksum, EveryWholeWordCountsAndTheTailDoesNot) {
    std::vector<uint8_t> movie = kmov::test::counting_bytes(4099); // 3 trailing bytes
    uint32_t sum = kmov::movie_checksum(movie);
    for (size_t word : {size_t{0}, size_t{17}, size_t{1023}}) {
        std::vector<uint8_t> changed = movie;
        changed[word * 4 + 2] ^= 0x40;
        EXPECT_NE(kmov::movie_checksum(changed), sum) << "word " << word;
    }
    for (size_t tail = 4096; tail < 4099; tail++) {
        std::vector<uint8_t> changed = movie;
        changed[tail] ^= 0xFF;
        EXPECT_EQ(kmov::movie_checksum(changed), sum) << "byte " << tail;
    }
}

// The start-up check reads the running program's own startup block; the
// tests set it as the packer would.
void set_block(uint32_t offset, uint32_t checksum) {
    startup_block.movie_offset = offset;
    startup_block.movie_checksum = checksum;
}

TEST(StartupCheck, PassesAnIntactMovieAndStopsAChangedOne) {
    std::vector<uint8_t> program = kmov::test::counting_bytes(5000);
    std::vector<uint8_t> movie(program.begin() + 1000, program.end());
    TempFile file("program", program);
    set_block(1000, kmov::movie_checksum(movie));
    verify_movie_checksum(file.w_str()); // returns

    program[2000] ^= 1;
    file.write(program);
    EXPECT_EXIT(verify_movie_checksum(file.w_str()), testing::ExitedWithCode(1),
                HasSubstr("MessageBoxA [Error] 0x00012010 ﾃﾞｰﾀが正しくありません\n"));
    // Beyond the end of the file the sum is 0.
    set_block(9000, 0);
    verify_movie_checksum(file.w_str());
    set_block(9000, 1);
    EXPECT_EXIT(verify_movie_checksum(file.w_str()), testing::ExitedWithCode(1),
                HasSubstr("ﾃﾞｰﾀが正しくありません"));
    // A file that cannot be opened.
    set_block(0, 0);
    EXPECT_EXIT(
        verify_movie_checksum(kmov::test::wide_path(file.path().string() + ".gone").c_str()),
        testing::ExitedWithCode(1), HasSubstr("ﾃﾞｰﾀが正しくありません"));
}

// A stand-in template: an image with the marker and a block in it.
std::vector<uint8_t> fake_template(size_t size, size_t marker_at) {
    std::vector<uint8_t> bytes = kmov::test::counting_bytes(size);
    std::memcpy(bytes.data() + marker_at, STARTUP_MARKER, STARTUP_MARKER_SIZE);
    std::memset(bytes.data() + marker_at + STARTUP_MARKER_SIZE, 0, STARTUP_BLOCK_SIZE);
    return bytes;
}

std::vector<uint8_t> tiny_movie(uint32_t delay) {
    kmov::MovieWriter movie(kmov::make_header(4, 2), kmov::test::test_palette());
    return movie.frame(std::vector<uint8_t>(8, 3), 0, 0).end(delay).count_frames().bytes();
}

uint32_t le32(const std::vector<uint8_t> &bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
}

TEST(Packer, WritesTheBlockAndReplacesAPackedMovie) {
    std::vector<uint8_t> player = fake_template(3001, 700);
    std::vector<uint8_t> movie = tiny_movie(1);
    kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(player, movie, "title");
    ASSERT_TRUE(packed) << packed.error().message;
    size_t block = 700 + STARTUP_MARKER_SIZE;
    EXPECT_EQ(le32(*packed, block), 3001u);
    EXPECT_EQ(le32(*packed, block + 4), kmov::movie_checksum(movie));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(packed->data() + block + 8)), "title");
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), packed->begin() + 3001));

    // Again, into the packed program: the old movie goes.
    std::vector<uint8_t> other = tiny_movie(2);
    kmov::Expected<std::vector<uint8_t>> repacked = kmov::pack_movie(*packed, other, "t2");
    ASSERT_TRUE(repacked) << repacked.error().message;
    EXPECT_EQ(repacked->size(), 3001 + other.size());
    EXPECT_EQ(le32(*repacked, block), 3001u);
    EXPECT_EQ(le32(*repacked, block + 4), kmov::movie_checksum(other));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(repacked->data() + block + 8)), "t2");
}

TEST(Packer, RefusesWhatItCannotPack) {
    std::vector<uint8_t> movie = tiny_movie(1);
    std::vector<uint8_t> player = fake_template(3000, 100);
    EXPECT_FALSE(kmov::pack_movie(player, movie, std::string(256, 'x')));
    EXPECT_TRUE(kmov::pack_movie(player, movie, std::string(255, 'x')));
    EXPECT_FALSE(kmov::pack_movie(kmov::test::counting_bytes(3000), movie, "t"));
    std::vector<uint8_t> twice = fake_template(3000, 100);
    std::memcpy(twice.data() + 1500, STARTUP_MARKER, STARTUP_MARKER_SIZE);
    EXPECT_FALSE(kmov::pack_movie(twice, movie, "t"));
    EXPECT_FALSE(kmov::pack_movie(player, kmov::test::counting_bytes(100), "t"));
    // A second marker in the image's last bytes, with no room for a block
    // behind it: the packed program (the movie behind it) would show two.
    std::vector<uint8_t> tail = fake_template(3000, 100);
    std::memcpy(tail.data() + 3000 - 20, STARTUP_MARKER, STARTUP_MARKER_SIZE);
    kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(tail, movie, "t");
    EXPECT_FALSE(packed);
    EXPECT_FALSE(kmov::find_startup_block(tail));
    // A block cut short by the end of the file.
    std::vector<uint8_t> cut = fake_template(3000, 100);
    cut.resize(300);
    EXPECT_THAT(kmov::find_startup_block(cut).error().message, HasSubstr("cut short"));
}

// verify_program follows the player: the checksum from movie_offset to the
// end, then the magic there.
TEST(Packer, VerifyChecksTheMovieAsThePlayerWould) {
    std::vector<uint8_t> movie = tiny_movie(1);
    kmov::Expected<std::vector<uint8_t>> packed =
        kmov::pack_movie(fake_template(3000, 100), movie, "t");
    ASSERT_TRUE(packed);
    EXPECT_TRUE(kmov::verify_program(*packed));

    std::vector<uint8_t> damaged = *packed;
    damaged[damaged.size() - 5] ^= 1;
    EXPECT_EQ(kmov::verify_program(damaged).error().message, kmov::VERIFY_CHECKSUM_MESSAGE);
    // The whole template summed (offset 0) does not give the block's 0.
    EXPECT_EQ(kmov::verify_program(fake_template(3000, 100)).error().message,
              kmov::VERIFY_CHECKSUM_MESSAGE);
    // Nothing behind an offset at the end sums to 0, and no magic is there.
    std::vector<uint8_t> at_end = fake_template(3000, 100);
    at_end[100 + STARTUP_MARKER_SIZE] = 3000 & 0xFF;
    at_end[100 + STARTUP_MARKER_SIZE + 1] = 3000 >> 8;
    EXPECT_EQ(kmov::verify_program(at_end).error().message, kmov::VERIFY_NOT_A_MOVIE);

    // A movie_offset inside the block itself (its title holds "kMov") names
    // no movie: packing it must not write the block over the movie.
    std::vector<uint8_t> odd = fake_template(3000, 100);
    size_t block = 100 + STARTUP_MARKER_SIZE;
    std::memcpy(odd.data() + block + 8, "kMov", 4);
    odd[block] = static_cast<uint8_t>(block + 8); // movie_offset = the title's start
    kmov::Expected<kmov::StartupInfo> info = kmov::find_startup_block(odd);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->packed);
    kmov::Expected<std::vector<uint8_t>> repacked = kmov::pack_movie(odd, movie, "t");
    ASSERT_TRUE(repacked);
    EXPECT_TRUE(kmov::verify_program(*repacked)) << kmov::verify_program(*repacked).error().message;
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), repacked->begin() + 3000));
}

} // namespace
