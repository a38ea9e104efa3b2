// MessageBoxA: the backend shows the box; the result is always IDOK, the
// one button the player's boxes have.
#include "backend.h"

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    (void)owner;
    backend_message_box(text != nullptr ? text : "", caption != nullptr ? caption : "Error", type);
    return IDOK;
}
