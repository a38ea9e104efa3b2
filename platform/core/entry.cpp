// The program entry for builds without Windows: main() hands over to the
// player's WinMain as the Windows loader would, with the default show
// command. Linked into the player executable only.
#include <windows.h>

int main(int argc, char **argv) {
    (void)argc;
    (void)argv;
    static char command_line[] = "";
    return WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, command_line, SW_SHOWDEFAULT);
}
