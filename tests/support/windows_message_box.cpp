// For the unit tests on Windows: the message-box part of the headless
// backend's controls, over the real USER32. The program's calls to
// MessageBoxW (and any to MessageBoxA) go through the import slots
// __imp_MessageBoxW and __imp_MessageBoxA; defining those slots here makes
// the linker take them instead of USER32's, so a failure under test is
// recorded and echoed (as the headless backend does, in code page 932)
// instead of waiting for a click on a real box.
#include "headless.h"

#include <stdio.h>
#include <string>

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

std::string to_cp932(LPCWSTR text) {
    if (text == nullptr)
        return {};
    int size = WideCharToMultiByte(932, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(932, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

int WINAPI record_message_box_wide(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return record_message_box(owner, to_cp932(text).c_str(), to_cp932(caption).c_str(), type);
}

} // namespace

extern "C" {
int(WINAPI *__imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT) = record_message_box;
int(WINAPI *__imp_MessageBoxW)(HWND, LPCWSTR, LPCWSTR, UINT) = record_message_box_wide;
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
