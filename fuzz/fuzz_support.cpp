#include "fuzz_support.h"

#include "headless.h"
#include "player_harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace kmov::fuzz {

bool run_guarded(void (*body)(void *), void *context, std::string *message) {
    const bool returned = harness_run_guarded(body, context, message);
    if (!harness_player_at_rest())
        finding("the player holds something after it was closed");
    // Release what this input made (the backend's records), so that each run
    // frees what it allocated and libFuzzer need not look for leaks after
    // every input.
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
