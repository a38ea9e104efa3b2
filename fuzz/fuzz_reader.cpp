// The reader behind `kmov info`: any file through locate_movie and
// inspect_movie, once where the file says its movie is and once at an
// offset taken from its first bytes. Whatever the bytes, the reader must
// describe them (an error value or a summary with problems); it must never
// reach the player's error box, which would end the command.
#include "fuzz_support.h"

#include "headless.h"
#include "movie_input.h"

#include <cstdint>

namespace {

[[noreturn]] void box_shown(const HeadlessMessageBox &) {
    kmov::fuzz::finding("the reader reported through the player's error box");
}

void read_movie(const char *path, std::optional<uint64_t> offset) {
    kmov::Expected<kmov::MovieLocation> location = kmov::locate_movie(path, offset);
    if (!location)
        return;
    kmov::Expected<kmov::MovieSummary> summary = kmov::inspect_movie(*location, false);
    if (summary && summary->records < 0)
        kmov::fuzz::finding("a negative record count");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *path = kmov::fuzz::write_input(data, size);
    headless_reset();
    headless_set_message_box_echo(0);
    headless_set_message_box_hook(box_shown);
    read_movie(path, std::nullopt);
    uint64_t offset = 0;
    for (size_t i = 0; i < 4 && i < size; i++)
        offset |= static_cast<uint64_t>(data[i]) << (8 * i);
    read_movie(path, offset % (size + 2)); // up to one byte beyond the end, which is refused
    return 0;
}
