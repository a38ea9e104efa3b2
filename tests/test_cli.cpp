// The command framework (declared options, checks, exit codes), the error
// type's file and class, and the JSON the commands print.
#include "cli.h"
#include "hostile_movies.h"
#include "packer.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

// A command with one option of every kind and every kind of check.
kmov::Expected<int> run_nothing(const kmov::Arguments &) {
    return 0;
}

const kmov::CommandSpec &sample_command() {
    static const kmov::CommandSpec spec = {
        "sample",
        "a command for the tests",
        "FILE [options]",
        "Takes one FILE.",
        {kmov::text_option("o", "OUT", "the output"),
         kmov::alias_option("output", "o", "OUT", "same as -o"), kmov::flag_option("json", "JSON"),
         kmov::whole_option("scale", "N", "scale", 1, 8, "a whole number from 1 to 8", "1"),
         kmov::real_option("fps", "N", "rate", 1, 60, "frames per second from 1 to 60"),
         kmov::choice_option("dither", "KIND", "dither", {"none", "ordered"}, "none or ordered"),
         kmov::checked_option(
             "even", "N", "an even number",
             [](const std::string &text) { return !text.empty() && (text.back() - '0') % 2 == 0; },
             "an even number"),
         kmov::flag_option("crop", "crop"), kmov::flag_option("stretch", "stretch"),
         kmov::text_option("raw", "OUT", "raw"), kmov::text_option("png", "DIR", "png")},
        {kmov::positionals_check(1, 1, "expects one FILE"),
         kmov::required_check("o", "needs -o OUT"),
         kmov::exclusive_check("crop", "stretch", "not both"),
         kmov::one_of_check("raw", "png", "one of --raw and --png")},
        run_nothing,
    };
    return spec;
}

TEST(CommandLine, ParsesAndChecksEveryKindOfOption) {
    const struct {
        std::vector<std::string> argv;
        const char *error; // "" when taken
    } cases[] = {
        {{"f", "-o", "x", "--raw", "r"}, ""},
        {{"f", "--o=x", "-raw=r"}, ""},                    // = and one dash for any name
        {{"--raw", "r", "--output", "x", "--", "-f"}, ""}, // "--" ends the options
        {{"f", "-o", "x", "--raw", "r", "--scale", "0x8", "--fps", "59.5"}, ""},
        {{"f", "-o", "x", "--bogus"}, "unknown option '--bogus' (see kmov sample --help)"},
        {{"f", "-o", "x", "--json=1"}, "option --json takes no value"},
        {{"f", "--raw", "r", "-o"}, "option -o needs a value"},
        {{"-o", "x", "--raw", "r"}, "expects one FILE"},
        {{"f", "g", "-o", "x", "--raw", "r"}, "expects one FILE"},
        {{"f", "--raw", "r"}, "needs -o OUT"},
        {{"f", "-o", "", "--raw", "r"}, "needs -o OUT"}, // an empty value is none
        {{"f", "-o", "x", "--raw", "r", "--crop", "--stretch"}, "not both"},
        {{"f", "-o", "x"}, "one of --raw and --png"},
        {{"f", "-o", "x", "--raw", "r", "--png", "p"}, "one of --raw and --png"},
        {{"f", "-o", "x", "--raw", "r", "--scale", "0"},
         "--scale takes a whole number from 1 to 8"},
        {{"f", "-o", "x", "--raw", "r", "--scale", "9"},
         "--scale takes a whole number from 1 to 8"},
        {{"f", "-o", "x", "--raw", "r", "--scale", "-1"},
         "--scale takes a whole number from 1 to 8"},
        {{"f", "-o", "x", "--raw", "r", "--fps", "nan"},
         "--fps takes frames per second from 1 to 60"},
        {{"f", "-o", "x", "--raw", "r", "--fps", "5x"},
         "--fps takes frames per second from 1 to 60"},
        {{"f", "-o", "x", "--raw", "r", "--fps", ""}, "--fps takes frames per second from 1 to 60"},
        {{"f", "-o", "x", "--raw", "r", "--dither", "some"}, "--dither takes none or ordered"},
        {{"f", "-o", "x", "--raw", "r", "--even", "3"}, "--even takes an even number"},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const std::string &arg : c.argv)
            line += arg + " ";
        SCOPED_TRACE(line);
        kmov::Arguments args(sample_command());
        kmov::Status status = args.parse(c.argv);
        if (status)
            status = args.check();
        if (*c.error == '\0') {
            EXPECT_TRUE(status) << status.error().text();
        } else {
            ASSERT_FALSE(status);
            EXPECT_EQ(status.error().text(), c.error);
            EXPECT_EQ(status.error().exit_code(), 2);
        }
    }
}

TEST(CommandLine, ValuesComeTypedWithTheirFallbacks) {
    kmov::Arguments args(sample_command());
    ASSERT_TRUE(args.parse({"f", "--output", "a", "-o", "b", "--fps", "12.5", "--raw", "r"}));
    ASSERT_TRUE(args.check());
    EXPECT_EQ(args.value("o"), "b"); // the alias and the name are one option; the last counts
    EXPECT_FALSE(args.has("output"));
    EXPECT_EQ(args.whole("scale"), 1u); // not given: its declared fallback
    EXPECT_FALSE(args.has("scale"));
    EXPECT_DOUBLE_EQ(args.real("fps"), 12.5);
    EXPECT_EQ(args.value("png", "none"), "none");
    EXPECT_EQ(args.positional(), std::vector<std::string>{"f"});

    // --help ends the reading: what follows it is not looked at.
    kmov::Arguments help(sample_command());
    ASSERT_TRUE(help.parse({"-h", "--bogus"}));
    EXPECT_TRUE(help.help());
}

