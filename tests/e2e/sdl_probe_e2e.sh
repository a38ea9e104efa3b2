#!/usr/bin/env bash
# End-to-end test of the SDL backend with sdl_probe on a virtual display:
# the client area's size and title, the picture on the screen colour by
# colour, a click pausing and the next resuming, a double click as two
# presses, the close button ending the program with 0, the tone reaching
# the (disk) sound device, the Japanese error box, and a missing display
# reported instead of a hang.
#
# usage: sdl_probe_e2e.sh PATH/TO/sdl_probe     (exit 77: skipped)
set -uo pipefail
. "$(dirname "$0")/lib.sh"

probe=${1:?usage: $0 PATH/TO/sdl_probe}
e2e_init
e2e_start_display
export SDL_VIDEODRIVER=x11
t=$E2E_TMP

# ---- A window with a moving picture and a tone --------------------------------------

e2e_sdl_disk_audio "$t/played.raw"
e2e_start pid "$t/probe.log" -- "$probe" --frames 100000 --tone-ms 1500 \
    --dump "$t/expected.rgb" --tone-out "$t/tone.raw"
e2e_wait 10 e2e_window_of_pid "$pid" || e2e_fail "no window within 10 s: $(cat "$t/probe.log.err")"
win=$E2E_OUT

read -r _ _ w h < <(e2e_geometry "$win")
[[ "$w x $h" == "320 x 240" ]] || e2e_fail "client area is $w x $h, not 320 x 240"
title=$(e2e_title "$win")
[[ $title == "kmov プローブ" ]] || e2e_fail "title is '$title'"

# The picture moves.
e2e_shot "$win" "$t/a" || e2e_fail "no screenshot"
changed_from() { e2e_shot "$win" "$t/now" && ! e2e_same_picture "$1" "$t/now"; }
e2e_wait 5 changed_from "$t/a" || e2e_fail "the picture does not move"

# A click pauses: the picture then stays as drawn last, colour for colour.
clicks() { grep -c '^click' "$t/probe.log"; }
clicks_are() { [[ $(clicks) -eq $1 ]]; }
e2e_click "$win" 100 100
e2e_wait 5 clicks_are 1 || e2e_fail "the click did not arrive"
e2e_shot "$win" "$t/paused"
if ! cmp -s "$t/paused.rgb" "$t/expected.rgb"; then
    e2e_fail "the screen differs from the picture drawn (see $t/paused.png)"
fi
if e2e_wait 1 changed_from "$t/paused"; then
    e2e_fail "the picture changed while paused"
fi

# The next click resumes; a double click is two presses (pause, resume).
e2e_click "$win" 100 100
e2e_wait 5 clicks_are 2 || e2e_fail "the second click did not arrive"
e2e_wait 5 changed_from "$t/paused" || e2e_fail "the picture did not move again after the click"
e2e_double_click "$win" 50 50
e2e_wait 5 clicks_are 4 || e2e_fail "a double click gave $(clicks) presses in all, not 4"

# Paint after an expose: unmapping and mapping the window asks for WM_PAINT.
paints() { grep -c '^paint' "$t/probe.log"; }
before=$(paints)
xdotool windowunmap --sync "$win" && xdotool windowmap --sync "$win"
more_paints() { [[ $(paints) -gt $before ]]; }
e2e_wait 5 more_paints || e2e_fail "no WM_PAINT after the window was exposed again"

# All tone buffers are played and marked done.
e2e_wait 10 grep -q '^audio done 8' "$t/probe.log" || e2e_fail "the tone's buffers were not all done"

# The close button ends the program with 0.
e2e_close "$win"
e2e_wait_exit "$pid" 10 || e2e_fail "still running 10 s after WM_DELETE_WINDOW"
[[ $E2E_CODE == 0 ]] || e2e_fail "exit code $E2E_CODE after closing"
grep -q '^close' "$t/probe.log" || e2e_fail "no WM_CLOSE"
e2e_sound_reached "$t/played.raw" "$t/tone.raw" || e2e_fail "the tone did not reach the device"

# ---- The error box ----------------------------------------------------------------------

e2e_need_japanese_locale
e2e_start pid "$t/box.log" -- env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$probe" --box
e2e_wait 10 e2e_window_named Error || e2e_fail "no box titled Error: $(cat "$t/box.log.err")"
box=$E2E_OUT
e2e_shot "$box" "$t/box"
grep -q 'ﾃﾞｰﾀが正しくありません' "$t/box.log.err" || e2e_fail "the box's text is not as written"
e2e_press_return "$box"
e2e_wait_exit "$pid" 10 || e2e_fail "the box did not go with Return"
[[ $E2E_CODE == 1 ]] || e2e_fail "exit code $E2E_CODE after the box, not 1"

# ---- No display -------------------------------------------------------------------------

e2e_start pid "$t/nodisplay.log" -- env -u DISPLAY -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY \
    "$probe" --frames 1 --tone-ms 0
e2e_wait_exit "$pid" 20 || e2e_fail "hangs without a display"
[[ $E2E_CODE == 1 ]] || e2e_fail "exit code $E2E_CODE without a display, not 1"
grep -q 'CreateWindowExA 8' "$t/nodisplay.log.err" || e2e_fail "window creation did not fail: $(cat "$t/nodisplay.log.err")"

e2e_log "sdl_probe: all checks passed"
