#include "startup_block.h"

// Not const, so the compiler cannot fold the values the packer writes
// later into the code; `used` keeps it in the image.
__attribute__((used)) StartupRecord startup_record = {
    STARTUP_MARKER,
    {0, 0, "kmov"},
};
