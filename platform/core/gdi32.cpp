// GDI32 stand-ins: the GDI object records behind HBITMAP, HPALETTE and
// HBRUSH, and the calls that make and delete them.
//
// Every object is a PlatformObject of one kind, allocated here and listed in
// a table of live objects, so that a stale or foreign handle is recognised
// without reading memory it no longer owns.
#include "backend.h"
#include "core.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unordered_set>

namespace {

constexpr uint32_t OBJECT_MAGIC = 0x6b476469u;

// The largest section pixel array: Windows' sections stay below 2 GiB.
constexpr uint64_t SECTION_MAX_BYTES = 0x7FFFFFFFu;

std::unordered_set<PlatformObject *> &live_objects() {
    static std::unordered_set<PlatformObject *> objects;
    return objects;
}

// Unlists and frees a record and what it owns.
void object_free(PlatformObject *object) {
    live_objects().erase(object);
    object->magic = 0;
    free(object->pixels);
    free(object);
}

} // namespace

PlatformObject *platform_object_new(PlatformObjectKind kind) {
    PlatformObject *object = static_cast<PlatformObject *>(calloc(1, sizeof(PlatformObject)));
    if (object == nullptr)
        return nullptr;
    object->magic = OBJECT_MAGIC;
    object->kind = kind;
    live_objects().insert(object);
    return object;
}

PlatformObject *platform_object(HGDIOBJ handle, PlatformObjectKind kind) {
    PlatformObject *object = static_cast<PlatformObject *>(handle);
    if (object == nullptr || live_objects().count(object) == 0 || object->magic != OBJECT_MAGIC)
        return nullptr;
    if (kind != 0 && object->kind != kind)
        return nullptr;
    return object;
}

// ---- DIB sections ------------------------------------------------------------------

// Only what the player makes: 8-bit, uncompressed, top-down (negative
// biHeight), colours given as RGB. The pixels start zero.
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO *info, UINT usage, void **bits, HANDLE section,
                         DWORD offset) {
    (void)dc;
    (void)offset;
    if (bits != nullptr)
        *bits = nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const BITMAPINFOHEADER &header = info->bmiHeader;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
        header.biBitCount != 8 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
        header.biHeight >= 0 || header.biClrUsed > 256) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Rows are padded to 4 bytes; the product is taken in 64 bits and
    // bounded before anything is allocated.
    uint64_t width = static_cast<uint64_t>(header.biWidth);
    uint64_t height = static_cast<uint64_t>(-static_cast<int64_t>(header.biHeight));
    uint64_t stride = (width + 3) & ~uint64_t{3};
    if (stride > SECTION_MAX_BYTES / height) {
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uint64_t size = stride * height;
    PlatformObject *object = platform_object_new(PLATFORM_BITMAP);
    uint8_t *pixels = static_cast<uint8_t *>(calloc(static_cast<size_t>(size), 1));
    if (object == nullptr || pixels == nullptr) {
        free(pixels);
        if (object != nullptr)
            object_free(object);
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->width = static_cast<int>(width);
    object->height = static_cast<int>(height);
    object->stride = static_cast<int>(stride);
    object->pixels = pixels;
    // The colour table follows the header, whatever its size; biClrUsed 0
    // means the full table of an 8-bit section.
    DWORD colours = header.biClrUsed == 0 ? 256 : header.biClrUsed;
    memcpy(object->colours, reinterpret_cast<const BYTE *>(info) + header.biSize,
           colours * sizeof(RGBQUAD));
    if (bits != nullptr)
        *bits = pixels;
    return reinterpret_cast<HBITMAP>(object);
}

// ---- Deleting ----------------------------------------------------------------------------

// Frees a bitmap, palette or brush. Stock objects stay (and the call
// succeeds); anything that is not a live object fails.
BOOL DeleteObject(HGDIOBJ handle) {
    PlatformObject *object = platform_object(handle, static_cast<PlatformObjectKind>(0));
    if (object == nullptr) {
        platform_set_error(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->stock)
        object_free(object);
    return TRUE;
}
