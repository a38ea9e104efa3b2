// The USER32 stand-ins behave as Windows does where the player can see it:
// window geometry, closing, the quit message's place in the queue, WM_PAINT,
// showing, and the error codes of failed registration and creation.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"
#include "platform/core/core.h"

#include <vector>

using testing::ElementsAre;

namespace {

std::vector<UINT> received; // messages that reached the window procedure
int quit_on_destroy;

LRESULT CALLBACK recording_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    received.push_back(message);
    if (message == WM_DESTROY && quit_on_destroy)
        PostQuitMessage(0);
    if (message == WM_PAINT) // leaves the region invalid: WM_PAINT keeps coming
        return 0;
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

class User32 : public testing::Test {
  protected:
    void SetUp() override {
        headless_reset();
        received.clear();
        quit_on_destroy = 0;
        WNDCLASSEXA window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = recording_proc;
        window_class.lpszClassName = "kmovUser32Test";
        RegisterClassExA(&window_class); // already there after the first test
    }
    void TearDown() override {
        for (HWND w : windows)
            DestroyWindow(w);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND create(DWORD style, int width = 640, int height = 480) {
        HWND w = CreateWindowExA(0, "kmovUser32Test", "title", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                 width, height, nullptr, nullptr, nullptr, nullptr);
        EXPECT_NE(w, nullptr);
        windows.push_back(w);
        return w;
    }
    std::vector<HWND> windows;
};

const DWORD PLAYER_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

RECT window_rect(HWND w) {
    RECT r{};
    EXPECT_TRUE(GetWindowRect(w, &r));
    return r;
}
RECT client_rect(HWND w) {
    RECT r{};
    EXPECT_TRUE(GetClientRect(w, &r));
    return r;
}

TEST_F(User32, OuterAndClientSizes) {
    HWND w = create(PLAYER_STYLE);
    RECT outer = window_rect(w);
    RECT client = client_rect(w);
    EXPECT_EQ(outer.right - outer.left, 640);
    EXPECT_EQ(outer.bottom - outer.top, 480);
    EXPECT_EQ(client.left, 0);
    EXPECT_EQ(client.top, 0);
    EXPECT_EQ(client.right, 640 - 2 * PLATFORM_BORDER);
    EXPECT_EQ(client.bottom, 480 - 2 * PLATFORM_BORDER - PLATFORM_CAPTION);

    // The start-up sizing: outer = frame + non-client, kept in place.
    for (int size : {320, 640, 1000}) {
        SCOPED_TRACE(size);
        RECT o = window_rect(w), c = client_rect(w);
        int width = size + (o.right - o.left) - (c.right - c.left);
        int height = size / 2 + (o.bottom - o.top) - (c.bottom - c.top);
        EXPECT_TRUE(SetWindowPos(w, nullptr, 500, 500, width, height, SWP_NOMOVE | SWP_NOZORDER));
        RECT moved = window_rect(w);
        EXPECT_EQ(moved.left, outer.left);
        EXPECT_EQ(moved.top, outer.top);
        c = client_rect(w);
        EXPECT_EQ(c.right, size);
        EXPECT_EQ(c.bottom, size / 2);
    }
    EXPECT_TRUE(SetWindowPos(w, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    RECT moved = window_rect(w);
    EXPECT_EQ(moved.left, 10);
    EXPECT_EQ(moved.top, 20);
    EXPECT_EQ(client_rect(w).right, 1000) << "a move keeps the size";

    // A pop-up without a border has no non-client area.
    HWND popup = create(WS_POPUP, 50, 40);
    EXPECT_EQ(client_rect(popup).right, 50);
    EXPECT_EQ(client_rect(popup).bottom, 40);
}

TEST_F(User32, CloseThroughDefWindowProcDestroysTheWindow) {
    quit_on_destroy = 1;
    HWND w = create(PLAYER_STYLE);
    EXPECT_THAT(received, ElementsAre(WM_NCCREATE, WM_CREATE));
    received.clear();
    headless_close(w);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, UINT(WM_CLOSE));
    PostMessageA(w, WM_USER, 0, 0); // dropped with the window
    DispatchMessageA(&msg);
    EXPECT_THAT(received, ElementsAre(WM_CLOSE, WM_DESTROY, WM_NCDESTROY));

    RECT r;
    SetLastError(0);
    EXPECT_FALSE(GetWindowRect(w, &r));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_EQ(platform_window(w), nullptr);
    // What is left is the quit message posted from WM_DESTROY.
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

void post_later() {
    PostMessageA(nullptr, WM_USER + 9, 0, 0);
}

TEST_F(User32, QuitComesAfterWhatIsQueued) {
    PostMessageA(nullptr, WM_USER + 1, 0, 0);
    PostQuitMessage(3);
    PostMessageA(nullptr, WM_USER + 2, 0, 0);
    MSG msg;
    std::vector<UINT> order;
    while (GetMessageA(&msg, nullptr, 0, 0))
        order.push_back(msg.message);
    EXPECT_THAT(order, ElementsAre(WM_USER + 1, WM_USER + 2));
    EXPECT_EQ(msg.wParam, WPARAM(3));

    // A look without removing leaves the quit message in place.
    PostQuitMessage(0);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_QUIT));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));

