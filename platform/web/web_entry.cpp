// The program entry in a browser page: the page's script has written the
// movie it carries into the in-memory file system as the program's own file
// and the startup block into the program's data (web_page.js), before
// main. main() then hands over to the player's WinMain as the Windows loader
// would, and ends the program with its result, so the page learns the exit
// code even after the player has waited on the browser.
#include "web.h"

#include "../core/core.h"

#include <stdlib.h>
#include <windows.h>

int main(int argc, char **argv) {
    (void)argc;
    (void)argv;
    platform_set_module_path(WEB_PROGRAM_PATH);
    static char command_line[] = "";
    exit(WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, command_line, SW_SHOWDEFAULT));
}
