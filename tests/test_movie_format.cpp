// Reading movies: the header and palette through the ByteSource, the record
// walker, and `kmov info` on writer-made movies.
#include "player/movie_format.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

using kmov::MovieWriter;
using kmov::test::TempFile;
using testing::HasSubstr;

namespace {

MovieWriter small_movie() {
    MovieHeader header = kmov::make_header(7, 3);
    header.data_rate = 1000;
    header.ring_size = 4096;
    header.preload_size = 100;
    header.sample_rate = 22050;
    header.ldp = 4;
    header.samples_per_buffer = 1470;
    header.buffer_pairs = 3;
    header.reserved[2] = -5;
    MovieWriter movie(header, kmov::test::test_palette());
    std::vector<uint8_t> frame(21, 7); // 21 literals: one 7 x 3 frame, 3 bytes of padding
    movie.add(TAG_ADAT, 0, std::vector<uint8_t>{0x1F, 0x02}, 5)
        .frame(frame, 0, 0)
        .add(TAG_ASTA, 0)
        .frame(frame, 0, 66)
        .end(67)
        .count_frames();
    return movie;
}

struct Visit {
    std::vector<RecordHeader> records;
    std::vector<int64_t> payload_offsets;
};

int remember(const RecordHeader *record, int64_t payload_offset, void *context) {
    Visit &visit = *static_cast<Visit *>(context);
    visit.records.push_back(*record);
    visit.payload_offsets.push_back(payload_offset);
    return 1;
}

TEST(MovieFormat, AWriterMadeMovieReadsBackThroughTheByteSource) {
    MovieWriter movie = small_movie();
    std::vector<uint8_t> bytes = movie.bytes();
    // Behind a 100-byte "image", as in a packed program.
    std::vector<uint8_t> file_bytes(100 + bytes.size(), 0xAA);
    std::copy(bytes.begin(), bytes.end(), file_bytes.begin() + 100);
    TempFile file("packed", file_bytes);

    headless_reset();
    ByteSource *source = source_open(file.c_str());
    source_seek(source, 100);
    MovieHeader header;
    ASSERT_TRUE(movie_read_header(source, &header));
    EXPECT_EQ(source->file_offset - source->available, 100 + 64);
    EXPECT_EQ(header.width, 7);
    EXPECT_EQ(header.height, 3);
    EXPECT_EQ(header.data_rate, 1000);
    EXPECT_EQ(header.ring_size, 4096);
    EXPECT_EQ(header.preload_size, 100);
    EXPECT_EQ(header.frame_rate, 15000);
    EXPECT_EQ(header.frame_count, 2);
    EXPECT_EQ(header.sample_rate, 22050);
    EXPECT_EQ(header.ldp, 4);
    EXPECT_EQ(header.samples_per_buffer, 1470);
    EXPECT_EQ(header.buffer_pairs, 3);
    EXPECT_EQ(header.reserved[2], -5);

    RGBQUAD colours[256];
    movie_read_palette(source, colours);
    for (int i = 0; i < 240; i++) {
        kmov::Rgb expected = kmov::test::test_palette()[i];
        EXPECT_EQ(colours[i].rgbRed, expected.r);
        EXPECT_EQ(colours[i].rgbGreen, expected.g);
        EXPECT_EQ(colours[i].rgbBlue, expected.b);
        EXPECT_EQ(colours[i].rgbReserved, 0);
    }
    for (int i = 240; i < 256; i++)
        EXPECT_EQ(colours[i].rgbRed | colours[i].rgbGreen | colours[i].rgbBlue, 0);

    Visit visit;
    int64_t end_offset = 0;
    EXPECT_EQ(movie_walk_records(source, remember, &visit, &end_offset), MOVIE_WALK_END);
    EXPECT_EQ(end_offset, static_cast<int64_t>(file_bytes.size()));
    std::vector<uint32_t> tags;
    for (const RecordHeader &record : visit.records)
        tags.push_back(record.tag);
    EXPECT_EQ(tags, (std::vector<uint32_t>{TAG_ADAT, TAG_VDAT, TAG_VBLT, TAG_ASTA, TAG_VDAT,
                                           TAG_VBLT, TAG_END}));
    EXPECT_EQ(visit.records[0].length, 4u) << "2 bytes of audio padded to 4";
    EXPECT_EQ(visit.records[0].param, 5u);
    EXPECT_EQ(visit.records[1].length, 24u);
    EXPECT_EQ(visit.records[5].delay, 66u);
    EXPECT_EQ(visit.payload_offsets[0], 100 + 1024 + 16);
    EXPECT_EQ(visit.payload_offsets[1], 100 + 1024 + 16 + 4 + 16);
    source_close(source);
    EXPECT_TRUE(headless_message_boxes().empty());
}

TEST(MovieFormat, PaddingIsRandomUnlessZerosAreAsked) {
    MovieWriter movie = small_movie();
    std::vector<uint8_t> random = movie.bytes();
    std::vector<uint8_t> zero = movie.bytes({kmov::Padding::Zero});
    ASSERT_EQ(random.size(), zero.size());
    // The 3 padding bytes behind the first frame's 21 literals.
    size_t padding = 1024 + 16 + 4 + 16 + 21;
    EXPECT_EQ(zero[padding] | zero[padding + 1] | zero[padding + 2], 0);
    EXPECT_NE(random[padding] | random[padding + 1] | random[padding + 2], 0);
}

kmov::test::ProgramRun run_kmov(const std::string &arguments) {
    return kmov::test::run_program(std::string(KMOV_PROGRAM) + " " + arguments);
}

TEST(KmovInfo, JsonDescribesTheMovie) {
    TempFile file("movie.kmov", small_movie().bytes());
    kmov::test::ProgramRun run = run_kmov("info --json " + file.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char *expected :
         {"\"width\": 7,", "\"height\": 3,", "\"data_rate\": 1000,", "\"ring_size\": 4096,",
          "\"preload_size\": 100,", "\"frame_rate\": 15000,", "\"frame_count\": 2,",
          "\"sample_rate\": 22050,", "\"ldp\": 4,", "\"samples_per_buffer\": 1470,",
          "\"buffer_pairs\": 3,", "\"records\": 7,", "\"duration_ms\": 133,",
          "\"largest_payload\": 24,", "\"problems\": []",
          "\"tags\": {\"adat\": 1, \"asta\": 1, \"end \": 1, \"vblt\": 2, \"vdat\": 2}",
          "\"palette\": [[0, 255, 0], [1, 254, 7], [2, 253, 14]"})
        EXPECT_THAT(run.out, HasSubstr(expected));
}

TEST(KmovInfo, NamesWhatIsWrong) {
    MovieWriter movie = small_movie();
    movie.header().frame_count = 5;
    kmov::Record odd;
    odd.tag = MOVIE_TAG('z', 'z', 'z', 'z');
    odd.payload = {1, 2, 3, 4, 5, 6};
    movie.add(std::move(odd));
    std::vector<uint8_t> bytes = movie.bytes();
    bytes.resize(bytes.size() + 4, 0);
    TempFile file("movie.kmov", bytes);
    kmov::test::ProgramRun run = run_kmov("info --json " + file.path().string());
    ASSERT_EQ(run.status, 1) << run.err; // problems listed: exit code 1
    EXPECT_THAT(run.out, HasSubstr("frame_count is 5 but the stream has 2"));
    EXPECT_THAT(run.out, HasSubstr("bytes after the \\\"end \\\" record"));

    // A stream cut inside a payload, with an unknown tag and an odd length.
    MovieWriter cut = small_movie();
    std::vector<uint8_t> cut_bytes = cut.bytes();
    cut_bytes.resize(1024 + 16 + 2);
    file.write(cut_bytes);
    run = run_kmov("info --json " + file.path().string());
    EXPECT_THAT(run.out, HasSubstr("the file ends inside record 1"));

    kmov::Record unaligned;
    unaligned.tag = MOVIE_TAG('a', 'b', 'c', 'd');
    unaligned.payload = {1, 2, 3};
    unaligned.length_override = 3;
    MovieWriter bad(kmov::make_header(4, 4), kmov::test::test_palette());
    bad.add(std::move(unaligned)).end();
    file.write(bad.bytes());
    run = run_kmov("info --json " + file.path().string());
    EXPECT_THAT(run.out, HasSubstr("unknown tag abcd in record 1"));
    EXPECT_THAT(run.out, HasSubstr("has length 3, not a multiple of 4"));
}

TEST(KmovInfo, RefusesWhatIsNotAMovie) {
    TempFile file("notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    kmov::test::ProgramRun run = run_kmov("info " + file.path().string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, file.path().string() + ": not a kmov file\n");

    run = run_kmov("info " + file.path().string() + ".missing");
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("No such file or directory"));

    run = run_kmov("info --offset 99 " + file.path().string());
    EXPECT_NE(run.status, 0);
    EXPECT_THAT(run.err, HasSubstr("beyond the end"));
}

} // namespace
