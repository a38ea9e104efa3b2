// sdl_probe: a small program over platform/ and the SDL backend, for trying
// the real screen and sound without the player. It registers a class,
// creates a captioned window through the Win32 calls, sizes it so that the
// client area is WIDTH x HEIGHT, shows it and animates a test picture
// through the backend's blit; it plays a tone through the backend's wave
// output. It prints one line per event on stdout for scripts to wait on:
//   window WIDTH HEIGHT     the window is shown
//   frame N                 frame N has been drawn
//   click X Y               a left press (picture and tone pause or resume)
//   paint                   a WM_PAINT was served
//   audio open|none         the wave output opened, or there is no device
//   audio done N            N tone buffers are marked done
//   close                   WM_CLOSE arrived; the program then ends with 0
//
// Options: --frames N (stop animating after N frames, default 60),
// --box (show an error box with a Japanese text, then end with 1),
// --tone-ms N (length of the tone, default 1000; 0 for none),
// --dump FILE (after each frame, the picture as raw 8-bit RGB, as it
// should look on the screen), --tone-out FILE (the tone as raw samples).
#include "../../platform/core/backend.h"
#include "../../platform/core/core.h"

#include <windows.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

constexpr int WIDTH = 320;
constexpr int HEIGHT = 240;
constexpr int FRAME_MS = 66;
constexpr uint32_t RATE = 22050;
constexpr int TONE_BUFFERS = 8;

HWND probe_window;
int paused = 0;
const char *dump_path = nullptr;
const char *tone_path = nullptr;
std::vector<uint8_t> picture(static_cast<size_t>(WIDTH) * HEIGHT);
RGBQUAD colours[256];

// Colour bars of the palette's first 240 entries above, a moving square
// below: index i is (i % 16, i / 16) on a grid of hues and levels.
void make_palette(void) {
    for (int i = 0; i < 240; i++) {
        double hue = (i % 16) / 16.0 * 6.283185307;
        double level = 0.25 + 0.75 * (i / 16) / 14.0;
        colours[i].rgbRed = static_cast<BYTE>(level * (127.5 + 127.5 * cos(hue)));
        colours[i].rgbGreen = static_cast<BYTE>(level * (127.5 + 127.5 * cos(hue - 2.094)));
        colours[i].rgbBlue = static_cast<BYTE>(level * (127.5 + 127.5 * cos(hue + 2.094)));
    }
    colours[0] = RGBQUAD{0, 0, 0, 0};
    colours[239] = RGBQUAD{255, 255, 255, 0};
}

// Writes a file whole (through a temporary name, so a reader never sees
// half of it).
void write_file(const char *path, const void *bytes, size_t size) {
    char temporary[4096];
    snprintf(temporary, sizeof temporary, "%s.part", path);
    FILE *out = fopen(temporary, "wb");
    if (out == nullptr)
        return;
    fwrite(bytes, 1, size, out);
    fclose(out);
    rename(temporary, path);
}

void draw_frame(int n) {
    for (int y = 0; y < HEIGHT; y++)
        for (int x = 0; x < WIDTH; x++)
            picture[static_cast<size_t>(y) * WIDTH + x] =
                y < HEIGHT / 2
                    ? static_cast<uint8_t>((x * 16 / WIDTH) + 16 * (y * 15 / (HEIGHT / 2)))
                    : 0;
    int left = (n * 4) % (WIDTH - 40);
    for (int y = HEIGHT / 2 + 20; y < HEIGHT / 2 + 60; y++)
        for (int x = left; x < left + 40; x++)
            picture[static_cast<size_t>(y) * WIDTH + x] = 239;
    backend_blit(probe_window, 0, 0, WIDTH, HEIGHT, picture.data(), WIDTH, colours);
    if (dump_path != nullptr) {
        std::vector<uint8_t> rgb;
        for (uint8_t index : picture) {
            rgb.push_back(colours[index].rgbRed);
            rgb.push_back(colours[index].rgbGreen);
            rgb.push_back(colours[index].rgbBlue);
        }
        write_file(dump_path, rgb.data(), rgb.size());
    }
}

struct Tone {
    std::vector<std::vector<int16_t>> samples;
    WAVEHDR headers[TONE_BUFFERS];
    int open = 0;
    int reported = 0;
};
Tone tone;

LRESULT CALLBACK probe_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        backend_blit(window, 0, 0, WIDTH, HEIGHT, picture.data(), WIDTH, colours);
        EndPaint(window, &paint);
        printf("paint\n");
        fflush(stdout);
        return 0;
    }
    case WM_LBUTTONDOWN:
        paused = !paused;
        if (tone.open) {
            if (paused)
                backend_audio_pause();
            else
                backend_audio_restart();
        }
        printf("click %d %d\n", static_cast<int>(lparam & 0xFFFF),
               static_cast<int>((lparam >> 16) & 0xFFFF));
        fflush(stdout);
        return 0;
    case WM_CLOSE:
        printf("close\n");
        fflush(stdout);
        exit(0);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

