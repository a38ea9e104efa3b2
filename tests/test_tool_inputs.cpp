// The kmov commands on inputs that are empty, not movies, folders, missing,
// cut short or refused by the player: each gives its message on stderr, a
// non-zero exit code, and leaves no output (nor any temporary file) behind.
#include "hostile_movies.h"
#include "movie_writer.h"
#include "packer.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using kmov::test::ProgramRun;
using kmov::test::TempFile;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

ProgramRun run_kmov(const std::string &arguments) {
    return kmov::test::run_program(std::string(KMOV_PROGRAM) + " " + arguments);
}

std::string repeat(const std::string &text, int times) {
    std::string out;
    for (int i = 0; i < times; i++)
        out += text;
    return out;
}

// Every file below the folder, for "nothing was left behind".
std::vector<std::string> files_in(const fs::path &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

class ToolInputs : public testing::Test {
  protected:
    void SetUp() override {
        write("empty", {});
        write("junk", kmov::test::counting_bytes(3000));
        fs::create_directory(folder() / "folder");
        std::vector<uint8_t> movie = kmov::test::well_formed_movie(true);
        write("movie.kmov", movie);
        write("cut.kmov", std::vector<uint8_t>(movie.begin(), movie.begin() + 2500));
        // A header the player refuses at once, and one it refuses only when
        // it makes its ring (which the reader does not look at).
        std::vector<uint8_t> no_width = movie;
        std::fill(no_width.begin() + 16, no_width.begin() + 20, 0);
        write("no-width.kmov", no_width);
        std::vector<uint8_t> huge_ring = movie;
        huge_ring[8] = 0x7F;
        write("huge-ring.kmov", huge_ring);
        // A program packed from a stand-in template, and the same cut short.
        std::vector<uint8_t> player = kmov::test::counting_bytes(2000);
        std::copy(STARTUP_MARKER, STARTUP_MARKER + STARTUP_MARKER_SIZE, player.begin() + 300);
        std::fill(player.begin() + 316, player.begin() + 316 + STARTUP_BLOCK_SIZE, 0);
        write("player", player);
        std::vector<uint8_t> signed_player = kmov::test::fake_pe_template(3000);
        kmov::test::fake_sign(signed_player, kmov::test::fake_pe_security_entry());
        write("signed.exe", signed_player);
        kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(player, movie, "t");
        ASSERT_TRUE(packed);
        write("packed", *packed);
        write("packed-cut", std::vector<uint8_t>(packed->begin(), packed->end() - 10));
        before_ = files_in(folder());
    }

    void write(const std::string &name, const std::vector<uint8_t> &bytes) {
        kmov::write_file_atomically(folder() / name, bytes);
    }
    fs::path folder() const { return dir_.folder(); }
    std::string path(const std::string &name) const { return (folder() / name).string(); }

    TempFile dir_{"unused"};
    std::vector<std::string> before_;
};

TEST_F(ToolInputs, EachCommandRefusesBadInputWithItsMessageAndNoOutput) {
    const struct {
        std::string command; // {IN} is the input, {OUT} the output
        std::string input;
        std::string message;
        // The exit code and checksum of stderr (with the folder as {DIR}):
        // the whole message, pinned.
        std::string golden = "";
    } cases[] = {
        {"info {IN}", "empty", "empty: not a kmov file", "1|42fe9e87ae46deaf"},
        {"info {IN}", "junk", "junk: not a kmov file", "1|429c44820502d312"},
        {"info {IN}", "folder", "folder: not a regular file", "1|9d059a23a64c798a"},
        {"info {IN}", "missing", "missing: No such file or directory", "1|f3d2d809824a4c1c"},

        {"frames {IN} --raw {OUT}", "junk", "kmov frames: ", "1|f032673ca5c35437"},
        {"frames {IN} --raw {OUT}", "folder", "folder: not a regular file", "1|41086f4163441048"},
        {"frames {IN} --raw {OUT}", "missing", "missing: No such file or directory",
         "1|21afe3ca434f82d2"},
        {"frames {IN} --png {OUT}", "no-width.kmov", "kmov frames: CreateDIBSection 87",
         "1|ed53236977eee353"},
        // The player's own failure ends the process: the folder it made goes.
        {"frames {IN} --png {OUT}", "huge-ring.kmov", "kmov frames: memory error 8",
         "1|1049357dd451d76d"},
        {"frames {IN} --png {OUT}/deeper/still", "huge-ring.kmov", "kmov frames: memory error 8",
         "1|1049357dd451d76d"},

        {"audio {IN} --wav {OUT}", "empty", "empty: not a kmov file", "1|1fd754ad7d9953ac"},
        {"audio {IN} --raw {OUT}", "huge-ring.kmov", "kmov audio: memory error 8",
         "1|ae7d263753fab3ad"},

        {"verify {IN}", "empty", "empty: no startup block", "1|cdb082209fa509c5"},
        {"verify {IN}", "folder", "folder: Is a directory", "1|4762c78e912b8028"},
        {"verify {IN}", "missing", "missing: No such file or directory", "1|26c4beb72677a16e"},
        {"verify {IN}", "player", kmov::VERIFY_CHECKSUM_MESSAGE,
         "1|f095f032db988779"}, // no movie: offset 0
        {"verify {IN}", "packed-cut", kmov::VERIFY_CHECKSUM_MESSAGE, "1|b2013c67135a0586"},

        {"pack {IN} movie.kmov -o {OUT}", "junk", "junk: no startup block", "1|22fa7bd01f620496"},
        {"pack {IN} movie.kmov -o {OUT}", "folder", "folder: Is a directory", "1|76aecb27a01a024d"},
        {"pack {IN} movie.kmov -o {OUT}", "missing", "missing: No such file or directory",
         "1|3d9df21a7114ada3"},
        {"pack player {IN} -o {OUT}", "empty", "empty: not a kmov movie", "1|096f2d9c8be7e7a9"},
        {"pack player {IN} -o {OUT}", "cut.kmov", "cut.kmov: a damaged movie: the file ends",
         "1|3da9675a8d10501c"},
        {"pack player {IN} -o {OUT}", "no-width.kmov",
         "no-width.kmov: a damaged movie: the player stops with \"CreateDIBSection 87\"",
         "1|4cc85916fd41c9cd"},
        {"pack player movie.kmov -o {OUT}/no/such/folder/x", "", "cannot create",
         "1|021776596c99346e"},
        {"pack {IN} movie.kmov -o {OUT}", "signed.exe",
         "signed.exe: the template is signed: "
         "pack first, then sign",
         "1|1b33150d0c52192f"},
        // 86 x U+00E9 and the mark: 175 bytes fit; 128 of them and the mark
        // (259 bytes) do not.
        {"pack player movie.kmov -o {OUT} --title " + repeat("\xC3\xA9", 128), "",
         "the title takes 259 bytes as stored (UTF-8 behind a 3-byte mark); at most 255 fit",
         "1|860fdbb811f1c6fb"},
        {"pack player movie.kmov -o {OUT} --title " + repeat("x", 256), "",
         "the title takes 256 bytes as stored (code page 932); at most 255 fit",
         "1|8bfc197623fde1d8"},
        {"pack player movie.kmov -o {OUT} --title '\xFF'", "", "the title is not UTF-8 text",
         "1|bb09a381b5210066"},
    };
    for (const auto &c : cases) {
        std::string command = c.command;
        auto replace = [&](const std::string &key, const std::string &value) {
            for (size_t at; (at = command.find(key)) != std::string::npos;)
                command.replace(at, key.size(), value);
        };
        replace("{IN}", path(c.input));
        replace("{OUT}", path("out"));
        replace(" player ", " " + path("player") + " ");
        replace(" movie.kmov ", " " + path("movie.kmov") + " ");
        SCOPED_TRACE(c.command + " on " + c.input);
        ProgramRun run = run_kmov(command);
        EXPECT_NE(run.status, 0);
        EXPECT_THAT(run.err, HasSubstr(c.message));
        std::string err = run.err;
        for (size_t at; (at = err.find(folder().string())) != std::string::npos;)
            err.replace(at, folder().string().size(), "{DIR}");
        EXPECT_EQ(std::to_string(run.status) + "|" + kmov::test::checksum(err), c.golden)
            << "stderr: " << err;
        EXPECT_EQ(files_in(folder()), before_) << "output or temporary files were left";
    }
}

TEST_F(ToolInputs, GoodInputsStillWork) {
    // The same commands on the whole movie and program, for contrast.
    EXPECT_EQ(run_kmov("info " + path("movie.kmov")).status, 0);
    EXPECT_EQ(run_kmov("verify " + path("packed")).status, 0);
    ProgramRun frames = run_kmov("frames " + path("packed") + " --png " + path("frames"));
    EXPECT_EQ(frames.status, 0) << frames.err;
    EXPECT_EQ(fs::exists(folder() / "frames" / "frame00003.png"), true);
    ProgramRun pack =
        run_kmov("pack " + path("player") + " " + path("movie.kmov") + " -o " + path("made"));
    EXPECT_EQ(pack.status, 0) << pack.err;
    // A title code page 932 holds is stored in it; any other in UTF-8
    // behind the mark; both at the 255-byte limit still fit.
    const struct {
        std::string typed, stored; // typed in UTF-8
    } titles[] = {
        {"\xE5\xA4\x8F\xE4\xBC\x91\xE3\x81\xBF", "夏休み"}, // this file's literals are 932
        {"Caf\xC3\xA9 \xC3\xBC", "\xEF\xBB\xBF"
                                 "Caf\xC3\xA9 \xC3\xBC"},
        {"\xEC\x95\x88\xEB\x85\x95", "\xEF\xBB\xBF\xEC\x95\x88\xEB\x85\x95"},
        {repeat("x", 255), repeat("x", 255)},
        {repeat("\xEC\x95\x88", 84), "\xEF\xBB\xBF" + repeat("\xEC\x95\x88", 84)},
    };
    for (const auto &t : titles) {
        ProgramRun titled = run_kmov("pack " + path("player") + " " + path("movie.kmov") + " -o " +
                                     path("titled") + " --title '" + t.typed + "'");
        ASSERT_EQ(titled.status, 0) << titled.err;
        std::vector<uint8_t> made = kmov::test::read_file(folder() / "titled");
        kmov::Expected<kmov::StartupInfo> info = kmov::find_startup_block(made);
        ASSERT_TRUE(info);
        EXPECT_EQ(std::string(info->block.window_title), t.stored) << t.typed;
    }
    // info describes a damaged movie rather than refusing it, and says so
    // in its exit code.
    ProgramRun info = run_kmov("info " + path("cut.kmov"));
    EXPECT_EQ(info.status, 1);
    EXPECT_THAT(info.out, HasSubstr("the file ends inside record"));
    // A movie the player refuses when it makes its ring: info plays it and
    // says so in the player's words, where it used to find nothing wrong.
    ProgramRun refused = run_kmov("info " + path("huge-ring.kmov"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.out, HasSubstr("the player stops with \"memory error 8\""));
}

// What info, verify, audio and pack say of programs and movies that are not
// what they seem: each line's exit code, its words, and its output.
TEST_F(ToolInputs, ReportsSayWhatIsWrongAndExitCodesAgree) {
    std::vector<uint8_t> changed = kmov::test::read_file(path("packed"));
    changed[changed.size() - 40] ^= 1;
    write("packed-changed", changed);
    write("silent.kmov", kmov::test::well_formed_movie(false));
    // A movie whose last record has a tag the player stops at: every frame
    // is shown before it.
    std::vector<uint8_t> stops = kmov::test::read_file(path("movie.kmov"));
    const std::string end_tag = "end ";
    auto end_at = std::find_end(stops.begin(), stops.end(), end_tag.begin(), end_tag.end());
    ASSERT_NE(end_at, stops.end());
    std::fill(end_at, end_at + 4, 'z');
    write("stops.kmov", stops);
    before_ = files_in(folder());
    const struct {
        std::string command; // {D} is the test's folder
        int status;
        std::string out, err;
        std::string written; // the file it makes, if any
    } cases[] = {
        {"info {D}/packed", 0, "checksum      stored ", "", ""},
        {"info {D}/packed-changed", 1, "does not match", "", ""},
        {"info {D}/packed-changed --json", 1, "\"matches\": false", "", ""},
        {"info {D}/movie.kmov --json", 0, "\"integrity\": null", "", ""},
        {"verify {D}/packed-changed", 1, "", "the movie's checksum is ", ""},
        {"verify {D}/packed-changed", 1, "", "(changed after it was packed)", ""},
        {"verify {D}/packed-cut", 1, "", "before its \"end \" record (cut short)", ""},
        {"verify {D}/missing", 1, "", "cannot read " + path("missing") + ": No such file", ""},
        {"audio {D}/silent.kmov --wav {D}/out.wav", 1, "", "the movie has no sound", ""},
        {"pack {D}/player {D}/packed -o {D}/repacked", 0, "", "packing the movie inside it",
         "repacked"},
        {"pack {D}/player {D}/packed-changed -o {D}/repacked", 1, "", "fails its checksum", ""},
        // Damaged movies can still be looked at: what the player shows and
        // plays up to the damage is written, with a warning; exit code 1
        // when the player stops with its message.
        {"frames {D}/cut.kmov --raw {D}/out", 0, "",
         "warning: " + path("cut.kmov") + ": a damaged movie: the file ends inside", "out"},
        {"frames {D}/cut.kmov --png {D}/out", 0, "", "a damaged movie", "out"},
        {"frames {D}/packed-cut --raw {D}/out", 0, "", "a damaged movie", "out"},
        {"audio {D}/cut.kmov --wav {D}/out", 0, "", "a damaged movie", "out"},
        {"frames {D}/stops.kmov --raw {D}/out", 1, "",
         "warning: the player stops with \"kmov_cmd = 0x7a7a7a7a\"", "out"},
        {"audio {D}/stops.kmov --raw {D}/out", 1, "", "the player stops with", "out"},
    };
    for (const auto &c : cases) {
        std::string command = c.command;
        for (size_t at; (at = command.find("{D}")) != std::string::npos;)
            command.replace(at, 3, folder().string());
        SCOPED_TRACE(command);
        ProgramRun run = run_kmov(command);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_THAT(run.out, HasSubstr(c.out));
        EXPECT_THAT(run.err, HasSubstr(c.err));
        if (c.command.rfind("verify", 0) == 0 && c.status != 0) {
            EXPECT_THAT(run.err, HasSubstr(kmov::VERIFY_CHECKSUM_MESSAGE));
        }
        if (!c.written.empty()) {
            EXPECT_TRUE(fs::exists(folder() / c.written)) << "not written";
            fs::remove_all(folder() / c.written);
        }
        EXPECT_EQ(files_in(folder()), before_) << "something else was written";
    }
    // What is written of a damaged movie is what the player showed: the
    // frames of the movie that stops at its last record are all the frames
    // of the whole one.
    run_kmov("frames " + path("stops.kmov") + " --raw " + path("a"));
    run_kmov("frames " + path("movie.kmov") + " --raw " + path("b"));
    EXPECT_EQ(kmov::test::read_file(path("a")), kmov::test::read_file(path("b")));
    EXPECT_FALSE(kmov::test::read_file(path("a")).empty());
    fs::remove(folder() / "a");
    fs::remove(folder() / "b");
    // The program packed from a program holds the same movie as one packed
    // from the movie itself.
    run_kmov("pack " + path("player") + " " + path("packed") + " -o " + path("a") + " --title t");
    run_kmov("pack " + path("player") + " " + path("movie.kmov") + " -o " + path("b") +
             " --title t");
    EXPECT_EQ(kmov::test::read_file(path("a")), kmov::test::read_file(path("b")));
}

} // namespace

namespace {

// An output that is one of the command's inputs, under any spelling or
// through a hard link, is refused before anything is read or written.
TEST_F(ToolInputs, NoCommandWritesOverItsInput) {
    fs::create_hard_link(folder() / "movie.kmov", folder() / "movie-link.kmov");
    const std::vector<uint8_t> movie = kmov::test::read_file(path("movie.kmov"));
    const std::vector<uint8_t> junk = kmov::test::read_file(path("junk"));
    const std::vector<uint8_t> player = kmov::test::read_file(path("player"));
    before_ = files_in(folder());
    const std::string dotted = path("folder") + "/../movie.kmov";
    const struct {
        std::string command; // {D} is the test's folder
        std::string named;   // the output's name in the message
    } cases[] = {
        {"encode {D}/junk -o {D}/junk", "junk"},
        {"encode {D}/junk --audio {D}/movie.kmov -o " + dotted, "movie.kmov"},
        {"encode {D}/junk --palette {D}/movie.kmov -o {D}/movie-link.kmov", "movie-link.kmov"},
        {"encode {D}/junk -o {D}/out.kmov --write-frames {D}/junk", "junk"},
        {"make {D}/junk --duration 1 -o {D}/junk --player {D}/player", "junk"},
        {"make {D}/junk -o {D}/player --player {D}/player", "player"},
        {"pack {D}/player {D}/movie.kmov -o {D}/movie-link.kmov", "movie-link.kmov"},
        {"pack {D}/player {D}/movie.kmov -o {D}/player", "player"},
        {"frames {D}/movie.kmov --raw " + dotted, "movie.kmov"},
        {"audio {D}/movie.kmov --wav {D}/movie-link.kmov", "movie-link.kmov"},
    };
    for (const auto &c : cases) {
        std::string command = c.command;
        for (size_t at; (at = command.find("{D}")) != std::string::npos;)
            command.replace(at, 3, folder().string());
        SCOPED_TRACE(command);
        ProgramRun run = run_kmov(command);
        EXPECT_EQ(run.status, 2);
        EXPECT_THAT(run.err, HasSubstr(c.named + " is the input "));
        EXPECT_EQ(files_in(folder()), before_);
        EXPECT_EQ(kmov::test::read_file(path("movie.kmov")), movie);
        EXPECT_EQ(kmov::test::read_file(path("junk")), junk);
        EXPECT_EQ(kmov::test::read_file(path("player")), player);
    }
}

} // namespace
