// What the fuzz targets share: running the player's code so that a reported
// failure (fatal_error's box, which would end the process) returns to the
// target instead, with the player's process-wide state put back to rest.
#ifndef KMOV_FUZZ_SUPPORT_H
#define KMOV_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kmov::fuzz {

// Runs `body`; returns true when it returned, false when the player
// reported a failure (the box's text is then in *message, if given).
// Afterwards the movie is closed, the event table and the pump's flags are
// cleared and fatal_error may show a box again.
bool run_guarded(void (*body)(void *), void *context, std::string *message = nullptr);

// Writes `size` bytes to a file of this process's own and returns its path.
const char *write_input(const uint8_t *data, size_t size);

} // namespace kmov::fuzz

#endif
