// Packing movies into the web player template and checking packed pages as
// the page's player does: over the movie the page makes its program file.
#include "movie_writer.h"
#include "packer.h"
#include "test_support.h"
#include "web_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using testing::HasSubstr;

namespace {

const std::string STARTUP = "<script id=\"kmov-startup\" type=\"application/octet-stream\">";
const std::string MOVIE = "<script id=\"kmov-movie\" type=\"application/octet-stream\">";
const std::string END = "</script>";

std::vector<uint8_t> bytes(const std::string &text) {
    return {text.begin(), text.end()};
}

std::string text(const std::vector<uint8_t> &data) {
    return {data.begin(), data.end()};
}

// A stand-in for kmovsp.html: the two elements between other text.
std::string page(const std::string &startup = "", const std::string &movie = "") {
    return "<!DOCTYPE html>\n<p>before</p>\n" + STARTUP + startup + END + "\n<p>between</p>\n" +
           MOVIE + movie + END + "\n</body></html>\n";
}

// A playable movie of 4 by 2 pixels, `extra` bytes longer (0 to 2: every
// base64 ending).
std::vector<uint8_t> tiny_movie(uint32_t delay, size_t extra = 0) {
    kmov::MovieWriter movie(kmov::make_header(4, 2), kmov::test::test_palette());
    std::vector<uint8_t> out =
        movie.frame(std::vector<uint8_t>(8, 3), 0, 0).end(delay).count_frames().bytes();
    out.insert(out.end(), extra, 0xA5);
    return out;
}

TEST(WebPage, PackWritesBlockAndMovieAndRepackingReplacesThem) {
    const std::string title = "\x83\x66\x83\x82"; // code page 932 bytes
    for (size_t extra : {0, 1, 2}) {
        SCOPED_TRACE(extra);
        std::vector<uint8_t> movie = tiny_movie(1, extra);
        kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(bytes(page()), movie, title);
        ASSERT_TRUE(packed) << packed.error().message;
        kmov::Expected<kmov::WebProgram> program = kmov::read_web_page(*packed);
        ASSERT_TRUE(program) << program.error().message;
        EXPECT_TRUE(program->has_block);
        EXPECT_EQ(program->file, movie);
        EXPECT_EQ(program->block.movie_offset, 0u);
        EXPECT_EQ(program->block.movie_checksum, kmov::movie_checksum(movie));
        EXPECT_EQ(std::string(program->block.window_title), title);
        EXPECT_TRUE(kmov::verify_program(*packed));
        kmov::Expected<kmov::StartupInfo> info = kmov::find_startup_block(*packed);
        ASSERT_TRUE(info);
        EXPECT_TRUE(info->packed);

        // Again into the packed page: only the elements change.
        std::vector<uint8_t> other = tiny_movie(2);
        kmov::Expected<std::vector<uint8_t>> repacked = kmov::pack_movie(*packed, other, "t");
        ASSERT_TRUE(repacked);
        program = kmov::read_web_page(*repacked);
        ASSERT_TRUE(program);
        EXPECT_EQ(program->file, other);
        EXPECT_STREQ(program->block.window_title, "t");
        std::string round = text(*repacked);
        size_t startup = round.find(STARTUP) + STARTUP.size();
        size_t movie_at = round.find(MOVIE) + MOVIE.size();
        EXPECT_EQ(page(round.substr(startup, round.find(END, startup) - startup),
                       round.substr(movie_at, round.find(END, movie_at) - movie_at)),
                  round);
    }
}

// The content of the element opened by `open`.
std::string content(const std::string &page_text, const std::string &open) {
    size_t at = page_text.find(open) + open.size();
    return page_text.substr(at, page_text.find(END, at) - at);
}

// The player's check: every whole word of the movie counts.
TEST(WebPage, VerifyStopsAChangedWordAndAnEmptyTemplate) {
    std::vector<uint8_t> movie = tiny_movie(1);
    std::vector<uint8_t> changed = movie;
    changed[changed.size() / 2] ^= 0x10;
    std::string good = text(*kmov::pack_movie(bytes(page()), movie, "t"));
    std::string bad = text(*kmov::pack_movie(bytes(page()), changed, "t"));
    // The good page's block over the changed movie.
    std::string damaged = page(content(good, STARTUP), content(bad, MOVIE));
    EXPECT_TRUE(kmov::verify_program(bytes(good)));
    EXPECT_EQ(kmov::verify_program(bytes(damaged)).error().message, kmov::VERIFY_CHECKSUM_MESSAGE);
    // The template itself: its empty file sums to the empty block's 0, and
    // holds no movie.
    EXPECT_EQ(kmov::verify_program(bytes(page())).error().message, kmov::VERIFY_NOT_A_MOVIE);
}

TEST(WebPage, RefusesPagesItCannotRead) {
    std::vector<uint8_t> movie = tiny_movie(1);
    const std::string doctype = "<!DOCTYPE html>";
    const struct {
        const char *what;
        std::string page;
        const char *message; // find_startup_block's
        bool packs;          // pack_movie fills the elements all the same
    } cases[] = {
        {"no movie element", doctype + STARTUP + END, "not a kmov web page", false},
        {"two movie elements", page() + MOVIE + END, "not a kmov web page", false},
        {"an unclosed movie element", doctype + STARTUP + END + MOVIE + "AAAA",
         "not a kmov web page", false},
        {"elements inside each other", doctype + STARTUP + MOVIE + END, "not a kmov web page",
         false},
        {"a movie that is not base64", page("", "AA<b>AA"), "not base64", true},
        {"a block of the wrong size", page("AAAA"), "startup block is damaged", true},
        {"a block that is not base64", page("@@@@"), "startup block is damaged", true},
        // Not a page: the elements alone do not make one.
        {"elements in a file that is no page", "<html>" + page().substr(doctype.size()),
         "no startup block", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        kmov::Expected<kmov::StartupInfo> found = kmov::find_startup_block(bytes(c.page));
        ASSERT_FALSE(found);
        EXPECT_THAT(found.error().message, HasSubstr(c.message));
        kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(bytes(c.page), movie, "t");
        EXPECT_EQ(bool(packed), c.packs);
        if (packed) {
            EXPECT_TRUE(kmov::verify_program(*packed));
        }
    }
    EXPECT_THAT(kmov::pack_movie(bytes(page()), movie, std::string(256, 'x')).error().message,
                HasSubstr("at most 255"));
}

} // namespace