    // An empty queue: GetMessageA waits (the headless wait hook delivers).
    headless_set_wait_hook(post_later);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, WM_USER + 9u);
    // WaitMessage with something queued returns at once (no hook needed).
    headless_set_wait_hook(nullptr);
    PostMessageA(nullptr, WM_USER, 0, 0);
    EXPECT_TRUE(WaitMessage());
}

// A message posted 4 ms into a 10 ms wait: the test's timed-wait hook.
void message_after_4_ms(uint32_t ms) {
    EXPECT_EQ(ms, 10u);
    headless_advance_time(4);
    PostMessageA(nullptr, WM_USER + 4, 0, 0);
}

TEST_F(User32, MsgWaitEndsAtTheTimeOrTheFirstMessage) {
    headless_set_time(100);
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT), WAIT_TIMEOUT);
    EXPECT_EQ(headless_time(), 110u) << "waited out the time";
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
    EXPECT_EQ(headless_time(), 110u);

    headless_set_timed_wait_hook(message_after_4_ms);
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT), WAIT_OBJECT_0);
    EXPECT_EQ(headless_time(), 114u) << "woken by the message";
    // Something queued: at once, without calling the hook.
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT), WAIT_OBJECT_0);
    EXPECT_EQ(headless_time(), 114u);
    headless_set_timed_wait_hook(nullptr);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    HANDLE handle = nullptr;
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &handle, FALSE, 10, QS_ALLINPUT), WAIT_FAILED)
        << "no handles to wait on here";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(User32, PaintWhenTheQueueIsOtherwiseEmpty) {
    HWND w = create(PLAYER_STYLE);
    MSG msg;
    InvalidateRect(w, nullptr, FALSE);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "hidden: no WM_PAINT";

    EXPECT_FALSE(ShowWindow(w, SW_SHOWNORMAL)) << "was hidden";
    PostMessageA(w, WM_USER, 0, 0);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, UINT(WM_USER)) << "posted messages first";
    for (int i = 0; i < 2; i++) { // not validated: it comes again
        ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
        EXPECT_EQ(msg.message, UINT(WM_PAINT));
        EXPECT_EQ(msg.hwnd, w);
        DispatchMessageA(&msg);
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(w, &paint);
    ASSERT_NE(platform_dc(dc), nullptr);
    EXPECT_EQ(platform_dc(dc)->window, w);
    RECT client = client_rect(w);
    EXPECT_EQ(paint.rcPaint.right, client.right);
    EXPECT_EQ(paint.rcPaint.bottom, client.bottom);
    EndPaint(w, &paint);
    EXPECT_EQ(platform_dc(dc), nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "validated";

    // A part, clipped to the client area; DefWindowProcA validates.
    RECT part = {10, 20, 5000, 30};
    InvalidateRect(w, &part, FALSE);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    DefWindowProcA(w, WM_PAINT, 0, 0);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    InvalidateRect(w, &part, FALSE);
    BeginPaint(w, &paint);
    EXPECT_EQ(paint.rcPaint.left, 10);
    EXPECT_EQ(paint.rcPaint.right, client.right);
    EndPaint(w, &paint);

    HDC window_dc = GetDC(w);
    EXPECT_EQ(platform_dc(window_dc)->window, w);
    EXPECT_EQ(ReleaseDC(w, window_dc), 1);
    EXPECT_EQ(platform_dc(window_dc), nullptr);
}

TEST_F(User32, ShowingAndMinimizing) {
    HWND w = create(PLAYER_STYLE);
    PlatformWindow *record = platform_window(w);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->visible, 0);
    EXPECT_FALSE(ShowWindow(w, SW_SHOWMINNOACTIVE));
    EXPECT_EQ(record->visible, 1);
    EXPECT_EQ(record->minimized, 1);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "nothing to paint minimized";
    EXPECT_TRUE(ShowWindow(w, SW_RESTORE));
    EXPECT_EQ(record->minimized, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT(WM_PAINT));
    EXPECT_TRUE(ShowWindow(w, SW_HIDE));
    EXPECT_EQ(record->visible, 0);
}

TEST_F(User32, FailedRegistrationAndCreationSetWindowsCodes) {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = recording_proc;
    window_class.lpszClassName = "KMOVUSER32TEST"; // class names ignore case
    SetLastError(0);
    EXPECT_EQ(RegisterClassExA(&window_class), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));

    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "kmovNoSuchClass", "", PLAYER_STYLE, CW_USEDEFAULT, CW_USEDEFAULT,
                              640, 480, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));

    // A backend that cannot make the window (no display): creation fails
    // with its code before the procedure hears of the window.
    headless_set_window_creation(0);
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "kmovUser32Test", "", PLAYER_STYLE, CW_USEDEFAULT, CW_USEDEFAULT,
                              640, 480, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_THAT(received, testing::IsEmpty());
    headless_set_window_creation(1);
    create(PLAYER_STYLE);
}

} // namespace
