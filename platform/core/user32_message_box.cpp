// MessageBoxA and MessageBoxW: the backend shows the box, its text in
// UTF-8; the result is always IDOK, the one button the player's boxes have.
#include "backend.h"
#include "core.h"

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    (void)owner;
    backend_message_box(platform_utf8_from_cp932(text != nullptr ? text : "").c_str(),
                        caption != nullptr ? platform_utf8_from_cp932(caption).c_str() : "Error",
                        type);
    return IDOK;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    (void)owner;
    backend_message_box(platform_utf8_from_wide(text, 0).c_str(),
                        caption != nullptr ? platform_utf8_from_wide(caption, 0).c_str() : "Error",
                        type);
    return IDOK;
}
