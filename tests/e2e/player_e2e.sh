#!/usr/bin/env bash
# End-to-end test of a self-playing executable on a virtual display: the
# Linux player over SDL, or the Windows player under Wine.
#
# usage: player_e2e.sh --run linux|wine --exe PACKED --frames DIR
#                      [--title TEXT] [--size WxH] [--sound WAV]
#   --frames DIR   the movie's frames as PNG files in frame order (kmov frames)
#   --title TEXT   the window title the executable was packed with (UTF-8)
#   --size WxH     the frame size (default 640x480)
#   --sound WAV    the movie's decoded sound (kmov audio); Linux only: SDL's
#                  disk driver records what is played and it is compared.
# Exit 0: every check passed; 1: a check failed; 77: skipped (tools missing).
#
# Checks, in order: the window appears and has the title; its client area
# is exactly the frame; a shot of the playing movie is one of the movie's
# frames colour for colour; a click pauses (the picture stays while time
# passes) and shows a frame, the next click resumes; closing the window
# ends the process with 0; the sound reached the device (Linux with
# --sound); a copy whose movie has one word changed shows a box titled
# "Error" and ends with 1 once it is dismissed; without a display the Linux
# player reports that it has no window and ends with 1. Prints the time from
# start to the first frame on the screen.
set -uo pipefail
. "$(dirname "$0")/lib.sh"

run="" exe="" frames="" title="" size=640x480 sound=""
while (($#)); do
    case $1 in
    --run) run=$2 ;;
    --exe) exe=$2 ;;
    --frames) frames=$2 ;;
    --title) title=$2 ;;
    --size) size=$2 ;;
    --sound) sound=$2 ;;
    *) e2e_fail "unknown argument $1" ;;
    esac
    shift 2
