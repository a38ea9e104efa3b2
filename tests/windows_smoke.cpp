// Opens a movie through the player's reader on the real Win32 API and
// prints its header: a check that the Windows build links and reads files.
#include "player/movie_format.h"

#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: windows_smoke MOVIE\n");
        return 2;
    }
    ByteSource *source = source_open(argv[1]);
    if (source == NULL)
        return 1;
    MovieHeader header;
    int ok = movie_read_header(source, &header);
    printf("magic %s, %d x %d, %d frames\n", ok ? "ok" : "wrong", header.width, header.height,
           header.frame_count);
    source_close(source);
    return ok ? 0 : 1;
}
