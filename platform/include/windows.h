// kmov's Win32 subset for builds without Windows.
//
// The player sources include <windows.h>; on Windows that is the system's
// header, elsewhere it is this one. It declares only the types, constants
// and calls that the player and its window use, with the Win32 names,
// field names and widths (LONG and DWORD are 32 bits, as on Windows).
// Behaviour follows Windows wherever the caller can observe it; see the
// implementing files in platform/core/ for each call's contract.
//
// Every call stood in for, by DLL:
//   KERNEL32 CreateFileA CreateFileW ReadFile SetFilePointer GetFileSize
//            CloseHandle GetLastError SetLastError GetModuleFileNameA
//            GetModuleFileNameW MultiByteToWideChar WideCharToMultiByte Sleep
//   USER32   MessageBoxA MessageBoxW RegisterClassExA RegisterClassExW
//            CreateWindowExA CreateWindowExW DestroyWindow DefWindowProcA
//            DefWindowProcW PostMessageA PostQuitMessage PeekMessageA
//            PeekMessageW GetMessageA GetMessageW WaitMessage
//            MsgWaitForMultipleObjects TranslateMessage DispatchMessageA
//            DispatchMessageW
//            GetWindowRect GetClientRect SetWindowPos ShowWindow
//            InvalidateRect BeginPaint EndPaint GetDC ReleaseDC FillRect
//            LoadIconA LoadCursorA LoadImageA GetSystemMetrics
//   GDI32    CreatePalette SelectPalette RealizePalette CreateDIBSection
//            CreateCompatibleDC DeleteDC SelectObject DeleteObject BitBlt
//            GetStockObject
//   WINMM    timeGetTime timeBeginPeriod timeEndPeriod waveOutOpen
//            waveOutPrepareHeader waveOutUnprepareHeader waveOutWrite
//            waveOutPause waveOutRestart waveOutReset waveOutGetPosition
//            waveOutClose
//   C runtime _wfopen
// The program itself makes the wide (W) calls for its path, window and
// error box; the A calls serve the tools, the tests and the probes.
//
// Text: WCHAR is a 16-bit UTF-16 code unit, as on Windows (char16_t, not
// Linux's 32-bit wchar_t), so the program's buffers hold the same number of
// units, a path cut short is cut at the same place and surrogate pairs take
// two units as they do there. Narrow text is code page 932 where the call
// says so (the A window and box calls, whose callers write 932 bytes) and
// the system's UTF-8 for file names; the "ANSI" code page CP_ACP is UTF-8.
#ifndef KMOV_PLATFORM_WINDOWS_H
#define KMOV_PLATFORM_WINDOWS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef BOOL *LPBOOL;
typedef UINT MMRESULT;
typedef char16_t WCHAR; // one UTF-16 code unit
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;

#define TRUE 1
#define FALSE 0

typedef void *HANDLE;
typedef void *HGDIOBJ;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HDC__ *HDC;
typedef struct HBITMAP__ *HBITMAP;
typedef struct HPALETTE__ *HPALETTE;
typedef struct HBRUSH__ *HBRUSH;
typedef struct HICON__ *HICON;
typedef HICON HCURSOR;
typedef struct HMENU__ *HMENU;
typedef struct HWAVEOUT__ *HWAVEOUT;
typedef HWAVEOUT *LPHWAVEOUT;

#define MAKEINTRESOURCEA(i) ((LPSTR)(uintptr_t)(WORD)(i))
#define MAKEINTRESOURCEW(i) ((LPWSTR)(uintptr_t)(WORD)(i))
#define IDC_ARROW MAKEINTRESOURCEA(32512)

// ---- KERNEL32 --------------------------------------------------------------

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_READ_FAULT 30
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_NEGATIVE_SEEK 131
#define ERROR_NO_UNICODE_TRANSLATION 1113
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_CANNOT_FIND_WND_CLASS 1407

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD count_read, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD size_high);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError(void);
void SetLastError(DWORD code);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

#define CP_ACP 0
#define CP_UTF8 65001

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int out_length);
int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int length, LPSTR out,
                        int out_length, LPCSTR default_char, LPBOOL used_default);
void Sleep(DWORD milliseconds);

// ---- USER32: windows and messages -------------------------------------------

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;
typedef const RECT *LPCRECT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

typedef struct tagWNDCLASSEXW {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXW;

// What WM_NCCREATE and WM_CREATE carry in lParam.
typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA;

typedef struct tagCREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTW;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_QUERYNEWPALETTE 0x030F
#define WM_PALETTECHANGED 0x0311
#define WM_USER 0x0400

#define MK_LBUTTON 0x0001
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)(((WORD)(lo)) | (((DWORD)(WORD)(hi)) << 16)))

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define CS_DBLCLKS 0x0008