done
[[ $run == linux || $run == wine ]] || e2e_fail "--run linux|wine"
[[ -f $exe && -d $frames ]] || e2e_fail "--exe and --frames are needed"
width=${size%x*} height=${size#*x}

e2e_init
e2e_start_display
e2e_need_japanese_locale
t=$E2E_TMP
if [[ $run == wine ]]; then
    e2e_wine_prefix
else
    export SDL_VIDEODRIVER=x11 LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    if [[ -n $sound ]]; then
        e2e_sdl_disk_audio "$t/played.raw"
    else
        export SDL_AUDIODRIVER=dummy
    fi
fi

# start_player EXE LOG: starts the executable, its pid in `pid`.
start_player() {
    if [[ $run == wine ]]; then
        e2e_start pid "$2" -- wine "$1"
    else
        e2e_start pid "$2" -- "$1"
    fi
}

# shot_is_a_frame: a shot of the window is one of the movie's frames, colour
# for colour; prints its index (from 0). Frames are known by the MD5 of
# their raw RGB, so a check takes a few milliseconds beyond the shot.
shot_is_a_frame() {
    e2e_shot "$win" "$t/shot" || return 1
    local sum
    sum=$(md5sum <"$t/shot.rgb" | cut -d' ' -f1)
    awk -v s="$sum" '$1 == s { print $2; found = 1; exit } END { exit !found }' "$t/frames.md5"
}
# Says how near the nearest frame came, for a failure report.
explain_shot() {
    python3 "$E2E_DIR/frame_index.py" "$t/shot.rgb" "$frames" "$width" "$height" 2>&1 | tail -n 1
}
changed_from() { e2e_shot "$win" "$t/now" && ! e2e_same_picture "$1" "$t/now"; }
# Copy the frames to a place where their raw forms are made once, before
# the clock starts.
cp -r "$frames" "$t/frames" && frames=$t/frames
for png in "$frames"/*.png; do
    convert "$png" -depth 8 "rgb:${png%.png}.rgb" || e2e_fail "cannot read $png"
done
last_frame=$(($(ls "$frames"/*.png | wc -l) - 1))
index=0
for rgb in "$frames"/*.rgb; do
    echo "$(md5sum <"$rgb" | cut -d' ' -f1) $index"
    index=$((index + 1))
done >"$t/frames.md5"

# ---- The window and the picture -------------------------------------------------------

start_ns=$(date +%s%N)
start_player "$exe" "$t/player.log"
e2e_wait 30 e2e_window_of_pid "$pid" || e2e_fail "no window within 30 s: $(cat "$t/player.log.err")"
win=$E2E_OUT
e2e_log "start to window: $((($(date +%s%N) - start_ns) / 1000000)) ms"
e2e_wait 20 shot_is_a_frame || e2e_fail "no frame of the movie on the screen: $(explain_shot)"
first_ms=$((($(date +%s%N) - start_ns) / 1000000))
e2e_log "start to first frame: $first_ms ms"

read -r _ _ w h < <(e2e_geometry "$win")
[[ "${w}x$h" == "$size" ]] || e2e_fail "client area ${w}x$h, not $size"
if [[ -n $title ]]; then
    got=$(e2e_title "$win")
    [[ $got == "$title" ]] || e2e_fail "title '$got', not '$title'"
fi
# What the window manager lets the user do: minimize, but not maximize.
actions=$(xprop -id "$win" _NET_WM_ALLOWED_ACTIONS)
[[ $actions == *_NET_WM_ACTION_MINIMIZE* ]] || e2e_fail "the window cannot be minimized: $actions"
[[ $actions != *MAXIMIZE* ]] || e2e_fail "the window can be maximized: $actions"

e2e_wait 10 shot_is_a_frame || e2e_fail "a shot of the playing movie is none of its frames: $(explain_shot)"
e2e_log "playing: frame $E2E_OUT on the screen"
if [[ $E2E_OUT == "$last_frame" ]]; then
    # Already at its end (a slow start): a click replays it from the start.
    e2e_log "the movie has ended already; a click replays it"
    e2e_click "$win" $((width / 2)) $((height / 2))
    before_end() {
        local index
        index=$(shot_is_a_frame) && ((index < last_frame))
    }
    e2e_wait 10 before_end || e2e_fail "a click after the end did not replay the movie"
fi

# ---- Pause and resume ----------------------------------------------------------------------

stable() {
    e2e_shot "$win" "$t/p1" && e2e_shot "$win" "$t/p2" && e2e_same_picture "$t/p1" "$t/p2" &&
        cp "$t/p1.rgb" "$t/paused.rgb" && cp "$t/p1.png" "$t/paused.png"
}
e2e_click "$win" $((width / 2)) $((height / 2))
e2e_wait 5 stable || e2e_fail "the picture did not stop after a click"
if e2e_wait 1 changed_from "$t/paused"; then
    e2e_fail "the picture changed while paused"
fi
cp "$t/paused.rgb" "$t/shot.rgb"
paused_at=$(awk -v s="$(md5sum <"$t/paused.rgb" | cut -d' ' -f1)" '$1 == s { print $2 }' "$t/frames.md5")
[[ -n $paused_at ]] || e2e_fail "the paused picture is none of the movie's frames: $(explain_shot)"
e2e_log "paused at frame $paused_at"
e2e_click "$win" $((width / 2)) $((height / 2))
e2e_wait 5 changed_from "$t/paused" || e2e_fail "the picture did not move on after the second click"

# ---- Closing ------------------------------------------------------------------------------------

# With sound to check, let the movie play to its end first: the last frame
# stays on the screen and the device has played every sample.
at_last_frame() {
    local index
    index=$(shot_is_a_frame) && [[ $index == "$last_frame" ]]
}
if [[ -n $sound ]]; then
    e2e_wait 30 at_last_frame || e2e_fail "the movie did not reach its last frame"
    if [[ $run == linux ]]; then
        e2e_wait 10 e2e_sound_reached "$t/played.raw" "$sound" ||
            e2e_fail "the movie's sound did not reach the device: $E2E_OUT"
    fi
fi

e2e_close "$win"
e2e_wait_exit "$pid" 15 || e2e_fail "still running 15 s after the close button"
[[ $E2E_CODE == 0 ]] || e2e_fail "exit code $E2E_CODE after closing, not 0"


# ---- A changed word in the movie -------------------------------------------------------------

# The movie ends the file and its length is a multiple of 4, so the word
# 8 bytes before the end is a whole word of it.
cp "$exe" "$t/broken" && chmod +x "$t/broken"
size_bytes=$(stat -c %s "$t/broken")
printf '\x5a' | dd of="$t/broken" bs=1 seek=$((size_bytes - 8)) conv=notrunc status=none
cmp -s "$exe" "$t/broken" && printf '\xa5' | dd of="$t/broken" bs=1 seek=$((size_bytes - 8)) conv=notrunc status=none
broken=$t/broken
if [[ $run == wine ]]; then
    mv "$t/broken" "$t/broken.exe" && broken=$t/broken.exe
fi
start_player "$broken" "$t/broken.log"
e2e_wait 30 e2e_window_named Error || e2e_fail "no box titled Error: $(cat "$t/broken.log.err")"
box=$E2E_OUT
e2e_shot "$box" "$t/error-box"
if [[ $run == linux ]]; then
    grep -q 'ﾃﾞｰﾀが正しくありません' "$t/broken.log.err" || e2e_fail "the box does not say the data is wrong"
fi
e2e_press_return "$box"
e2e_wait_exit "$pid" 15 || e2e_fail "the box did not go with Return"
[[ $E2E_CODE == 1 ]] || e2e_fail "exit code $E2E_CODE after the box, not 1"

# ---- No display (Linux) --------------------------------------------------------------------

# SDL would quietly draw into nothing; the player reports its window instead.
if [[ $run == linux ]]; then
    e2e_start pid "$t/nodisplay.log" -- env -u DISPLAY -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY "$exe"
    e2e_wait_exit "$pid" 20 || e2e_fail "hangs without a display"
    [[ $E2E_CODE == 1 ]] || e2e_fail "exit code $E2E_CODE without a display, not 1"
    grep -q 'ﾘｿｰｽが足りません (CreateWindow' "$t/nodisplay.log.err" ||
        e2e_fail "without a display: $(cat "$t/nodisplay.log.err")"
fi

e2e_log "$run player: all checks passed (start to first frame $first_ms ms)"
