// The program started in-process on the headless backend: the start-up
// sequence, the window's size, palette and messages, clicks and closing.
#include "app/event_pump.h"
#include "app/player_window.h"
#include "app/startup_block.h"
#include "packer.h"
#include "player/player.h"
#include "player/player_state.h"
#include "test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"
#include "platform/core/core.h"

#include <cstring>
#include <filesystem>

using kmov::MovieWriter;
using kmov::test::TempFile;
using testing::HasSubstr;

namespace {

MovieWriter movie_of_size(int width, int height, int frames) {
    MovieHeader header = kmov::make_header(width, height);
    header.data_rate = 100000;
    header.ring_size = width * height + 4096;
    MovieWriter movie(header, kmov::test::test_palette());
    for (int i = 0; i < frames; i++)
        movie.frame(
            std::vector<uint8_t>(static_cast<size_t>(width) * height, static_cast<uint8_t>(i + 1)),
            0, i == 0 ? 0 : 66);
    return movie.end(66).count_frames();
}

// Writes a "program" (an image with a startup block, then the movie) and
// points the player's own block and GetModuleFileNameA at it, as packing
// and starting a real program would.
class Program {
  public:
    explicit Program(const MovieWriter &movie) {
        std::vector<uint8_t> image = kmov::test::counting_bytes(4000);
        std::memcpy(image.data() + 100, STARTUP_MARKER, STARTUP_MARKER_SIZE);
        std::memset(image.data() + 100 + STARTUP_MARKER_SIZE, 0, STARTUP_BLOCK_SIZE);
        bytes = *kmov::pack_movie(image, movie.bytes(), "Title");
        file.write(bytes);
        startup_block.movie_offset = 4000;
        startup_block.movie_checksum =
            kmov::movie_checksum(std::span<const uint8_t>(bytes).subspan(4000));
        std::strcpy(startup_block.window_title, "Title");
        headless_set_module_path(file.c_str());
    }
    TempFile file{"program"};
    std::vector<uint8_t> bytes;
};

// The program's windows and player are process-wide: each case runs in a
// child process of its own (a death test) and reports through its exit code.
Program *program; // lives as long as the child process

void start(const MovieWriter &movie, int show = SW_SHOWNORMAL) {
    program = new Program(movie);
    instance_handle = nullptr;
    show_command = show;
    if (create_player_window() != 1)
        exit(20);
}

void client_area_of(int w, int h) {
    start(movie_of_size(w, h, 1));
    RECT client;
    GetClientRect(player_window, &client);
    fprintf(stderr, "client %dx%d\n", int(client.right - client.left),
            int(client.bottom - client.top));
    exit(client.right - client.left == w && client.bottom - client.top == h ? 0 : 3);
}

TEST(ProgramDeath, TheClientAreaIsExactlyTheFrame) {
    const std::pair<int, int> sizes[] = {{640, 480}, {641, 3}, {1, 1}, {1023, 767}};
    for (auto [w, h] : sizes)
        EXPECT_EXIT(client_area_of(w, h), testing::ExitedWithCode(0), "") << w << "x" << h;
}

void palette_of_a_small_movie() {
    start(movie_of_size(8, 2, 1));
    const BITMAPINFOHEADER *info = reinterpret_cast<const BITMAPINFOHEADER *>(window_bitmap_info);
    bool tail_zero = true;
    for (int i = 1000; i < WINDOW_BITMAP_INFO_SIZE; i++)
        tail_zero = tail_zero && window_bitmap_info[i] == 0;
    bool ok = info->biClrUsed == 240 && info->biWidth == 8 && info->biHeight == -2 && tail_zero &&
              window_palette != nullptr && movie_palette == window_palette;
    exit(ok ? 0 : 3);
}

TEST(ProgramDeath, ThePaletteHas240EntriesAndTheCopyIs1000Bytes) {
    EXPECT_EXIT(palette_of_a_small_movie(), testing::ExitedWithCode(0), "");
}

void click_through_a_movie() {
    start(movie_of_size(4, 2, 3));
    pump_messages(0); // the first frame
    if (!player_is_playing())
        exit(10);
    headless_click(player_window, 1, 1);
    pump_messages(0);
    if (player_is_playing())
        exit(11); // a click pauses
    headless_click(player_window, 1, 1);
    pump_messages(0);
    if (!player_is_playing())
        exit(12); // the next resumes
    for (int i = 0; i < 20; i++) {
        headless_advance_time(70);
        pump_messages(0);
    }
    if (player_is_playing() || frame_position != 3)
        exit(13); // the end
    int last_shown = headless_blits().back().pixels[0];
    // A double click is two clicks: replay, then pause at once.
    headless_click(player_window, 1, 1);
    headless_click(player_window, 1, 1);
    pump_messages(0);
    if (player_is_playing() || frame_position != 0)
        exit(14);
    exit(last_shown == 3 ? 0 : 15);
}

TEST(ProgramDeath, ClicksPauseResumeAndReplay) {
    EXPECT_EXIT(click_through_a_movie(), testing::ExitedWithCode(0), "");
}

// The user: lets 5 ms pass at every look for input, and closes the window
// once some frames have been shown.
void user_closes_after_frames() {
    headless_advance_time(5);
    static bool closed = false;
    if (!closed && headless_blits().size() >= 3) {
        closed = true;
        headless_close(player_window);
    }
}

void run_and_close() {
    program = new Program(movie_of_size(5, 3, 40));
    headless_set_poll_hook(user_closes_after_frames);
    int code = WinMain(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
    const std::vector<HeadlessFill> &fills = headless_fills();
    bool black = !fills.empty() && fills.back().rect.right == 5 && fills.back().rect.bottom == 3 &&
                 fills.back().colour.rgbRed == 0 && fills.back().colour.rgbGreen == 0 &&
                 fills.back().colour.rgbBlue == 0;
    fprintf(stderr, "black %d, still playing %d\n", black, player_is_playing());
    exit(black ? code : 3);
}

TEST(ProgramDeath, ClosingWhilePlayingBlackensAndEndsWithZero) {
    EXPECT_EXIT(run_and_close(), testing::ExitedWithCode(0), HasSubstr("black 1, still playing 1"));
}

void start_with_the_class_taken() {
    WNDCLASSEXA taken{};
    taken.cbSize = sizeof taken;
    taken.lpfnWndProc = DefWindowProcA;
    taken.lpszClassName = PLAYER_WINDOW_CLASS;
    RegisterClassExA(&taken);
    start(movie_of_size(4, 2, 1));
}

void start_with_a_changed_movie() {
    Program changed(movie_of_size(4, 2, 1));
    startup_block.movie_checksum ^= 1;
    create_player_window();
}

TEST(ProgramDeath, StartUpFailuresAreReported) {
    EXPECT_EXIT(
        start_with_the_class_taken(), testing::ExitedWithCode(1),
        HasSubstr("MessageBoxA [Error] 0x00012010 ﾘｿｰｽが足りません (RegisterClassEx 1410)\n"));
    EXPECT_EXIT(start_with_a_changed_movie(), testing::ExitedWithCode(1),
                HasSubstr("ﾃﾞｰﾀが正しくありません\n"));
}

void start_minimized() {
    start(movie_of_size(4, 2, 2), SW_SHOWMINIMIZED);
    exit(player_is_playing() ? 0 : 3);
}

TEST(ProgramDeath, AMinimizedStartStillPlays) {
    EXPECT_EXIT(start_minimized(), testing::ExitedWithCode(0), "");
}

// The program moved to `relative` (the system's bytes, folders made) in
// its temporary folder, with the block's title bytes `title`; reports the
// window's title (UTF-8) and whether it plays.
void start_as(const std::string &relative, const std::string &title) {
    program = new Program(movie_of_size(4, 2, 2));
    std::filesystem::path path = program->file.folder() / relative;
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::rename(program->file.path(), path);
    headless_set_module_path(path.c_str());
    std::memset(startup_block.window_title, 0, sizeof startup_block.window_title);
    std::memcpy(startup_block.window_title, title.data(),
                std::min(title.size(), sizeof startup_block.window_title));
    instance_handle = nullptr;
    show_command = SW_SHOWNORMAL;
    create_player_window();
    fprintf(stderr, "title [%s]\n", platform_window(player_window)->title);
    exit(player_is_playing() ? 0 : 3);
}

// Any name in any folder opens through the wide calls, bytes that are not
// UTF-8 included; a path too long for the 1024-unit buffer comes back cut
// and does not open, which the check reports.
TEST(ProgramDeath, PlaysUnderAnyNameAndStopsAtAPathTooLong) {
    const char *names[] = {
        "Caf\xC3\xA9/\xE5\xA4\x8F\xE4\xBC\x91\xE3\x81\xBF.exe", // Café/夏休み.exe
        "\xFF\xFE-not-utf8/x\x80.exe",
    };
    for (const char *name : names)
        EXPECT_EXIT(start_as(name, "t"), testing::ExitedWithCode(0), "") << name;
    std::string deep;
    for (int i = 0; i < 6; i++)
        deep += std::string(200, 'a' + i) + "/";
    EXPECT_EXIT(start_as(deep + "x.exe", "t"), testing::ExitedWithCode(1),
                HasSubstr("ﾃﾞｰﾀが正しくありません"));
}

// Titles stored as code page 932, or as UTF-8 behind the mark, read as
// typed; a title without its terminator stops at 255 bytes.
TEST(ProgramDeath, TheTitleReadsAsStored) {
    const struct {
        std::string stored, shown; // shown in UTF-8
    } cases[] = {
        {"夏休み", "\xE5\xA4\x8F\xE4\xBC\x91\xE3\x81\xBF"}, // this file's literals are 932
        {"\xEF\xBB\xBF"
         "Caf\xC3\xA9 \xC3\xBC",
         "Caf\xC3\xA9 \xC3\xBC"},
        {"\xEF\xBB\xBF\xEC\x95\x88\xEB\x85\x95", "\xEC\x95\x88\xEB\x85\x95"}, // 안녕
        {"\xEF\xBB\xBF", ""},
        {std::string(256, 'x'), std::string(255, 'x')},
    };
    for (const auto &c : cases)
        EXPECT_EXIT(start_as("p.exe", c.stored), testing::ExitedWithCode(0),
                    HasSubstr("title [" + c.shown + "]\n"));
}

} // namespace
