// GDI32 stand-ins for palettes, memory DCs and drawing: CreatePalette,
// SelectPalette, RealizePalette, CreateCompatibleDC, DeleteDC, SelectObject,
// BitBlt, GetStockObject, and USER32's FillRect. The display is a
// true-colour one: a DIB section is shown through its own colour table, and
// realizing a palette maps nothing (RealizePalette returns 0).
#include "backend.h"
#include "core.h"

#include <string.h>

namespace {

// Stock objects: made once, never freed. Every DC starts with the default
// palette and (a memory DC) the default 1 x 1 bitmap selected, as on Windows.
PlatformObject *stock(PlatformObjectKind kind, int index) {
    static PlatformObject *black_brush, *default_palette, *default_bitmap;
    PlatformObject **slot = kind == PLATFORM_BRUSH && index == BLACK_BRUSH ? &black_brush
                            : kind == PLATFORM_PALETTE                     ? &default_palette
                            : kind == PLATFORM_BITMAP                      ? &default_bitmap
                                                                           : nullptr;
    if (slot == nullptr)
        return nullptr;
    if (*slot == nullptr) {
        PlatformObject *object = platform_object_new(kind);
        if (object == nullptr)
            return nullptr;
        object->stock = 1;
        if (kind == PLATFORM_PALETTE) {
            object->count = 20;
        } else if (kind == PLATFORM_BITMAP) {
            static uint8_t default_pixel;
            object->width = object->height = object->stride = 1;
            object->pixels = &default_pixel;
        }
        *slot = object;
    }
    return *slot;
}

} // namespace

HGDIOBJ GetStockObject(int index) {
    if (index != BLACK_BRUSH)
        return nullptr;
    return stock(PLATFORM_BRUSH, BLACK_BRUSH);
}

HPALETTE CreatePalette(const LOGPALETTE *log_palette) {
    if (log_palette == nullptr || log_palette->palVersion != 0x300 ||
        log_palette->palNumEntries == 0 || log_palette->palNumEntries > 256) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PlatformObject *palette = platform_object_new(PLATFORM_PALETTE);
    if (palette == nullptr) {
        platform_set_error(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    palette->count = log_palette->palNumEntries;
    memcpy(palette->entries, log_palette->palPalEntry,
           sizeof(PALETTEENTRY) * static_cast<size_t>(palette->count));
    return reinterpret_cast<HPALETTE>(palette);
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL force_background) {
    (void)force_background;
    PlatformDC *record = platform_dc(dc);
    PlatformObject *object = platform_object(palette, PLATFORM_PALETTE);
    if (record == nullptr || object == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HPALETTE previous = record->palette != nullptr
                            ? record->palette
                            : reinterpret_cast<HPALETTE>(stock(PLATFORM_PALETTE, 0));
    record->palette = object == stock(PLATFORM_PALETTE, 0) ? nullptr : palette;
    return previous;
}

UINT RealizePalette(HDC dc) {
    if (platform_dc(dc) == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return GDI_ERROR;
    }
    return 0;
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc != nullptr && platform_dc(dc) == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return platform_dc_new(nullptr);
}

BOOL DeleteDC(HDC dc) {
    PlatformDC *record = platform_dc(dc);
    if (record == nullptr || record->window != nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform_dc_free(dc);
    return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    PlatformDC *record = platform_dc(dc);
    PlatformObject *selected = platform_object(object, static_cast<PlatformObjectKind>(0));
    if (record == nullptr || selected == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    switch (selected->kind) {
    case PLATFORM_BITMAP: {
        if (record->window != nullptr)
            return nullptr; // a bitmap goes into a memory DC only
        HGDIOBJ previous = record->bitmap != nullptr ? record->bitmap : stock(PLATFORM_BITMAP, 0);
        record->bitmap = selected == stock(PLATFORM_BITMAP, 0) ? nullptr : object;
        return previous;
    }
    case PLATFORM_BRUSH: {
        HGDIOBJ previous = record->brush;
        record->brush = static_cast<HBRUSH>(object);
        return previous;
    }
    default:
        return nullptr; // palettes are selected with SelectPalette
    }
}

BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop) {
    PlatformDC *to = platform_dc(dest);
    PlatformDC *from = platform_dc(src);
    if (to == nullptr || from == nullptr || rop != SRCCOPY) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PlatformObject *bitmap = platform_object(from->bitmap, PLATFORM_BITMAP);
    if (bitmap == nullptr || bitmap->pixels == nullptr || to->window == nullptr)
        return FALSE;
    // Only the part of the source rectangle that lies inside the bitmap is
    // copied, to the same place relative to (x, y).
    int left = x1 < 0 ? 0 : x1, top = y1 < 0 ? 0 : y1;
    int right = x1 + cx > bitmap->width ? bitmap->width : x1 + cx;
    int bottom = y1 + cy > bitmap->height ? bitmap->height : y1 + cy;
    if (right <= left || bottom <= top)
        return TRUE;
    const uint8_t *pixels = bitmap->pixels + static_cast<size_t>(top) * bitmap->stride + left;
    backend_blit(to->window, x + (left - x1), y + (top - y1), right - left, bottom - top, pixels,
                 bitmap->stride, bitmap->colours);
    return TRUE;
}

int FillRect(HDC dc, const RECT *rect, HBRUSH brush) {
    PlatformDC *record = platform_dc(dc);
    PlatformObject *object = platform_object(brush, PLATFORM_BRUSH);
    if (record == nullptr || object == nullptr || rect == nullptr) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (record->window != nullptr)
        backend_fill(record->window, rect, object->colours[0]);
    return 1;
}
