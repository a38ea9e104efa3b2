// USER32 stand-ins: the thread's message queue and the windows.
// (Placeholder: the queue alone, until the window machinery lands.)
#include "backend.h"
#include "core.h"

#include <deque>

namespace {
std::deque<MSG> queue;
}

PlatformWindow *platform_window(HWND) {
    return nullptr;
}

void platform_post_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wparam;
    msg.lParam = lparam;
    msg.time = backend_time_ms();
    queue.push_back(msg);
}

int platform_queue_ready(void) {
    return !queue.empty();
}