void start_tone(int ms) {
    if (ms <= 0)
        return;
    if (!backend_audio_open(RATE)) {
        printf("audio none\n");
        fflush(stdout);
        return;
    }
    tone.open = 1;
    printf("audio open\n");
    fflush(stdout);
    size_t total = static_cast<size_t>(RATE) * static_cast<size_t>(ms) / 1000;
    size_t per_buffer = (total + TONE_BUFFERS - 1) / TONE_BUFFERS;
    tone.samples.resize(TONE_BUFFERS);
    for (int b = 0; b < TONE_BUFFERS; b++) {
        tone.samples[b].resize(per_buffer);
        for (size_t i = 0; i < per_buffer; i++) {
            size_t t = b * per_buffer + i;
            tone.samples[b][i] = static_cast<int16_t>(8000.0 * sin(6.283185307 * 440.0 * t / RATE));
        }
        if (tone_path != nullptr) {
            FILE *out = fopen(tone_path, b == 0 ? "wb" : "ab");
            if (out != nullptr) {
                fwrite(tone.samples[b].data(), 2, per_buffer, out);
                fclose(out);
            }
        }
        WAVEHDR &h = tone.headers[b];
        memset(&h, 0, sizeof h);
        h.lpData = reinterpret_cast<LPSTR>(tone.samples[b].data());
        h.dwBufferLength = static_cast<DWORD>(per_buffer * 2);
        h.dwFlags = WHDR_PREPARED | WHDR_INQUEUE;
        backend_audio_write(&h);
    }
}

void report_tone(void) {
    if (!tone.open)
        return;
    int done = 0;
    for (const WAVEHDR &h : tone.headers)
        if (__atomic_load_n(&h.dwFlags, __ATOMIC_ACQUIRE) & WHDR_DONE)
            done++;
    if (done != tone.reported) {
        tone.reported = done;
        printf("audio done %d\n", done);
        fflush(stdout);
    }
}

} // namespace

int main(int argc, char **argv) {
    int frames = 60;
    int box = 0;
    int tone_ms = 1000;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--frames") == 0 && i + 1 < argc)
            frames = atoi(argv[++i]);
        else if (strcmp(argv[i], "--tone-ms") == 0 && i + 1 < argc)
            tone_ms = atoi(argv[++i]);
        else if (strcmp(argv[i], "--dump") == 0 && i + 1 < argc)
            dump_path = argv[++i];
        else if (strcmp(argv[i], "--tone-out") == 0 && i + 1 < argc)
            tone_path = argv[++i];
        else if (strcmp(argv[i], "--box") == 0)
            box = 1;
        else {
            fprintf(stderr, "usage: sdl_probe [--frames N] [--tone-ms N] [--dump FILE] [--tone-out "
                            "FILE] [--box]\n");
            return 2;
        }
    }
    if (box) {
        MessageBoxA(nullptr, "ﾃﾞｰﾀが正しくありません", "Error",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL);
        return 1;
    }
    make_palette();
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = probe_proc;
    window_class.lpszClassName = "kMovProbe";
    if (RegisterClassExA(&window_class) == 0) {
        fprintf(stderr, "RegisterClassExA %u\n", GetLastError());
        return 1;
    }
    probe_window =
        CreateWindowExA(0, "kMovProbe", "kmov プローブ", WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                        CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr, nullptr, nullptr);
    if (probe_window == nullptr) {
        fprintf(stderr, "CreateWindowExA %u\n", GetLastError());
        return 1;
    }
    RECT outer, client;
    GetWindowRect(probe_window, &outer);
    GetClientRect(probe_window, &client);
    SetWindowPos(probe_window, nullptr, 0, 0, WIDTH + (outer.right - outer.left) - client.right,
                 HEIGHT + (outer.bottom - outer.top) - client.bottom, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(probe_window, SW_SHOWDEFAULT);
    GetClientRect(probe_window, &client);
    printf("window %d %d\n", client.right, client.bottom);
    fflush(stdout);
    start_tone(tone_ms);

    int drawn = 0;
    uint32_t next = backend_time_ms();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        report_tone();
        if (paused || drawn >= frames) {
            if (tone.open && tone.reported < TONE_BUFFERS) {
                backend_sleep(5);
                continue;
            }
            WaitMessage();
            continue;
        }
        uint32_t now = backend_time_ms();
        if (static_cast<int32_t>(now - next) < 0) {
            backend_sleep(static_cast<uint32_t>(next - now) < 5 ? next - now : 5);
            continue;
        }
        draw_frame(drawn);
        printf("frame %d\n", drawn);
        fflush(stdout);
        drawn++;
        next += FRAME_MS;
    }
}
