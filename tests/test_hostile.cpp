// Hostile movies (tests/support/hostile_movies.cpp): each is opened, played
// to its end and replayed in a child process with bounded time and memory,
// on the headless clock, a turn at a time as the harness plays a movie. Each must end with its
// message and exit code 1, or play to its end without a message; none may crash, hang, or touch
// memory outside a buffer (the sanitizer build runs this table too).
#include "hostile_movies.h"
#include "player/player.h"
#include "player_harness.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KMOV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KMOV_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef KMOV_ADDRESS_SANITIZER
// The sanitizer reserves far more address space than any limit would
// allow; it bounds each allocation instead, and a larger one is a finding.
extern "C" __attribute__((used)) const char *__asan_default_options() {
    return "max_allocation_size_mb=256";
}
#endif

using kmov::harness_play_turn;
using kmov::test::HostileMovie;
using testing::AllOf;
using testing::AnyOf;
using testing::ContainsRegex;
using testing::HasSubstr;
using testing::Not;

namespace kmov::test {

// Failure messages name the case, not its bytes.
void PrintTo(const HostileMovie &movie, std::ostream *out) {
    *out << movie.name;
}

} // namespace kmov::test

namespace {

constexpr int kMaxTurns = 10000; // records per playback; the cases have a few dozen
constexpr unsigned kMaxSeconds = 30;
constexpr rlim_t kMaxAddressSpace = rlim_t{1} << 30; // no case needs more than a few MB

const std::string kBox = "MessageBoxA [Error] 0x00012010 ";

// In the child: the time and memory a case may take.
void bound_the_child() {
    alarm(kMaxSeconds);
#ifndef KMOV_ADDRESS_SANITIZER
    struct rlimit limit = {kMaxAddressSpace, kMaxAddressSpace};
    setrlimit(RLIMIT_AS, &limit);
#endif
}

// Opens, plays to the end and replays; reports "played N frames" (the
// presents of the first playback) on stderr and exits 0. A failure the
// player reports ends the child inside with exit code 1.
[[noreturn]] void play_to_the_end(const char *path, bool device) {
    bound_the_child();
    headless_reset();
    headless_set_audio_device(device);
    HWND window = headless_make_window("hostile");
    if (!player_open(path, window, -1, -1, WAVE_MAPPER, 0, nullptr)) {
        std::fprintf(stderr, "player_open failed without a message\n");
        std::exit(2);
    }
    size_t frames = 0;
    for (int round = 0; round < 2; round++) {
        player_play();
        int turn = 0;
        for (; turn < kMaxTurns && player_is_playing(); turn++)
            harness_play_turn();
        if (player_is_playing()) {
            std::fprintf(stderr, "still playing after %d records\n", turn);
            std::exit(3);
        }
        if (round == 0)
            frames = headless_blits().size();
    }
    player_close();
    std::fprintf(stderr, "played %zu frames\n", frames);
    std::exit(0);
}

bool exited_0_or_1(int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
}

class HostileMovies : public testing::TestWithParam<HostileMovie> {};

TEST_P(HostileMovies, EndWithTheirMessageOrPlayToTheEnd) {
    const HostileMovie &c = GetParam();
    kmov::test::TempFile file("hostile.kmov", c.bytes);
    const std::string played =
        c.frames < 0 ? "played " : "played " + std::to_string(c.frames) + " frames\n";
    switch (c.outcome) {
    case HostileMovie::PLAYS:
        EXPECT_EXIT(play_to_the_end(file.c_str(), c.device), testing::ExitedWithCode(0),
                    AllOf(HasSubstr(played), Not(HasSubstr("MessageBoxA"))));
        break;
    case HostileMovie::FAILS:
        EXPECT_EXIT(play_to_the_end(file.c_str(), c.device), testing::ExitedWithCode(1),
                    AllOf(HasSubstr(kBox + c.message + "\n"), Not(HasSubstr("played"))));
        break;
    case HostileMovie::EITHER:
        EXPECT_EXIT(play_to_the_end(file.c_str(), c.device), exited_0_or_1,
                    AnyOf(AllOf(HasSubstr("played "), Not(HasSubstr("MessageBoxA"))),
                          AllOf(ContainsRegex("MessageBoxA \\[Error\\] 0x00012010 [^\n]+\n"),
                                Not(HasSubstr("played")))));
        break;
    }
}

std::string case_name(const testing::TestParamInfo<HostileMovie> &info) {
    std::string name = std::to_string(info.index) + "_";
    for (char c : info.param.name)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, HostileMovies, testing::ValuesIn(kmov::test::hostile_movies()),
                         case_name);

} // namespace