// The exit code is the class of the error the command ends with: usage
// errors 2, failures 1, and a run's own code otherwise.
TEST(CommandLine, RunCommandTurnsErrorsIntoExitCodes) {
    kmov::CommandSpec spec = sample_command();
    const std::vector<std::string> good = {"f", "-o", "x", "--raw", "r"};
    spec.run = [](const kmov::Arguments &) -> kmov::Expected<int> { return 3; };
    EXPECT_EQ(kmov::run_command(spec, good), 3);
    spec.run = [](const kmov::Arguments &) -> kmov::Expected<int> {
        return kmov::file_error("movie.kmov", "not a kmov file");
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(kmov::run_command(spec, good), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kmov sample: movie.kmov: not a kmov file\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(kmov::run_command(spec, {"f"}), 2); // checked before the run
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kmov sample: needs -o OUT\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(kmov::run_command(spec, {"--help"}), 0);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                HasSubstr("usage: kmov sample FILE [options]\n\nTakes one FILE.\n\noptions:\n"
                          "  -o OUT                 the output\n"
                          "  --output OUT           same as -o\n"
                          "  --json                 JSON\n"));
}

// An error about one of pack's two inputs names that input; none is told
// apart by its wording.
TEST(ErrorValues, PackingNamesTheInputAtFault) {
    std::vector<uint8_t> player = kmov::test::counting_bytes(2000);
    std::copy(STARTUP_MARKER, STARTUP_MARKER + STARTUP_MARKER_SIZE, player.begin() + 300);
    std::fill(player.begin() + 316, player.begin() + 316 + STARTUP_BLOCK_SIZE, 0);
    const std::vector<uint8_t> movie = kmov::test::well_formed_movie(false);
    const kmov::PackNames names = {.program = "kmovsp", .movie = "clip.kmov"};

    auto not_a_movie = kmov::pack_movie(player, kmov::test::counting_bytes(100), "t", names);
    ASSERT_FALSE(not_a_movie);
    EXPECT_EQ(not_a_movie.error().file, "clip.kmov");
    EXPECT_EQ(not_a_movie.error().text(), "clip.kmov: not a kmov movie");

    auto no_block = kmov::pack_movie(kmov::test::counting_bytes(100), movie, "t", names);
    ASSERT_FALSE(no_block);
    EXPECT_EQ(no_block.error().text(), "kmovsp: no startup block: not a kmov player template");

    EXPECT_TRUE(kmov::pack_movie(player, movie, "t", names));
}

TEST(ErrorValues, AFailedWriteNamesTheFileAndLeavesNothing) {
    kmov::test::TempFile dir("unused");
    const fs::path out = dir.folder() / "missing" / "movie.kmov";
    kmov::Status written = kmov::write_file_atomically(out, std::vector<uint8_t>{1, 2, 3});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().file, out.string());
    EXPECT_THAT(written.error().message, HasSubstr("cannot create"));
    EXPECT_EQ(written.error().exit_code(), 1);
    EXPECT_TRUE(fs::is_empty(dir.folder()));
}

TEST(Json, StringsNumbersAndTheLayout) {
    EXPECT_EQ(kmov::json_string("a\"b\\c\n\t\x01 \xE3\x81\x82"),
              "\"a\\\"b\\\\c\\n\\t\\u0001 \xE3\x81\x82\"");
    EXPECT_EQ(kmov::json_number(2.0 / 3, 3), "0.667");
    EXPECT_EQ(kmov::json_number(INFINITY, 2), "null");
    EXPECT_EQ(kmov::json_object({{"file", kmov::json_string("x")},
                                 {"tags", kmov::json_inline_object({{"vdat", "3"}, {"end ", "1"}})},
                                 {"list", kmov::json_array({"1", "2"})},
                                 {"none", kmov::json_array({})}}),
              "{\n  \"file\": \"x\",\n  \"tags\": {\"vdat\": 3, \"end \": 1},\n"
              "  \"list\": [1, 2],\n  \"none\": []\n}\n");
}

// The demo's one-line summary names its file as a JSON string: a name with
// a quote or a backslash still makes valid JSON.
TEST(Json, TheDemoSummaryEscapesItsFileName) {
#ifdef KMOV_SANITIZED
    GTEST_SKIP() << "under the sanitizers the demo takes minutes";
#endif
    kmov::test::TempFile dir("unused");
    const std::string out = (dir.folder() / "a\"b\\c.kmov").string();
    kmov::test::ProgramRun run =
        kmov::test::run_program(std::string(KMOV_PROGRAM) + " demo --json -o '" + out + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, testing::StartsWith("{\"file\": " + kmov::json_string(out) + ", "));
    EXPECT_TRUE(fs::exists(out));
}

} // namespace
