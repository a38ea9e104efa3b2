// Golden checksums of what the kmov commands write and say: the movies
// `encode` and `demo` make (the file and every frame the player presents),
// `info --json` and `frames --raw` on the fixture movies, and the command
// lines' help, usage errors and exit codes. Any change to the encoder, the
// decoder or a message shows up here as the row that moved.
//
// A mismatch prints the row as it now stands, in the table's own form, so a
// deliberate change is taken over by pasting the printed rows.
#include "hostile_movies.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

using kmov::test::ProgramRun;
using kmov::test::TempFile;
namespace fs = std::filesystem;

namespace {

using kmov::test::checksum;

// The per-frame checksums (32 bits each, space-separated) of `frames`
// written as raw width x height frames.
std::string frame_sums(const std::vector<uint8_t> &frames, size_t frame_size) {
    std::string sums;
    for (size_t at = 0; frame_size != 0 && at + frame_size <= frames.size(); at += frame_size)
        sums += (sums.empty() ? "" : " ") + checksum(frames.data() + at, frame_size, 8);
    return sums;
}

struct Golden {
    const char *name;
    const char *value;
};

// Compares what was measured with the table, row by row, and prints every
// row that differs or is missing as it should now read.
void expect_goldens(const std::vector<std::pair<std::string, std::string>> &measured,
                    const std::vector<Golden> &table) {
    std::map<std::string, std::string> expected;
    for (const Golden &row : table)
        expected[row.name] = row.value;
    std::string changed;
    for (const auto &[name, value] : measured) {
        auto row = expected.find(name);
        if (row == expected.end() || row->second != value)
            changed += "    {\"" + name + "\", \"" + value + "\"},\n";
    }
    EXPECT_EQ(measured.size(), table.size()) << "rows measured and rows in the table differ";
    EXPECT_TRUE(changed.empty()) << "rows that changed, as they now read:\n" << changed;
}

class Goldens : public testing::Test {
  protected:
    // Runs kmov with the folder's path in `arguments` as {DIR}; the result's
    // texts have the folder's path replaced by {DIR} again.
    ProgramRun kmov(const std::string &arguments) {
        ProgramRun run = kmov::test::run_program(std::string(KMOV_PROGRAM) + " " +
                                                 with(arguments, "{DIR}", dir()));
        run.out = with(run.out, dir(), "{DIR}");
        run.err = with(run.err, dir(), "{DIR}");
        return run;
    }
    // "status|sum of stdout|sum of stderr": what a command did, in a row.
    std::string outcome(const std::string &arguments) {
        ProgramRun run = kmov(arguments);
        return std::to_string(run.status) + "|" + checksum(run.out) + "|" + checksum(run.err);
    }
    void ffmpeg(const std::string &arguments) {
        ProgramRun run = kmov::test::run_program(
            "ffmpeg -nostdin -hide_banner -loglevel error -y " + with(arguments, "{DIR}", dir()));
        ASSERT_EQ(run.status, 0) << run.err;
    }
    // The movie's file, every frame the player presents and its sound.
    void measure_movie(const std::string &name,
                       std::vector<std::pair<std::string, std::string>> &measured) {
        std::string movie = "{DIR}/" + name;
        ProgramRun info = kmov("info --json " + movie);
        ASSERT_EQ(info.status, 0) << info.err;
        std::smatch width, height;
        ASSERT_TRUE(std::regex_search(info.out, width, std::regex("\"width\": (\\d+)")));
        ASSERT_TRUE(std::regex_search(info.out, height, std::regex("\"height\": (\\d+)")));
        ASSERT_EQ(kmov("frames " + movie + " --raw {DIR}/frames.raw").status, 0);
        fs::remove(folder() / "sound.raw");
        const int audio = kmov("audio " + movie + " --raw {DIR}/sound.raw").status;
        measured.push_back({name, checksum(kmov::test::read_file(folder() / name))});
        measured.push_back({name + " info", checksum(info.out)});
        measured.push_back(
            {name + " sound", std::to_string(audio) + "|" +
                                  (fs::exists(folder() / "sound.raw")
                                       ? checksum(kmov::test::read_file(folder() / "sound.raw"))
                                       : "none")});
        measured.push_back(
            {name + " frames", frame_sums(kmov::test::read_file(folder() / "frames.raw"),
                                          std::stoul(width[1]) * std::stoul(height[1]))});
    }

