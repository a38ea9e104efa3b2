#include "player_window.h"

#include "event_pump.h"
#include "fatal_error.h"
#include "integrity.h"
#include "startup_block.h"

#include "../player/player.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

HINSTANCE instance_handle;
int show_command;
HWND player_window;
HPALETTE window_palette;
unsigned char window_bitmap_info[WINDOW_BITMAP_INFO_SIZE];

// Room for a LOGPALETTE with 256 entries.
static union {
    LOGPALETTE palette;
    unsigned char bytes[4 + 256 * sizeof(PALETTEENTRY)];
} window_log_palette;

static const BITMAPINFOHEADER *frame_header(void) {
    return (const BITMAPINFOHEADER *)window_bitmap_info;
}

static LONG absolute(LONG value) {
    return value < 0 ? -value : value;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)previous;
    (void)command_line;
    instance_handle = instance;
    show_command = show;
    if (!create_player_window())
        return 0;
    while (pump_messages(1))
        ;
    return 0;
}

// The class name as the wide calls take it.
static const WCHAR player_window_class[] = {'k', 'M', 'o', 'v', 'S', 'P', 'W', 'n', 'd', 0};

void startup_title_wide(const char *title, size_t size, WCHAR *out) {
    // At most size - 1 bytes: a block whose title lacks its terminator
    // still converts within `out`.
    size_t length = 0;
    while (length + 1 < size && title[length] != 0)
        length++;
    UINT code_page = MESSAGE_CODE_PAGE;
    if (length >= UTF8_MARK_SIZE && memcmp(title, UTF8_MARK, UTF8_MARK_SIZE) == 0) {
        code_page = CP_UTF8;
        title += UTF8_MARK_SIZE;
        length -= UTF8_MARK_SIZE;
    }
    // Neither code page takes more UTF-16 units than bytes, so `size` units
    // hold the text and its terminator.
    int units =
        length == 0 ? 0 : MultiByteToWideChar(code_page, 0, title, (int)length, out, (int)size - 1);
    out[units > 0 ? units : 0] = 0;
}

int create_player_window(void) {
    WNDCLASSEXW window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.cbSize = sizeof window_class;
    window_class.style = 0; // no CS_DBLCLKS: a double click is two clicks
    window_class.lpfnWndProc = player_window_proc;
    window_class.hInstance = instance_handle;
    window_class.hIcon = LoadIconA(instance_handle, MAKEINTRESOURCEA(PLAYER_ICON));
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
    window_class.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    window_class.lpszClassName = player_window_class;
    window_class.hIconSm = (HICON)LoadImageA(instance_handle, MAKEINTRESOURCEA(PLAYER_ICON),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (RegisterClassExW(&window_class) == 0)
        fatal_error("ﾘｿｰｽが足りません (RegisterClassEx %d)", (int)GetLastError());

    // The title through the wide call, so that it reads as stored whatever
    // the system's code page.
    static WCHAR title[STARTUP_TITLE_SIZE];
    startup_title_wide(startup_block.window_title, sizeof startup_block.window_title, title);
    player_window =
        CreateWindowExW(0, player_window_class, title, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                        CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, NULL, NULL, instance_handle, NULL);
    if (player_window == NULL)
        fatal_error("ﾘｿｰｽが足りません (CreateWindow %d)", (int)GetLastError());

    if (!open_own_movie())
        fatal_error("ﾃﾞｰﾀのｵｰﾌﾟﾝに失敗しました");

    RECT outer, client;
    GetWindowRect(player_window, &outer);
    GetClientRect(player_window, &client);
    int outer_width = (int)absolute(frame_header()->biWidth) + (outer.right - outer.left) -
                      (client.right - client.left);
    int outer_height = (int)absolute(frame_header()->biHeight) + (outer.bottom - outer.top) -
                       (client.bottom - client.top);
    SetWindowPos(player_window, NULL, 0, 0, outer_width, outer_height, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(player_window, show_command);
    player_play();
    return 1;
}

int open_own_movie(void) {
    // The wide path, so that a program under any name and in any folder
    // opens whatever the system's code page. A path longer than the buffer
    // comes back cut short, and then does not open.
    static WCHAR path[MODULE_PATH_SIZE];
    path[0] = 0;
    GetModuleFileNameW(NULL, path, MODULE_PATH_SIZE);
    path[MODULE_PATH_SIZE - 1] = 0;
    verify_movie_checksum(path);
    return player_open_wide(path, player_window, -1, -1, WAVE_MAPPER,
                            (int32_t)startup_block.movie_offset, make_window_palette) != 0;
}

HPALETTE make_window_palette(void) {
    player_copy_bitmap_info(window_bitmap_info, sizeof window_bitmap_info);
    const BITMAPINFOHEADER *header = frame_header();
    const RGBQUAD *colours = (const RGBQUAD *)(window_bitmap_info + sizeof(BITMAPINFOHEADER));
    DWORD used = header->biClrUsed > 256 ? 256 : header->biClrUsed;
    window_log_palette.palette.palVersion = 0x300;
    window_log_palette.palette.palNumEntries = (WORD)(used & 0xFFFF);
    // The entries run on past the declared one-element array, into the room
    // the union gives them.
    PALETTEENTRY *entries =
        (PALETTEENTRY *)(window_log_palette.bytes + offsetof(LOGPALETTE, palPalEntry));
    for (DWORD i = 0; i < used; i++) {
        PALETTEENTRY *entry = &entries[i];
        entry->peRed = colours[i].rgbRed;
        entry->peGreen = colours[i].rgbGreen;
        entry->peBlue = colours[i].rgbBlue;
        entry->peFlags = 0;
    }
    window_palette = CreatePalette(&window_log_palette.palette);
    return window_palette;
}

static void paint_frame(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HPALETTE previous = SelectPalette(dc, window_palette, TRUE);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous_bitmap = SelectObject(memory, player_get_bitmap());
    BitBlt(dc, 0, 0, (int)absolute(frame_header()->biWidth),
           (int)absolute(frame_header()->biHeight), memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous_bitmap);
    DeleteDC(memory);
    SelectPalette(dc, previous, TRUE);
    EndPaint(window, &paint);
}

// Realizes window_palette into the window's DC; returns the entries mapped.
static UINT realize_window_palette(HWND window, BOOL background) {
    HDC dc = GetDC(window);
    HPALETTE previous = SelectPalette(dc, window_palette, background);
    UINT mapped = RealizePalette(dc);
    SelectPalette(dc, previous, TRUE);
    ReleaseDC(window, dc);
    if (mapped != 0 && mapped != GDI_ERROR)
        InvalidateRect(window, NULL, FALSE);
    return mapped == GDI_ERROR ? 0 : mapped;
}

LRESULT CALLBACK player_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT:
        paint_frame(window);
        return 0;
    case WM_CLOSE: {
        HDC dc = GetDC(window);
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, (HBRUSH)GetStockObject(BLACK_BRUSH));
        ReleaseDC(window, dc);
        return DefWindowProcW(window, message, wparam, lparam);
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_LBUTTONDOWN:
        if (player_is_playing())
            player_pause();
        else
            player_play();
        return 0;
    case WM_QUERYNEWPALETTE:
        return realize_window_palette(window, FALSE) != 0;
    case WM_PALETTECHANGED:
        realize_window_palette(window, TRUE);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}
