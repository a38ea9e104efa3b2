// What the web backend's files share with each other and with the page's
// script (web_page.js), which uses the same numbers.
#ifndef KMOV_PLATFORM_WEB_H
#define KMOV_PLATFORM_WEB_H

// The kinds of page events waiting for backend_poll_events.
enum {
    WEB_EVENT_LBUTTONDOWN = 1, // a left press on the canvas (client coordinates)
    WEB_EVENT_LBUTTONUP = 2,
    WEB_EVENT_CLOSE = 3, // the page is being left
};

// Where the page puts the program's own file (the movie it carries), which
// GetModuleFileNameA names.
#define WEB_PROGRAM_PATH "/kmovsp"

#endif