    static std::string with(std::string text, const std::string &from, const std::string &to) {
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
        return text;
    }
    const fs::path &folder() const { return dir_.folder(); }
    std::string dir() const { return folder().string(); }

    TempFile dir_{"unused"};
};

// The encoder's output on fixed inputs, made here with FFmpeg's own
// generators: a moving test pattern, a still picture with a tone, and the
// demo. The summary's speed is left out; everything else is pinned.
TEST_F(Goldens, EncodedMovies) {
#ifdef KMOV_SANITIZED
    GTEST_SKIP() << "the native build checks the encoder's output; under the sanitizers the "
                    "demo alone takes minutes";
#endif
    ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=15 -t 2 -c:v ffv1 {DIR}/clip.mkv");
    ffmpeg("-f lavfi -i testsrc2=size=128x96 -frames:v 1 {DIR}/still.png");
    ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 -c:a pcm_s16le "
           "{DIR}/tone.wav");
    const struct {
        const char *movie;
        const char *arguments;
    } encodes[] = {
        {"clip.kmov", "encode {DIR}/clip.mkv -o {DIR}/clip.kmov --json"},
        {"clip-ordered.kmov",
         "encode {DIR}/clip.mkv -o {DIR}/clip-ordered.kmov --json --size 96x72 --fps 10 "
         "--dither ordered --lossy 2"},
        {"still.kmov", "encode {DIR}/still.png --audio {DIR}/tone.wav -o {DIR}/still.kmov --json"},
        {"still-6.kmov", "encode {DIR}/still.png --audio {DIR}/tone.wav -o {DIR}/still-6.kmov "
                         "--json --bits 6 --rate 11025 --duration 0.5"},
        {"demo.kmov", "demo -o {DIR}/demo.kmov"},
    };
    std::vector<std::pair<std::string, std::string>> measured;
    for (const auto &e : encodes) {
        SCOPED_TRACE(e.arguments);
        ProgramRun run = kmov(e.arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        // The time the run took and its speed are the lines that may differ.
        std::string summary =
            std::regex_replace(run.out, std::regex(".*\"(seconds|encode_fps)\".*\n"), "");
        measured.push_back({std::string(e.movie) + " summary", checksum(summary + run.err)});
        measure_movie(e.movie, measured);
    }
    expect_goldens(
        measured,
        {
            {"clip.kmov summary", "253ef44786538fe1"},
            {"clip.kmov", "675f292cdbacfb6e"},
            {"clip.kmov info", "5d624bb40fda3af9"},
            {"clip.kmov sound", "1|none"},
            {"clip.kmov frames",
             "526d75f1 32875fba f7ed42e2 a29ebcd6 a76fad22 3f7207f7 d8c3d60e db80e77f fcc19e08 "
             "4ab1a160 3af203b8 e5c719bb 0267d9aa 279b8508 08fa7c82 5324e185 2bba14b0 94ec2ae7 "
             "38e74ae7 fb14d324 23a36011 c48db1bd 969f967e 7df8a24f fb14e885 46e6bb13 4d21dee6 "
             "c3ebfe57 9b2ac6f1 b8e3f7d6"},
            {"clip-ordered.kmov summary", "06d306f2afc54bb9"},
            {"clip-ordered.kmov", "b593d5edfe051cd2"},
            {"clip-ordered.kmov info", "4cb997aa0793940f"},
            {"clip-ordered.kmov sound", "1|none"},
            {"clip-ordered.kmov frames",
             "585f0aa1 0705b944 60c8964a ad869c52 69bc1ed7 e69204d5 d818ad0e 86ce480d 250ee3ea "
             "bcd607f1 12b11c41 d74fe60d ea8a06e1 a07caa86 bda0e19c b03c3fc9 f09b9ad1 d62d907c "
             "bc334b2d 46f18989"},
            {"still.kmov summary", "a28eb75e7e0ace8b"},
            {"still.kmov", "a76db2d8ea80ac17"},
            {"still.kmov info", "81b32e909a2ae9c2"},
            {"still.kmov sound", "0|80d6e1005fef1091"},
            {"still.kmov frames",
             "043243b4 043243b4 043243b4 043243b4 043243b4 043243b4 043243b4 043243b4 043243b4 "
             "043243b4 043243b4 043243b4 043243b4 043243b4 043243b4"},
            {"still-6.kmov summary", "d38a93453067dd96"},
            {"still-6.kmov", "cbb08e7899c36b86"},
            {"still-6.kmov info", "eb5e1cba65e6c2b4"},
            {"still-6.kmov sound", "0|854a511afb8c428c"},
            {"still-6.kmov frames",
             "043243b4 043243b4 043243b4 043243b4 043243b4 043243b4 043243b4 043243b4"},
            {"demo.kmov summary", "cb69fc0563bf7361"},
            {"demo.kmov", "f8a1ad8bfff43e08"},
            {"demo.kmov info", "916fe72d97c3f4d4"},
            {"demo.kmov sound", "0|6803813cb727d563"},
            {"demo.kmov frames",
             "bf991da1 8c17f5a2 c4fe55b9 cff8539c b8aea16d 9a3fca00 65d8c223 504d21aa 5d0f8617 "
             "1dfddefb c3311c5a 772dcaaf 837c80e5 a7bc980c def62433 8fb9e18c a2df9182 7337e54e "
             "4ff7d8b4 98c3f734 342f0207 cbae1203 c21986d1 be0e5801 d8a1dcb2 ae163099 f7a25426 "
             "db3eb715 14bc818b e17f8ef0 99b0640c 5d038fea d5052e27 e8f9e91b cf2a74fa 0c06c930 "
             "635fee37 84533da0 5d7af056 cb20a93e 21616a19 ec0623c0 217e9e40 2d734fe0 54a148e3 "
             "13a38030 44b02c46 f01e4111 10fde078 aecbbe07 86dd1351 eb907bf9 2d0b84ac 889b2c44 "
             "697f05d8 54bb662e e2a110d4 87c8f0db a2395de0 fa580a48 af279732 7c3180cf 419b4512 "
             "ab7dd2d8 facb3d95 01bf6857 e5597121 f6916556 cfd548b2 bce21677 5bcdac6c 9ae41329 "
             "a072a42e 03ff1967 9be55135 61d84e2a 2dba5f37 bc8f117f dbf13510 831055f2 a971d58d "
             "132e2454 94f91b05 dc9187f3 87068c97 6333e720 c4cab90b c699a3c4 8155dad3 1180186f "
             "53996c43 38697b99 5dd42776 95d3d569 f60e8bd3 220c1a5f 800c4745"},
        });
}

// `info --json` and `frames --raw` on the fixture movies: the well-formed
// ones and every hostile one, refused or not.
TEST_F(Goldens, FixtureMovies) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> movies = {
        {"well-formed", kmov::test::well_formed_movie(false)},
        {"well-formed-sound", kmov::test::well_formed_movie(true)},
    };
    for (const kmov::test::HostileMovie &m : kmov::test::hostile_movies())
        if (m.device)
            movies.push_back({m.name, m.bytes});
    std::vector<std::pair<std::string, std::string>> measured;
    for (const auto &[name, bytes] : movies) {
        kmov::write_file_atomically(folder() / "movie", bytes);
        fs::remove(folder() / "frames.raw");
        std::string frames = outcome("frames {DIR}/movie --raw {DIR}/frames.raw");
        std::string written = fs::exists(folder() / "frames.raw")
                                  ? checksum(kmov::test::read_file(folder() / "frames.raw"))
                                  : "none";
        measured.push_back({name + " info", outcome("info --json {DIR}/movie")});
        measured.push_back({name + " frames", frames + "|" + written});
    }
    expect_goldens(
        measured,
        {
            {"well-formed info", "0|31f31c138a617c09|cbf29ce484222325"},
            {"well-formed frames", "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"well-formed-sound info", "0|26708987cf1e36b2|cbf29ce484222325"},
            {"well-formed-sound frames", "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"the well-formed movie info", "0|31f31c138a617c09|cbf29ce484222325"},
            {"the well-formed movie frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"the well-formed movie with sound info", "0|26708987cf1e36b2|cbf29ce484222325"},
            {"the well-formed movie with sound frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"width 0 info", "1|88f10cad72e56294|cbf29ce484222325"},
            {"width 0 frames", "1|cbf29ce484222325|ed53236977eee353|none"},
            {"width -1 info", "1|ee1c0088e5bc4f8a|cbf29ce484222325"},
            {"width -1 frames", "1|cbf29ce484222325|ed53236977eee353|none"},
            {"width 2^31-1 info", "1|fd894a1bf465df89|cbf29ce484222325"},
            {"width 2^31-1 frames", "1|cbf29ce484222325|f0bf0fa3d8d8643c|none"},
            {"width 2^31-3: row_stride 2^31 info", "1|af5ba1045fe84615|cbf29ce484222325"},
            {"width 2^31-3: row_stride 2^31 frames", "1|cbf29ce484222325|f0bf0fa3d8d8643c|none"},
            {"height 0 info", "1|ddac4ec9509bff3c|cbf29ce484222325"},
            {"height 0 frames", "1|cbf29ce484222325|ed53236977eee353|none"},
            {"height -30 info", "1|ef5ec7e15baf8e44|cbf29ce484222325"},
            {"height -30 frames", "1|cbf29ce484222325|ed53236977eee353|none"},
            {"height 2^31-1 info", "1|f60a193c80d2a489|cbf29ce484222325"},
            {"height 2^31-1 frames", "1|cbf29ce484222325|f0bf0fa3d8d8643c|none"},
            {"height -2^31 info", "1|137cd62ef409c48f|cbf29ce484222325"},
            {"height -2^31 frames", "1|cbf29ce484222325|f0bf0fa3d8d8643c|none"},
            {"row_stride x height = 2^31, width x height below info",
             "1|9d61e3f46c0f6738|cbf29ce484222325"},
            {"row_stride x height = 2^31, width x height below frames",
             "1|cbf29ce484222325|f0bf0fa3d8d8643c|none"},
            {"row_stride x height beyond 2^31 info", "1|c44ed1c57994b4ce|cbf29ce484222325"},
            {"row_stride x height beyond 2^31 frames", "1|cbf29ce484222325|f0bf0fa3d8d8643c|none"},
            {"ring_size -1: the smallest ring info", "0|7f308c6c7ed4e771|cbf29ce484222325"},
            {"ring_size -1: the smallest ring frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"ring_size 2^30+1: a ring beyond 2^30 info", "1|94865f47d0b38da3|cbf29ce484222325"},
            {"ring_size 2^30+1: a ring beyond 2^30 frames",
             "1|cbf29ce484222325|1049357dd451d76d|none"},
            {"ring_size 2^31-1 info", "1|dfad8d0152d8c9ff|cbf29ce484222325"},
            {"ring_size 2^31-1 frames", "1|cbf29ce484222325|1049357dd451d76d|none"},
            {"preload_size -1 info", "0|adb639913884fe4a|cbf29ce484222325"},
            {"preload_size -1 frames", "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"preload_size 2^31-1: cut to the ring info", "0|b8a585d4a4bf9b2c|cbf29ce484222325"},
            {"preload_size 2^31-1: cut to the ring frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"data_rate -1: top-ups cut to the free space info",
             "0|8a050d4c188fbfe5|cbf29ce484222325"},
            {"data_rate -1: top-ups cut to the free space frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"frame_count -1: every play rewinds info", "1|1480d40119758bc6|cbf29ce484222325"},
            {"frame_count -1: every play rewinds frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"sample_rate -22050: no device takes it info", "0|d773751931ac909d|cbf29ce484222325"},
            {"sample_rate -22050: no device takes it frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"ldp 0 with a device info", "1|468ca686373656f2|cbf29ce484222325"},
            {"ldp 0 with a device frames", "1|cbf29ce484222325|6fab8929dd881d97|none"},
            {"ldp 5 with a device info", "1|815f9f118275560a|cbf29ce484222325"},
            {"ldp 5 with a device frames", "1|cbf29ce484222325|c9bace8f816579da|none"},
            {"ldp 8 with a device info", "1|89a31bd68c362392|cbf29ce484222325"},
            {"ldp 8 with a device frames", "1|cbf29ce484222325|94ed465eb7eb8e8f|none"},
            {"ldp 255 with a device info", "1|e26ed5385e2212c2|cbf29ce484222325"},
            {"ldp 255 with a device frames", "1|cbf29ce484222325|e824f5c2a87d99f3|none"},
            {"samples_per_buffer 2^31-1 with a device info", "1|4253ae9359d79c4f|cbf29ce484222325"},
            {"samples_per_buffer 2^31-1 with a device frames",
             "1|cbf29ce484222325|0833b726cd10b774|none"},
            {"samples_per_buffer -1 with a device info", "1|b0543d4efc32a739|cbf29ce484222325"},
            {"samples_per_buffer -1 with a device frames",
             "1|cbf29ce484222325|0833b726cd10b774|none"},
            {"buffer_pairs 2^31-1 with a device info", "1|f54e5e6cf8b5e59f|cbf29ce484222325"},
            {"buffer_pairs 2^31-1 with a device frames",
             "1|cbf29ce484222325|0833b726cd10b774|none"},
            {"buffer_pairs 2^30: 2^31 buffers with a device info",
             "1|f30e853ffa4f8cdc|cbf29ce484222325"},
            {"buffer_pairs 2^30: 2^31 buffers with a device frames",
             "1|cbf29ce484222325|0833b726cd10b774|none"},
            {"buffer_pairs -1 with a device info", "1|b4b49a024f0f7221|cbf29ce484222325"},
            {"buffer_pairs -1 with a device frames", "1|cbf29ce484222325|0833b726cd10b774|none"},
            {"samples_per_buffer 0: blocks cut to nothing info",
             "0|ca5d746ce1ccff10|cbf29ce484222325"},
            {"samples_per_buffer 0: blocks cut to nothing frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"buffer_pairs 0: every block skipped info", "0|32e3fe2941715328|cbf29ce484222325"},
            {"buffer_pairs 0: every block skipped frames",
             "0|cbf29ce484222325|cbf29ce484222325|43a83a710a353f91"},
            {"cut in a record header (frame 3's vdat) info", "1|640f76e1920588f0|cbf29ce484222325"},
            {"cut in a record header (frame 3's vdat) frames",
             "0|cbf29ce484222325|8ed11304f50dff1d|5f37192abc005101"},
            {"cut in a payload (frame 3's codes) info", "1|640f76e1920588f0|cbf29ce484222325"},
            {"cut in a payload (frame 3's codes) frames",
             "0|cbf29ce484222325|8ed11304f50dff1d|5f37192abc005101"},
            {"cut before the first vblt info", "1|8266d31d6009e383|cbf29ce484222325"},
            {"cut before the first vblt frames",
             "0|cbf29ce484222325|19ea424f8bafbed4|cbf29ce484222325"},
            {"nothing behind the palette info", "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"nothing behind the palette frames",
             "0|cbf29ce484222325|31050b6d7ea79281|cbf29ce484222325"},
            {"a file that ends after the magic info", "1|515602dcc0929c17|cbf29ce484222325"},
            {"a file that ends after the magic frames", "1|cbf29ce484222325|4c2423c5f4781f80|none"},
            {"an end before any vblt info", "1|2081453c6472010e|cbf29ce484222325"},
            {"an end before any vblt frames",
             "0|cbf29ce484222325|cbf29ce484222325|cbf29ce484222325"},
            {"length 2031, not a multiple of 4: headers unaligned, one across the ring's end info",
             "1|70dda0c9777edc6c|cbf29ce484222325"},
            {"length 2031, not a multiple of 4: headers unaligned, one across the ring's end "
             "frames",
             "0|cbf29ce484222325|40e14c031bbf0ed2|43a83a710a353f91"},
            {"length 6 over 3 payload bytes: the next tag is read 3 bytes late info",
             "1|6d62ef534466034a|cbf29ce484222325"},
            {"length 6 over 3 payload bytes: the next tag is read 3 bytes late frames",
             "1|cbf29ce484222325|f30a7932ed2a544b|none"},
            {"length -16: nothing taken info", "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"length -16: nothing taken frames",
             "0|cbf29ce484222325|31050b6d7ea79281|34bfc56cac08f352"},
            {"delay 2^32-1 info", "1|5a6de2ba3b14a1f7|cbf29ce484222325"},
            {"delay 2^32-1 frames", "0|cbf29ce484222325|cbf29ce484222325|5f37192abc005101"},
            {"length 2^31-1: the payload runs to the end of the file info",
             "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"length 2^31-1: the payload runs to the end of the file frames",
             "0|cbf29ce484222325|31050b6d7ea79281|cbf29ce484222325"},
            {"random bytes after a valid magic, seed 1 info",
             "1|5316d1fff0b66d57|cbf29ce484222325"},
            {"random bytes after a valid magic, seed 1 frames",
             "1|cbf29ce484222325|acb44f9c6d669e3f|none"},
            {"random records after a valid header, seed 1 info",
             "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"random records after a valid header, seed 1 frames",
             "1|cbf29ce484222325|58cfe5817334e7d8|none"},
            {"random bytes after a valid magic, seed 2 info",
             "1|e0234d95be1f1ab7|cbf29ce484222325"},
            {"random bytes after a valid magic, seed 2 frames",
             "1|cbf29ce484222325|064fdd076bf266d8|none"},
            {"random records after a valid header, seed 2 info",
             "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"random records after a valid header, seed 2 frames",
             "1|cbf29ce484222325|43977e73bf72a8ab|none"},
            {"random bytes after a valid magic, seed 3 info",
             "1|948c7e405db5d526|cbf29ce484222325"},
            {"random bytes after a valid magic, seed 3 frames",
             "1|cbf29ce484222325|acb44f9c6d669e3f|none"},
            {"random records after a valid header, seed 3 info",
             "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"random records after a valid header, seed 3 frames",
             "1|cbf29ce484222325|4d51a1981540ef12|none"},
            {"random bytes after a valid magic, seed 4 info",
             "1|0400ef68902c8dc4|cbf29ce484222325"},
            {"random bytes after a valid magic, seed 4 frames",
             "1|cbf29ce484222325|acb44f9c6d669e3f|none"},
            {"random records after a valid header, seed 4 info",
             "1|fdd8bc5f3d785c63|cbf29ce484222325"},
            {"random records after a valid header, seed 4 frames",
             "1|cbf29ce484222325|5ea0ab73e5757f73|none"},
        });
}

// What each command says to --help, to a command line it cannot take, and
// with no arguments: the text and the exit code.
TEST_F(Goldens, CommandLines) {
    std::vector<std::string> lines = {"", "--help", "help", "--version", "bogus"};
    for (const char *command : {"encode", "pack", "make", "verify", "info", "frames", "audio",
                                "checksum", "demo", "play", "export"}) {
        for (const char *rest : {"", " --help", " -h", " --bogus", " a b c d"})
            lines.push_back(command + std::string(rest));
    }
    for (const char *line :
         {"encode {DIR}/x -o {DIR}/y --size 0x10", "encode {DIR}/x -o {DIR}/y --fps 0",
          "encode {DIR}/x -o {DIR}/y --bits 5", "encode {DIR}/x -o {DIR}/y --rate 10",
          "encode {DIR}/x -o {DIR}/y --dither some", "encode {DIR}/x -o {DIR}/y --lossy 101",
          "encode {DIR}/x -o {DIR}/y --start x", "encode {DIR}/x -o {DIR}/y --audio a --no-audio",
          "make {DIR}/x -o {DIR}/y --bits 5", "info {DIR}/x --offset -1",
          "frames {DIR}/x --raw a --png b", "frames {DIR}/x", "audio {DIR}/x --offset z --wav a",
          "checksum {DIR}/x --offset 0x", "pack a b", "demo"})
        lines.push_back(line);
    std::vector<std::pair<std::string, std::string>> measured;
    for (const std::string &line : lines)
        measured.push_back({"kmov " + line, outcome(line)});
    expect_goldens(
        measured,
        {
            {"kmov ", "2|cbf29ce484222325|f10fb550c884dfd2"},
            {"kmov --help", "0|f10fb550c884dfd2|cbf29ce484222325"},
            {"kmov help", "0|f10fb550c884dfd2|cbf29ce484222325"},
            {"kmov --version", "0|4e81897f4eded6cf|cbf29ce484222325"},
            {"kmov bogus", "2|cbf29ce484222325|109918c7e0d061ce"},
            {"kmov encode", "2|cbf29ce484222325|1abffb1a1802bee6"},
            {"kmov encode --help", "0|46143b3a0a9ec7b8|cbf29ce484222325"},
            {"kmov encode -h", "0|46143b3a0a9ec7b8|cbf29ce484222325"},
            {"kmov encode --bogus", "2|cbf29ce484222325|66776b9e41ca3135"},
            {"kmov encode a b c d", "2|cbf29ce484222325|1abffb1a1802bee6"},
            {"kmov pack", "2|cbf29ce484222325|959ce25eb4fe4397"},
            {"kmov pack --help", "0|5f5a07097a96002e|cbf29ce484222325"},
            {"kmov pack -h", "0|5f5a07097a96002e|cbf29ce484222325"},
            {"kmov pack --bogus", "2|cbf29ce484222325|187f3a2b3168adc3"},
            {"kmov pack a b c d", "2|cbf29ce484222325|959ce25eb4fe4397"},
            {"kmov make", "2|cbf29ce484222325|200e9342fe4f4559"},
            {"kmov make --help", "0|a18d030556cea3e6|cbf29ce484222325"},
            {"kmov make -h", "0|a18d030556cea3e6|cbf29ce484222325"},
            {"kmov make --bogus", "2|cbf29ce484222325|d4837bdc9c50da6d"},
            {"kmov make a b c d", "2|cbf29ce484222325|200e9342fe4f4559"},
            {"kmov verify", "2|cbf29ce484222325|b453d7ca23859ea3"},
            {"kmov verify --help", "0|279b36d0b4292c15|cbf29ce484222325"},
            {"kmov verify -h", "0|279b36d0b4292c15|cbf29ce484222325"},
            {"kmov verify --bogus", "2|cbf29ce484222325|d1e530fbfe280357"},
            {"kmov verify a b c d", "2|cbf29ce484222325|b453d7ca23859ea3"},
            {"kmov info", "2|cbf29ce484222325|2e38aa14871a0bd0"},
            {"kmov info --help", "0|3af474b8dae14e04|cbf29ce484222325"},
            {"kmov info -h", "0|3af474b8dae14e04|cbf29ce484222325"},
            {"kmov info --bogus", "2|cbf29ce484222325|37ac44f346607ae5"},
            {"kmov info a b c d", "2|cbf29ce484222325|2e38aa14871a0bd0"},
            {"kmov frames", "2|cbf29ce484222325|916489cba020e974"},
            {"kmov frames --help", "0|f5e197c45246a9ba|cbf29ce484222325"},
            {"kmov frames -h", "0|f5e197c45246a9ba|cbf29ce484222325"},
            {"kmov frames --bogus", "2|cbf29ce484222325|58dbb3b93d77d6c5"},
            {"kmov frames a b c d", "2|cbf29ce484222325|916489cba020e974"},
            {"kmov audio", "2|cbf29ce484222325|db6cce4eb933620c"},
            {"kmov audio --help", "0|5a058bce06a5ad83|cbf29ce484222325"},
            {"kmov audio -h", "0|5a058bce06a5ad83|cbf29ce484222325"},
            {"kmov audio --bogus", "2|cbf29ce484222325|5a5e3c8a1007dc9b"},
            {"kmov audio a b c d", "2|cbf29ce484222325|db6cce4eb933620c"},
            {"kmov checksum", "2|cbf29ce484222325|11532377121319c7"},
            {"kmov checksum --help", "0|8f55efda627a73c6|cbf29ce484222325"},
            {"kmov checksum -h", "0|8f55efda627a73c6|cbf29ce484222325"},
            {"kmov checksum --bogus", "2|cbf29ce484222325|0612941c1f40ba23"},
            {"kmov checksum a b c d", "2|cbf29ce484222325|11532377121319c7"},
            {"kmov demo", "2|cbf29ce484222325|257366892b9e51a0"},
            {"kmov demo --help", "0|76c3d7d072cb99ad|cbf29ce484222325"},
            {"kmov demo -h", "0|76c3d7d072cb99ad|cbf29ce484222325"},
            {"kmov demo --bogus", "2|cbf29ce484222325|8edac93fd0c47b43"},
            {"kmov demo a b c d", "2|cbf29ce484222325|257366892b9e51a0"},
            {"kmov play", "2|cbf29ce484222325|d684a7c08a84a49f"},
            {"kmov play --help", "0|770297cae9587d3f|cbf29ce484222325"},
            {"kmov play -h", "0|770297cae9587d3f|cbf29ce484222325"},
            {"kmov play --bogus", "2|cbf29ce484222325|1217b44c3e9cb155"},
            {"kmov play a b c d", "2|cbf29ce484222325|d684a7c08a84a49f"},
            {"kmov export", "2|cbf29ce484222325|cdf93a1f4902955c"},
            {"kmov export --help", "0|9a4f57d421b848f5|cbf29ce484222325"},
            {"kmov export -h", "0|9a4f57d421b848f5|cbf29ce484222325"},
            {"kmov export --bogus", "2|cbf29ce484222325|98141f9dffbcf7e1"},
            {"kmov export a b c d", "2|cbf29ce484222325|cdf93a1f4902955c"},
            {"kmov encode {DIR}/x -o {DIR}/y --size 0x10", "2|cbf29ce484222325|2a0b853235885abe"},
            {"kmov encode {DIR}/x -o {DIR}/y --fps 0", "2|cbf29ce484222325|f0c17ccf076a3736"},
            {"kmov encode {DIR}/x -o {DIR}/y --bits 5", "2|cbf29ce484222325|0341f3c49ffdef35"},
            {"kmov encode {DIR}/x -o {DIR}/y --rate 10", "2|cbf29ce484222325|00919049338483d3"},
            {"kmov encode {DIR}/x -o {DIR}/y --dither some", "2|cbf29ce484222325|63b0ffb05d96cce9"},
            {"kmov encode {DIR}/x -o {DIR}/y --lossy 101", "2|cbf29ce484222325|fe1a04680df3c5dc"},
            {"kmov encode {DIR}/x -o {DIR}/y --start x", "2|cbf29ce484222325|a1cd58a820576cd9"},
            {"kmov encode {DIR}/x -o {DIR}/y --audio a --no-audio",
             "2|cbf29ce484222325|81e03f5b99f718a3"},
            {"kmov make {DIR}/x -o {DIR}/y --bits 5", "2|cbf29ce484222325|807415897bfdb345"},
            {"kmov info {DIR}/x --offset -1", "2|cbf29ce484222325|c0870946dde6c2ac"},
            {"kmov frames {DIR}/x --raw a --png b", "2|cbf29ce484222325|0dede98bdeab6bd4"},
            {"kmov frames {DIR}/x", "2|cbf29ce484222325|0dede98bdeab6bd4"},
            {"kmov audio {DIR}/x --offset z --wav a", "2|cbf29ce484222325|28c212a009c59eba"},
            {"kmov checksum {DIR}/x --offset 0x", "2|cbf29ce484222325|4a1ddd430fcbb6a1"},
            {"kmov pack a b", "2|cbf29ce484222325|57630bb004cc1dee"},
            {"kmov demo", "2|cbf29ce484222325|257366892b9e51a0"},
        });
}

} // namespace
