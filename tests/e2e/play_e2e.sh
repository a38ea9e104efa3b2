#!/usr/bin/env bash
# kmov play: a movie in the Linux player's window, twice as large with
# --scale 2 (each pixel a 2 x 2 block: a shot is a frame of the movie scaled
# so), a click pauses it, closing ends kmov with 0 and leaves no temporary
# program; without a display, a clear error and exit 1.
#
# usage: play_e2e.sh KMOV    (exit 77: skipped)
set -uo pipefail
. "$(dirname "$0")/lib.sh"

kmov=${1:?usage: $0 KMOV}
e2e_need ffmpeg
e2e_init
t=$E2E_TMP

ffmpeg -loglevel error -f lavfi -i testsrc2=size=160x120:rate=10 -t 3 "$t/clip.mp4" ||
    e2e_fail "ffmpeg cannot make the clip"
"$kmov" encode "$t/clip.mp4" -o "$t/clip.kmov" >/dev/null || e2e_fail "kmov encode failed"
mkdir "$t/frames" && "$kmov" frames "$t/clip.kmov" --png "$t/frames" || e2e_fail "kmov frames"
for png in "$t"/frames/*.png; do
    convert "$png" -scale 200% -depth 8 rgb:- | md5sum | cut -d' ' -f1
done >"$t/frames.md5"

env -u DISPLAY -u WAYLAND_DISPLAY "$kmov" play "$t/clip.kmov" 2>"$t/nodisplay.err"
code=$?
((code == 1)) || e2e_fail "without a display: exit code $code"
grep -q "no display" "$t/nodisplay.err" || e2e_fail "without a display: $(cat "$t/nodisplay.err")"

e2e_start_display
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
mkdir "$t/tmp"
e2e_start pid "$t/play.log" -- env TMPDIR="$t/tmp" "$kmov" play "$t/clip.kmov" --scale 2
e2e_wait 30 e2e_window_named clip || e2e_fail "no window named clip: $(cat "$t/play.log.err")"
win=$E2E_OUT
read -r x y w h < <(e2e_geometry "$win")
[[ "$w $h" == "320 240" ]] || e2e_fail "the window is ${w}x$h, not 320x240"
is_a_frame() {
    e2e_shot "$win" "$t/shot" && grep -qx "$(md5sum <"$t/shot.rgb" | cut -d' ' -f1)" "$t/frames.md5"
}
e2e_wait 10 is_a_frame || e2e_fail "the window shows no frame of the movie scaled 2x"
# A click pauses: the picture stays.
e2e_click "$win" 100 100
paused_still() {
    e2e_shot "$win" "$t/a" && sleep 0.5 && e2e_shot "$win" "$t/b" && e2e_same_picture "$t/a" "$t/b"
}
e2e_wait 10 paused_still || e2e_fail "the picture changes after a click"
e2e_close "$win"
e2e_wait_exit "$pid" 20 || e2e_fail "kmov play still runs after closing"
[[ $E2E_CODE == 0 ]] || e2e_fail "kmov play exited with $E2E_CODE"
[[ -z $(ls -A "$t/tmp") ]] || e2e_fail "left behind: $(ls "$t/tmp")"
e2e_log "PASS"
