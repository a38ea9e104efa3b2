// What the fuzz targets share: running the player's code so that a reported
// failure (fatal_error's box, which would end the process) returns to the
// target instead, with the player's process-wide state put back to rest.
#ifndef KMOV_FUZZ_SUPPORT_H
#define KMOV_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kmov::fuzz {

// Runs `body` on a freshly reset headless backend (no box echo); returns
// true when it returned, false when the player reported a failure (the
// box's text is then in *message, if given). The body must hold nothing
// that needs destroying: a failure leaves it by a jump from inside the box.
// Afterwards the movie is closed, the event table and the pump's flags are
// cleared and fatal_error may show a box again. A body that sets
// fatal_error_shown runs as if a box were already up: every failure then
// returns to its caller, which must go on soundly.
bool run_guarded(void (*body)(void *), void *context, std::string *message = nullptr);

// Writes `size` bytes to a file of this process's own and returns its path.
const char *write_input(const uint8_t *data, size_t size);

// Ends the run as a finding: prints what went wrong and aborts.
[[noreturn]] void finding(const char *what);

} // namespace kmov::fuzz

#endif
