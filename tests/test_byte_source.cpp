// ByteSource: refill accounting, reads past the end, seeks, and the two
// failures it reports.
#include "stream/byte_source.h"
#include "test_support.h"

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

using kmov::test::TempFile;
using testing::HasSubstr;

namespace {

// Every refill's count, through the `refill` hook the reads call.
std::vector<int> refills;
int counting_refill(ByteSource *source) {
    bool reads_the_file = !source->at_end;
    int count = source_refill(source);
    if (reads_the_file)
        refills.push_back(source->available);
    return count;
}

ByteSource *open_counted(const TempFile &file) {
    refills.clear();
    headless_reset();
    ByteSource *source = source_open(file.c_str());
    source->refill = counting_refill;
    return source;
}

TEST(ByteSource, ReadsALargeFileInWholeRefillsAndEndsWithoutAMessage) {
    // The shape of a packed program: a 60416-byte image, then 127 full
    // buffers and 5732 bytes of movie.
    const int32_t image = 0xEC00;
    const int32_t size = image + 127 * 32768 + 5732;
    TempFile file("program", kmov::test::counting_bytes(size));
    ByteSource *source = open_counted(file);
    EXPECT_EQ(source->size, size);
    EXPECT_EQ(source->capacity, 32768);

    source_seek(source, image);
    std::vector<uint8_t> out(size - image + 100);
    EXPECT_EQ(source_read_block(source, out.data(), static_cast<int32_t>(out.size())),
              size - image);
    EXPECT_EQ(out[0], image % 251);
    EXPECT_EQ(out[size - image - 1], (size - 1) % 251);

    ASSERT_EQ(refills.size(), 128u);
    for (size_t i = 0; i < 127; i++)
        EXPECT_EQ(refills[i], 32768) << "refill " << i;
    EXPECT_EQ(refills[127], 5732);
    EXPECT_EQ(source->at_end, 1);
    EXPECT_EQ(source->file_offset, size);

    EXPECT_EQ(source_read_byte(source), 0xFF);
    EXPECT_EQ(source_read_block(source, out.data(), 10), 0);
    EXPECT_EQ(refills.size(), 128u) << "no refill reads the file once at_end is set";
    EXPECT_TRUE(headless_message_boxes().empty());
    source_close(source);
}

TEST(ByteSource, ARemainderOfWholeBuffersEndsWithAnEmptyRefill) {
    TempFile file("movie", kmov::test::counting_bytes(100 + 2 * 32768));
    ByteSource *source = open_counted(file);
    source_seek(source, 100);
    std::vector<uint8_t> out(3 * 32768);
    EXPECT_EQ(source_read_block(source, out.data(), static_cast<int32_t>(out.size())), 65536);
    EXPECT_EQ(refills, (std::vector<int>{32768, 32768, 0}));
    EXPECT_EQ(source->at_end, 1);
    EXPECT_TRUE(headless_message_boxes().empty());
    source_close(source);
}

TEST(ByteSource, WordReadsFillMissingBytesWithFF) {
    TempFile file("movie", {0x6B, 0x4D, 0x6F, 0x76, 0x12, 0x34});
    ByteSource *source = open_counted(file);
    EXPECT_EQ(source_read_be32(source), 0x6B4D6F76u);
    EXPECT_EQ(source_read_be32(source), 0x1234FFFFu);
    EXPECT_EQ(source_read_be32(source), 0xFFFFFFFFu);
    source_close(source);

    TempFile empty("empty", {});
    source = open_counted(empty);
    EXPECT_EQ(source_read_be32(source), 0xFFFFFFFFu);
    EXPECT_TRUE(headless_message_boxes().empty());
    source_close(source);
}

TEST(ByteSource, ASeekClearsTheEndAndDiscardsTheBuffer) {
    TempFile file("movie", kmov::test::counting_bytes(1000));
    ByteSource *source = open_counted(file);
    std::vector<uint8_t> out(1000);
    EXPECT_EQ(source_read_block(source, out.data(), 1000), 1000);
    EXPECT_EQ(source_read_byte(source), 0xFF);
    EXPECT_EQ(source->at_end, 1);

    source_seek(source, 10);
    EXPECT_EQ(source->at_end, 0);
    EXPECT_EQ(source_read_byte(source), 10);
    // A seek inside the buffered bytes still refills from the file.
    size_t before = refills.size();
    source_seek(source, 12);
    EXPECT_EQ(source_read_byte(source), 12);
    EXPECT_EQ(refills.size(), before + 1);

    // Exactly at the size: an empty read that is the end of the file.
    source_seek(source, 1000);
    EXPECT_EQ(source_read_byte(source), 0xFF);
    EXPECT_TRUE(headless_message_boxes().empty());

    // A block read of 0 does not refill.
    source_seek(source, 0);
    before = refills.size();
    EXPECT_EQ(source_read_block(source, out.data(), 0), 0);
    EXPECT_EQ(refills.size(), before);
    source_close(source);
}

TEST(ByteSourceDeath, ASeekBeyondTheSizeReportsAReadError) {
    TempFile file("movie", kmov::test::counting_bytes(1000));
    EXPECT_EXIT(
        {
            ByteSource *source = source_open(file.c_str());
            source_seek(source, 2000);
            source_read_byte(source);
        },
        testing::ExitedWithCode(1), HasSubstr("MessageBoxA [Error] 0x00012010 リードエラー("));
}

TEST(ByteSourceDeath, AFileThatCannotBeOpenedIsNamedWithTheSystemCode) {
    // Fixed names: a death test's child may run the test body again.
    std::filesystem::path temp = std::filesystem::temp_directory_path();
    std::string missing_file = (temp / "kmov-no-such-movie.kmov").string();
    std::string missing_folder = (temp / "kmov-no-such-folder" / "movie").string();
    EXPECT_EXIT(source_open(missing_file.c_str()), testing::ExitedWithCode(1),
                HasSubstr(missing_file + ": オープンできません (2)\n"));
    EXPECT_EXIT(source_open(missing_folder.c_str()), testing::ExitedWithCode(1),
                HasSubstr(missing_folder + ": オープンできません (3)\n"));
}

// The wide open (the program's own file) names the file in the message in
// code page 932, whatever characters its path has.
TEST(ByteSourceDeath, AWideNameIsNamedInCodePage932) {
    std::filesystem::path temp = std::filesystem::temp_directory_path();
    std::filesystem::path missing = temp / u"kmov-\u590F\u4F11\u307F" / "movie.exe"; // 夏休み
    EXPECT_EXIT(source_open_wide(kmov::test::wide_path(missing).c_str()),
                testing::ExitedWithCode(1),
                testing::AllOf(HasSubstr("kmov-夏休み"), // this file's literals are 932
                               HasSubstr("movie.exe: オープンできません (3)\n")));
    TempFile file("movie", kmov::test::counting_bytes(100));
    ByteSource *source = source_open_wide(file.w_str());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source_read_be32(source), 0x00010203u);
    source_close(source);
}

TEST(ByteSource, MessagesAreShiftJisBytes) {
    // The test file is compiled like the player, so its literals are code
    // page 932 too; pin the bytes themselves once.
    EXPECT_EQ(std::string("リードエラー(%d)"),
              "\x83\x8a\x81\x5b\x83\x68\x83\x47\x83\x89\x81\x5b(%d)");
    EXPECT_EQ(std::string("ﾃﾞｰﾀが正しくありません"),
              "\xc3\xde\xb0\xc0\x82\xaa\x90\xb3\x82\xb5\x82\xad\x82\xa0\x82\xe8\x82\xdc\x82\xb9"
              "\x82\xf1");
}

} // namespace