#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_VISIBLE 0x10000000u
#define WS_MINIMIZE 0x20000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define WS_THICKFRAME 0x00040000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_MAXIMIZEBOX 0x00010000u

#define CW_USEDEFAULT ((int)0x80000000)

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004

#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define MB_TASKMODAL 0x00002000u
#define MB_SETFOREGROUND 0x00010000u
#define IDOK 1

#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x0000
#define SM_CXSMICON 49
#define SM_CYSMICON 50

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

WORD RegisterClassExA(const WNDCLASSEXA *window_class);
HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void PostQuitMessage(int exit_code);
BOOL PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
BOOL GetMessageA(LPMSG msg, HWND window, UINT first, UINT last);
BOOL WaitMessage(void);
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define QS_ALLINPUT 0x04FFu
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL wait_all,
                                DWORD milliseconds, DWORD wake_mask);
BOOL TranslateMessage(const MSG *msg);
LRESULT DispatchMessageA(const MSG *msg);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags);
BOOL ShowWindow(HWND window, int command);
BOOL InvalidateRect(HWND window, const RECT *rect, BOOL erase);
HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT *paint);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int FillRect(HDC dc, const RECT *rect, HBRUSH brush);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT load);
int GetSystemMetrics(int index);

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
WORD RegisterClassExW(const WNDCLASSEXW *window_class);
HWND CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last);
LRESULT DispatchMessageW(const MSG *msg);

// ---- GDI32 ------------------------------------------------------------------

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

typedef struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY;

typedef struct tagLOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
} LOGPALETTE;

#define BI_RGB 0
#define DIB_RGB_COLORS 0
#define SRCCOPY 0x00CC0020u
#define BLACK_BRUSH 4
#define GDI_ERROR 0xFFFFFFFFu

HPALETTE CreatePalette(const LOGPALETTE *log_palette);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL force_background);
UINT RealizePalette(HDC dc);
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO *info, UINT usage, void **bits, HANDLE section,
                         DWORD offset);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
BOOL BitBlt(HDC dest, int x, int y, int cx, int cy, HDC src, int x1, int y1, DWORD rop);
HGDIOBJ GetStockObject(int index);

// ---- WINMM ------------------------------------------------------------------

typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX;
typedef const WAVEFORMATEX *LPCWAVEFORMATEX;

typedef struct wavehdr_tag {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    struct wavehdr_tag *lpNext;
    DWORD_PTR reserved;
} WAVEHDR, *LPWAVEHDR;

#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_PCM 1
#define CALLBACK_NULL 0x00000000u

#define WHDR_DONE 0x00000001u
#define WHDR_PREPARED 0x00000002u
#define WHDR_BEGINLOOP 0x00000004u
#define WHDR_ENDLOOP 0x00000008u
#define WHDR_INQUEUE 0x00000010u

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34
#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

#define TIME_MS 0x0001u
#define TIME_SAMPLES 0x0002u
#define TIME_BYTES 0x0004u
typedef struct mmtime_tag {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        struct {
            BYTE hour, min, sec, frame, fps, dummy;
            BYTE pad[2];
        } smpte;
        struct {
            DWORD songptrpos;
        } midi;
    } u;
} MMTIME, *LPMMTIME;

DWORD timeGetTime(void);
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
MMRESULT waveOutOpen(LPHWAVEOUT wave_out, UINT device, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
MMRESULT waveOutPrepareHeader(HWAVEOUT wave_out, LPWAVEHDR header, UINT size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT wave_out, LPWAVEHDR header, UINT size);
MMRESULT waveOutWrite(HWAVEOUT wave_out, LPWAVEHDR header, UINT size);
MMRESULT waveOutPause(HWAVEOUT wave_out);
MMRESULT waveOutRestart(HWAVEOUT wave_out);
MMRESULT waveOutReset(HWAVEOUT wave_out);
MMRESULT waveOutGetPosition(HWAVEOUT wave_out, LPMMTIME time, UINT size);
MMRESULT waveOutClose(HWAVEOUT wave_out);

// ---- C runtime ----------------------------------------------------------------

// Opens a file named by a wide path, as fopen does for a narrow one; `mode`
// as fopen's.
FILE *_wfopen(LPCWSTR name, LPCWSTR mode);

// ---- Entry point ------------------------------------------------------------

// Defined by the program; platform/core/entry.cpp calls it from main().
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show_command);

#endif
