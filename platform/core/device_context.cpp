// Device-context records behind HDC handles, shared by the USER32 stand-ins
// (GetDC, BeginPaint) and the GDI32 ones (CreateCompatibleDC, DeleteDC).
//
// A handle is the record's address; only records in the live set count, so
// a released or made-up handle is refused rather than read.
#include "core.h"

#include <stdlib.h>
#include <unordered_set>

namespace {

constexpr uint32_t DC_MAGIC = 0x6b444321u;

// Never destroyed: DCs may outlive static destruction at exit.
std::unordered_set<PlatformDC *> &live_dcs() {
    static auto *live = new std::unordered_set<PlatformDC *>;
    return *live;
}

} // namespace

PlatformDC *platform_dc(HDC dc) {
    PlatformDC *record = reinterpret_cast<PlatformDC *>(dc);
    if (record == nullptr || live_dcs().count(record) == 0)
        return nullptr;
    return record;
}

HDC platform_dc_new(HWND window) {
    PlatformDC *record = static_cast<PlatformDC *>(calloc(1, sizeof(PlatformDC)));
    if (record == nullptr)
        return nullptr;
    record->magic = DC_MAGIC;
    record->window = window;
    live_dcs().insert(record);
    return reinterpret_cast<HDC>(record);
}

void platform_dc_free(HDC dc) {
    PlatformDC *record = platform_dc(dc);
    if (record == nullptr)
        return;
    live_dcs().erase(record);
    record->magic = 0;
    free(record);
}
