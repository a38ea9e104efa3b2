// MessageBoxA and MessageBoxW: the backend shows the box, its text in
// UTF-8; the result is always IDOK, the one button the player's boxes have.
#include "backend.h"
#include "core.h"

#include <string>

namespace {

// The converted text lives in static storage, not in this frame: while the
// box is up code may run that never comes back here (a test's or a fuzz
// target's hook leaves by a jump), and a frame left so is not unwound.
std::string box_text, box_title;

void show(UINT type) {
    backend_message_box(box_text.c_str(), box_title.c_str(), type);
}

} // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    (void)owner;
    box_text = platform_utf8_from_cp932(text != nullptr ? text : "");
    box_title = caption != nullptr ? platform_utf8_from_cp932(caption) : "Error";
    show(type);
    return IDOK;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    (void)owner;
    box_text = platform_utf8_from_wide(text, 0);
    box_title = caption != nullptr ? platform_utf8_from_wide(caption, 0) : "Error";
    show(type);
    return IDOK;
}
