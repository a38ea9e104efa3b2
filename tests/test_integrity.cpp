// The movie checksum, the start-up check, reading PE headers, and packing
// movies into player templates (signed ones included).
#include "app/integrity.h"
#include "app/pe_image.h"
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

using kmov::test::FAKE_PE_CHECKSUM;
using kmov::test::fake_pe_security_entry;
using kmov::test::fake_pe_template;
using kmov::test::fake_sign;

void put32(std::vector<uint8_t> &bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(PeImage, ReadsBothKindsAndRefusesDamagedHeaders) {
    for (bool plus : {false, true}) {
        std::vector<uint8_t> head = fake_pe_template(2048, plus);
        put32(head, fake_pe_security_entry(plus), 0x12345);
        put32(head, fake_pe_security_entry(plus) + 4, 0x678);
        PeHeaders headers;
        ASSERT_EQ(pe_read_headers(head.data(), head.size(), &headers), 1) << plus;
        EXPECT_EQ(headers.checksum_offset, FAKE_PE_CHECKSUM);
        EXPECT_EQ(headers.security_entry_offset, fake_pe_security_entry(plus));
        EXPECT_EQ(headers.certificate_offset, 0x12345u);
        EXPECT_EQ(headers.certificate_size, 0x678u);
        // Every cut through the headers reads as "no PE", inside the bytes
        // (the sanitizer run would see a read past them).
        size_t needed = fake_pe_security_entry(plus) + PE_DIRECTORY_ENTRY_SIZE;
        for (size_t cut = 0; cut < needed; cut++) {
            std::vector<uint8_t> part(head.begin(), head.begin() + static_cast<long>(cut));
            EXPECT_EQ(pe_read_headers(part.data(), part.size(), &headers), 0) << cut;
        }
    }
    const size_t optional = 0x80 + 24;
    const struct {
        const char *what;
        size_t at;
        uint32_t value;
        int width;
    } damage[] = {
        {"no MZ", 0, 'X', 1},
        {"PE header beyond the bytes", 0x3C, 0x10000, 4},
        {"PE header offset that wraps", 0x3C, 0xFFFFFFFE, 4},
        {"no PE signature", 0x80, 0x00004551, 4},
        {"unknown optional header", optional, 0x107, 2},
        {"no security entry", optional + 92, 4, 4},
        {"optional header too small for it", 0x80 + 20, 96 + 32, 2},
    };
    for (const auto &d : damage) {
        std::vector<uint8_t> head = fake_pe_template(2048);
        for (int i = 0; i < d.width; i++)
            head[d.at + i] = static_cast<uint8_t>(d.value >> (8 * i));
        PeHeaders headers;
        EXPECT_EQ(pe_read_headers(head.data(), head.size(), &headers), 0) << d.what;
        EXPECT_EQ(headers.certificate_size, 0u) << d.what;
    }
}

TEST(PeImage, TheChecksumStopsOnlyAtATableThatEndsTheFileBehindTheMovie) {
    const size_t entry = fake_pe_security_entry();
    const struct {
        const char *what;
        uint32_t offset, size;
        uint64_t file_size;
        uint32_t movie_offset;
        uint64_t end;
    } cases[] = {
        {"signed", 5000, 1000, 6000, 2000, 5000},
        {"signed, table right at the movie", 2000, 1000, 3000, 2000, 2000},
        {"not signed", 0, 0, 6000, 2000, 6000},
        {"size 0", 5000, 0, 6000, 2000, 6000},
        {"table short of the end", 5000, 999, 6000, 2000, 6000},
        {"table past the end", 5000, 1001, 6000, 2000, 6000},
        {"table before the movie", 1000, 5000, 6000, 2000, 6000},
        {"offset + size wraps", 0xFFFFFF00u, 0x1000, 0xF00, 0, 0xF00},
    };
    for (const auto &c : cases) {
        std::vector<uint8_t> head = fake_pe_template(2048);
        put32(head, entry, c.offset);
        put32(head, entry + 4, c.size);
        EXPECT_EQ(movie_checksum_end(head.data(), head.size(), c.file_size, c.movie_offset), c.end)
            << c.what;
    }
    // A file that is no PE image (the Linux template) runs to its end.
    std::vector<uint8_t> elf = kmov::test::counting_bytes(1024);
    EXPECT_EQ(movie_checksum_end(elf.data(), elf.size(), 6000, 2000), 6000u);
}

// A Windows program packed, signed, changed, and with its signature taken
// off again: the player's check and kmov verify agree on each.
TEST(StartupCheck, ASignedProgramPassesAndAChangedOneStillFails) {
    std::vector<uint8_t> movie = tiny_movie(1);
    kmov::Expected<std::vector<uint8_t>> packed =
        kmov::pack_movie(fake_pe_template(3001), movie, "t");
    ASSERT_TRUE(packed) << packed.error().message;
    std::vector<uint8_t> signed_program = *packed;
    fake_sign(signed_program, fake_pe_security_entry());
    size_t block = 0x300 + STARTUP_MARKER_SIZE;
    set_block(le32(signed_program, block), le32(signed_program, block + 4));
    TempFile file("signed.exe", signed_program);

    std::vector<uint8_t> changed_table = signed_program;
    changed_table.at(changed_table.size() - 100) ^= 0xFF;
    std::vector<uint8_t> changed_movie = signed_program;
    changed_movie[3001 + 20] ^= 1;
    std::vector<uint8_t> table_not_at_end = signed_program;
    table_not_at_end.push_back(0);
    std::vector<uint8_t> unsigned_again(signed_program.begin(), signed_program.end() - 1000);
    put32(unsigned_again, fake_pe_security_entry(), 0);
    put32(unsigned_again, fake_pe_security_entry() + 4, 0);
    const std::pair<const char *, const std::vector<uint8_t> *> passing[] = {
        {"signed", &signed_program},
        {"the table changed", &changed_table},
        {"the signature removed", &unsigned_again},
    };
    for (const auto &[what, bytes] : passing) {
        SCOPED_TRACE(what);
        file.write(*bytes);
        verify_movie_checksum(file.w_str()); // returns
        EXPECT_TRUE(kmov::verify_program(*bytes));
    }
    const std::pair<const char *, const std::vector<uint8_t> *> failing[] = {
        {"a movie word changed", &changed_movie},
        {"a byte behind the table", &table_not_at_end},
    };
    for (const auto &[what, bytes] : failing) {
        SCOPED_TRACE(what);
        file.write(*bytes);
        EXPECT_EXIT(verify_movie_checksum(file.w_str()), testing::ExitedWithCode(1),
                    HasSubstr("ﾃﾞｰﾀが正しくありません"));
        EXPECT_EQ(kmov::verify_program(*bytes).error().message, kmov::VERIFY_CHECKSUM_MESSAGE);
    }
}

TEST(Packer, PadsAWindowsProgramToEightBytesAndSetsItsChecksum) {
    for (size_t size : {size_t{3001}, size_t{3008}}) {
        std::vector<uint8_t> movie = tiny_movie(1);
        kmov::Expected<std::vector<uint8_t>> packed =
            kmov::pack_movie(fake_pe_template(size), movie, "t");
        ASSERT_TRUE(packed) << packed.error().message;
        EXPECT_EQ(packed->size() % 8, 0u);
        EXPECT_LT(packed->size() - (size + movie.size()), 8u);
        EXPECT_TRUE(std::all_of(packed->begin() + static_cast<long>(size + movie.size()),
                                packed->end(), [](uint8_t b) { return b == 0; }));
        uint32_t field = le32(*packed, FAKE_PE_CHECKSUM);
        EXPECT_EQ(field, kmov::pe_checksum(*packed, FAKE_PE_CHECKSUM));
        EXPECT_NE(field, 0u);
        EXPECT_TRUE(kmov::verify_program(*packed));
    }
    // The Linux template gets neither.
    std::vector<uint8_t> movie = tiny_movie(1);
    kmov::Expected<std::vector<uint8_t>> elf =
        kmov::pack_movie(fake_template(3001, 700), movie, "t");
    ASSERT_TRUE(elf);
    EXPECT_EQ(elf->size(), 3001 + movie.size());
}

TEST(Packer, PeChecksumWorkedValues) {
    // 16-bit words with the carry folded back, the field as zero, plus the
    // length: 0x0201 + 0x0003 + 3; 0xFFFF + 0xFFFF folds to 0xFFFF, + 4.
    EXPECT_EQ(kmov::pe_checksum(std::vector<uint8_t>{1, 2, 3}, 100), 0x0207u);
    EXPECT_EQ(kmov::pe_checksum(std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}, 100), 0x10003u);
    EXPECT_EQ(kmov::pe_checksum(std::vector<uint8_t>{1, 0, 9, 9, 9, 9, 2, 0}, 2), 0x0003u + 8);
}

TEST(Packer, RefusesASignedTemplate) {
    std::vector<uint8_t> player = fake_pe_template(3001);
    fake_sign(player, fake_pe_security_entry());
    kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(player, tiny_movie(1), "t");
    ASSERT_FALSE(packed);
    EXPECT_THAT(packed.error().message, HasSubstr("pack first, then sign"));
}

} // namespace
