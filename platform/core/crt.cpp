// The C runtime's wide-name call: _wfopen over fopen, the name in the
// system's UTF-8 (bytes GetModuleFileNameW escaped restored), the mode
// ASCII.
#include "core.h"

#include <errno.h>
#include <string>

FILE *_wfopen(LPCWSTR name, LPCWSTR mode) {
    if (name == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return fopen(platform_utf8_from_wide(name, 1).c_str(),
                 platform_utf8_from_wide(mode, 0).c_str());
}
