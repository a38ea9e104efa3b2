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
        {"frames {IN} --raw {OUT}", "cut.kmov", "cut.kmov: a damaged movie: the file ends inside",
         "1|ffd4c1fb83cbb1b7"},
        {"frames {IN} --png {OUT}", "cut.kmov", "cut.kmov: a damaged movie: the file ends inside",
         "1|ffd4c1fb83cbb1b7"},
        {"frames {IN} --png {OUT}", "no-width.kmov", "frame size 0x30 is not positive",
         "1|ba25af678c6e99af"},
        {"frames {IN} --raw {OUT}", "packed-cut", "packed-cut: a damaged movie",
         "1|481e099b0b4a5161"},
        // The player's own failure ends the process: the folder it made goes.
        {"frames {IN} --png {OUT}", "huge-ring.kmov", "kmov frames: memory error 8",
         "1|1049357dd451d76d"},
        {"frames {IN} --png {OUT}/deeper/still", "huge-ring.kmov", "kmov frames: memory error 8",
         "1|1049357dd451d76d"},

        {"audio {IN} --wav {OUT}", "empty", "empty: not a kmov file", "1|1fd754ad7d9953ac"},
        {"audio {IN} --wav {OUT}", "cut.kmov", "cut.kmov: a damaged movie", "1|cfd51e660ed80ef7"},
        {"audio {IN} --raw {OUT}", "huge-ring.kmov", "kmov audio: memory error 8",
         "1|ae7d263753fab3ad"},

        {"verify {IN}", "empty", "empty: no startup block", "1|cdb082209fa509c5"},
        {"verify {IN}", "folder", "folder: Is a directory", "1|556b02b73255a251"},
        {"verify {IN}", "missing", "missing: No such file or directory", "1|b449e7d3218b84df"},
        {"verify {IN}", "player", kmov::VERIFY_CHECKSUM_MESSAGE,
         "1|a7070a9c0caef939"}, // no movie: offset 0
        {"verify {IN}", "packed-cut", kmov::VERIFY_CHECKSUM_MESSAGE, "1|a7070a9c0caef939"},

        {"pack {IN} movie.kmov -o {OUT}", "junk", "junk: no startup block", "1|22fa7bd01f620496"},
        {"pack {IN} movie.kmov -o {OUT}", "folder", "folder: Is a directory", "1|76aecb27a01a024d"},
        {"pack {IN} movie.kmov -o {OUT}", "missing", "missing: No such file or directory",
         "1|3d9df21a7114ada3"},
        {"pack player {IN} -o {OUT}", "empty", "empty: not a kmov movie", "1|096f2d9c8be7e7a9"},
        {"pack player {IN} -o {OUT}", "cut.kmov", "cut.kmov: a damaged movie: the file ends",
         "1|3da9675a8d10501c"},
        {"pack player {IN} -o {OUT}", "no-width.kmov", "no-width.kmov: a damaged movie: frame",
         "1|6b36d829dc0bdda0"},
        {"pack player movie.kmov -o {OUT}/no/such/folder/x", "", "cannot create",
         "1|021776596c99346e"},
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
    // info describes a damaged movie rather than refusing it.
    ProgramRun info = run_kmov("info " + path("cut.kmov"));
    EXPECT_EQ(info.status, 0);
    EXPECT_THAT(info.out, HasSubstr("the file ends inside record"));
}

} // namespace
