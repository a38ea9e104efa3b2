// For the unit tests on Windows: the message-box part of the headless
// backend's controls, over the real USER32. The program's calls to
// MessageBoxA go through the import slot __imp_MessageBoxA; defining that
// slot here makes the linker take it instead of USER32's, so a failure
// under test is recorded and echoed (as the headless backend does) instead
// of waiting for a click on a real box.
#include "headless.h"

#include <stdio.h>

namespace {

std::vector<HeadlessMessageBox> boxes;
void (*box_hook)(const HeadlessMessageBox &) = nullptr;
int echo = 1;

int WINAPI record_message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    (void)owner;
    boxes.push_back({text != nullptr ? text : "", caption != nullptr ? caption : "", type});
    HeadlessMessageBox box = boxes.back();
    if (echo) {
        fprintf(stderr, "MessageBoxA [%s] 0x%08x %s\n", box.title.c_str(), box.flags,
                box.text.c_str());
        fflush(stderr);
    }
    if (box_hook != nullptr)
        box_hook(box);
    return IDOK;
}

} // namespace

extern "C" {
int(WINAPI *__imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT) = record_message_box;
}

const std::vector<HeadlessMessageBox> &headless_message_boxes(void) {
    return boxes;
}
void headless_set_message_box_hook(void (*hook)(const HeadlessMessageBox &)) {
    box_hook = hook;
}
void headless_set_message_box_echo(int on) {
    echo = on;
}
void headless_reset(void) {
    boxes.clear();
    box_hook = nullptr;
    echo = 1;
}
