#!/usr/bin/env bash
# A narrated clip through a real sound server: speech (espeak-ng) over a pan
# across a picture, 640x480, 12 s, made into a self-playing program with
# kmov make and played through a private PulseAudio server's null sink,
# whose monitor is recorded (parec). Once on a quiet machine and once with
# two processes keeping both cores busy.
#
# The sound server starts a stream a second or more after it is asked to,
# which is what the player must survive: every voiced 100 ms chunk of the
# movie's sound (kmov audio) must be found in the recording, all at one lag
# (sound_lags.py). Prints the lag spread, the time from start to the first
# sound, and how far the pictures were ahead of the sound the device had
# played at the first and at the last present (KMOV_PRESENT_LOG).
#
# usage: narration_e2e.sh linux|wine KMOV PLAYER_TEMPLATE   (exit 77: skipped)
#   linux: the Linux player with SDL's PulseAudio output
#   wine:  the Windows player under Wine through winepulse
#
# Where the sound server cannot keep up itself, the check is only that no
# sound is missing or dropped (sound_lags.py --no-drop), and silence the
# server inserts is reported:
# - when the server could not take real-time priority (a container without
#   CAP_SYS_NICE; a desktop's server has it through rtkit), so that its own
#   threads and the player's are held off among everything else;
# - when the host held the whole machine off for more than 40 ms during the
#   run (steal time: a virtual machine on a busy host);
# - under Wine with the two busy processes, since the player's second of
#   queued sound reaches the server through Wine's own wave output, which
#   keeps only 100 ms in the server's stream.
# KMOV_NARRATION_STRICT=1 checks every run in full.
set -uo pipefail
. "$(dirname "$0")/lib.sh"

run=${1:?usage: $0 linux|wine KMOV PLAYER_TEMPLATE}
kmov=$(realpath "${2:?}")
template=${3:?}
[[ -f $template ]] || e2e_skip "$template is not built"
e2e_need espeak-ng ffmpeg pulseaudio pactl parec python3
# A Python with NumPy (Debian's python3-numpy, also when another python3
# comes first on PATH).
py=""
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import numpy' 2>/dev/null; then
        py=$candidate
        break
    fi
done
[[ -n $py ]] || e2e_skip "python3-numpy is not installed"
[[ $run == wine ]] && e2e_need wine
e2e_init
t=$E2E_TMP
rate=22050
fps=15

# ---- The clip ----------------------------------------------------------------------------
espeak-ng -s 140 -w "$t/speech.wav" "The path climbs slowly along the river. \
Morning light falls on the stones, and the water is cold and clear. \
A heron waits at the edge of the reeds. Further up, the valley opens, \
and the first houses of the village appear between the trees." ||
    e2e_fail "espeak-ng failed"
# The "photograph": a detailed still twice the frame's size, panned across.
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=1280x960:rate=1:end_pts=1" -frames:v 1 \
    "$t/photo.png" || e2e_fail "ffmpeg could not draw the picture"
ffmpeg -v error -y -loop 1 -framerate $fps -i "$t/photo.png" -i "$t/speech.wav" \
    -filter_complex "[0:v]crop=640:480:x='t*50':y='t*35'[v];[1:a]apad[a]" -map "[v]" -map "[a]" \
    -t 12 -r $fps -c:v mpeg4 -q:v 2 -c:a pcm_s16le "$t/clip.mkv" || e2e_fail "ffmpeg could not make the clip"
exe=$t/narration
[[ $run == wine ]] && exe=$t/narration.exe
"$kmov" make "$t/clip.mkv" -o "$exe" --player "$template" --fps $fps --rate $rate --quiet ||
    e2e_fail "kmov make failed"
"$kmov" audio "$exe" --raw "$t/expected.raw" || e2e_fail "kmov audio failed"

# ---- Display, sound server, Wine -------------------------------------------------------------
e2e_start_display
if [[ $run == wine ]]; then
    e2e_wine_prefix
    export WINEDLLOVERRIDES="mscoree,mshtml=" # winepulse.drv stays on
fi
e2e_start_pulse

frames=$("$kmov" info "$exe" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["frame_count"])')
lines_in() { [[ -f $1 ]] && (($(wc -l <"$1") >= $2)); }
file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }
nonempty() { (($(file_size "$1") > 0)); }
# Time the host took the machine's processors for something else (steal, in
# /proc/stat), in milliseconds per processor. While the whole machine is held
# off, the sound server's clock runs on and it inserts silence whatever any
# program in the machine does.
steal_ms() { awk -v n="$(nproc)" '/^cpu / { print int($9 * 10 / n) }' /proc/stat; }
MAX_STEAL_MS=40

# play NAME [no-drop]: one playing, recorded; checks and prints the figures.
# With "no-drop", silence the server inserts is only reported, and the run
# fails only when sound is missing or dropped.
play() {
    local name=$1 rec=$t/$1.raw log=$t/$1.log pid recorder launch mode=() steal
    [[ ${2:-} == no-drop ]] && mode=(--no-drop)
    steal=$(steal_ms)
    e2e_record_pulse recorder "$rec" $rate
    e2e_wait 10 nonempty "$rec" || e2e_fail "$name: parec records nothing"
    launch=$(($(file_size "$rec") / 2))
    if [[ $run == linux ]]; then
        KMOV_PRESENT_LOG=$log SDL_AUDIODRIVER=pulseaudio e2e_start pid "$t/$name.out" -- "$exe"
    else
        KMOV_PRESENT_LOG="Z:$log" e2e_start pid "$t/$name.out" -- wine "$exe"
    fi
    e2e_wait 60 lines_in "$log" "$frames" || e2e_fail "$name: not every frame was shown"
    # What the device still holds plays out; then the window is closed.
    local until=$(($(file_size "$rec") + rate * 2 * 2))
    e2e_wait 10 test "$(file_size "$rec")" -ge "$until"
    e2e_wait 10 e2e_window_of_pid "$pid" && e2e_close "$E2E_OUT"
    e2e_wait_exit "$pid" 15 || kill "$pid"
    kill "$recorder"
    e2e_wait_exit "$recorder" 5
    steal=$(($(steal_ms) - steal))
    if ((steal > MAX_STEAL_MS)) && ((!${#mode[@]})); then
        e2e_log "$run $name: the machine was held off by its host for $steal ms: silence the server inserts is only reported"
        mode=(--no-drop)
    fi
    [[ ${KMOV_NARRATION_STRICT:-0} == 1 ]] && mode=()
    local figures
    figures=$("$py" "$E2E_DIR/sound_lags.py" "${mode[@]}" "$t/expected.raw" "$rec" $rate \
        "$launch" "$log" $fps)
    local status=$?
    echo "narration $run $name${mode:+ (${mode[*]})}: $figures steal_ms=$steal"
    if ((status != 0)) && ((${#mode[@]})); then
        e2e_fail "$run $name: sound was missing or dropped"
    elif ((status != 0)); then
        e2e_fail "$run $name: the sound did not reach the server whole and in step"
    fi
}

quiet=() busy=()
if ! e2e_pulse_realtime; then
    e2e_log "the sound server runs without real-time priority: silence it inserts is only reported"
    quiet=(no-drop) busy=(no-drop)
elif [[ $run == wine ]]; then
    busy=(no-drop)
fi
play quiet "${quiet[@]}"
hog1='' hog2=''
e2e_start hog1 /dev/null -- sh -c 'while :; do :; done'
e2e_start hog2 /dev/null -- sh -c 'while :; do :; done'
play busy "${busy[@]}"
kill "$hog1" "$hog2"
