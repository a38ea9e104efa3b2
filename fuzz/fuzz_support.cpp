#include "fuzz_support.h"

#include "app/event_pump.h"
#include "app/fatal_error.h"
#include "headless.h"
#include "player/player.h"
#include "player/player_state.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace kmov::fuzz {

namespace {

std::jmp_buf escape;
std::string last_message;

// The box is "up": leave the failing code instead of letting exit(1) run.
[[noreturn]] void leave_on_box(const HeadlessMessageBox &box) {
    last_message = box.text;
    std::longjmp(escape, 1);
}

void put_to_rest() {
    // A failure can leave the tick's slot marked running; clear the table so
    // the close below does not wait for a tick that can never run.
    std::memset(EventTable, 0, sizeof EventTable);
    is_playing = 0;
    stop_requested = 0;
    quit_received = 0;
    player_close();
    fatal_error_shown = 0;
}

} // namespace

bool run_guarded(void (*body)(void *), void *context, std::string *message) {
    headless_reset();
    headless_set_message_box_echo(0);
    headless_set_message_box_hook(leave_on_box);
    bool returned = false;
    if (setjmp(escape) == 0) {
        body(context);
        returned = true;
    }
    headless_set_message_box_hook(nullptr);
    put_to_rest();
    if (is_open || movie_source != nullptr || ring_data != nullptr || bitmap_info != nullptr ||
        frame_bitmap != nullptr || frame_bits != nullptr || memory_dc != nullptr ||
        wave_out != nullptr || wave_headers != nullptr || movie_palette != nullptr)
        finding("the player holds something after it was closed");
    if (message != nullptr)
        *message = returned ? std::string() : last_message;
    // Release what this input made (the backend's records, the message), so
    // that each run frees what it allocated and libFuzzer need not look for
    // leaks after every input.
    std::string().swap(last_message);
    headless_reset();
    return returned;
}

const char *write_input(const uint8_t *data, size_t size) {
    // One file per process, removed when it ends.
    static std::string path = [] {
        const char *folder = std::getenv("TMPDIR");
        std::string name = std::string(folder != nullptr && *folder ? folder : "/tmp") +
                           "/kmov-fuzz-" + std::to_string(getpid()) + ".bin";
        static std::string removed_at_exit;
        removed_at_exit = name;
        std::atexit([] { std::remove(removed_at_exit.c_str()); });
        return name;
    }();
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        finding("cannot write the input file");
    return path.c_str();
}

void finding(const char *what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

} // namespace kmov::fuzz
