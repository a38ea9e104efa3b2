// win_probe: the smallest Windows program with the player's kind of window,
// for trying the end-to-end harness under Wine before the player exists.
// A fixed window of class "kMovSPWnd" titled "kmov probe" whose client area
// is sized to 320 x 240 and painted in one colour (200, 30, 60); a left
// click shows the player's "data is wrong" box; closing the window ends
// the program with 0.
#include <windows.h>

static LRESULT CALLBACK probe_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH brush = CreateSolidBrush(RGB(200, 30, 60));
        FillRect(dc, &client, brush);
        DeleteObject(brush);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
        MessageBoxA(window, "ﾃﾞｰﾀが正しくありません", "Error", MB_OK | MB_ICONERROR | MB_TASKMODAL);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show_command) {
    (void)previous;
    (void)command_line;
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = probe_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = "kMovSPWnd";
    if (RegisterClassExA(&window_class) == 0)
        return 1;
    HWND window = CreateWindowExA(0, "kMovSPWnd", "kmov probe",
                                  WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 640, 480, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    RECT outer, client;
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    SetWindowPos(window, nullptr, 0, 0, 320 + (outer.right - outer.left) - client.right,
                 240 + (outer.bottom - outer.top) - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(window, show_command);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
