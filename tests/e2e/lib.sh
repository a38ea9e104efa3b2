# Shell helpers for the end-to-end tests: a virtual X display with a small
# window manager, windows found and looked at, clicks and closing, Wine
# prefixes, and bounded waiting. Source it from bash:
#
#   . tests/e2e/lib.sh
#   e2e_init                 # a scratch folder; everything started is ended at exit
#   e2e_start_display        # Xvfb (24-bit) + openbox; exports DISPLAY
#   e2e_start PID_VAR LOG -- program args...   # starts a program, its pid in PID_VAR
#   e2e_wait 10 e2e_window_of_pid "$pid"       # waits on a condition, at most 10 s
#
# Every wait is on a condition with a time limit; nothing sleeps for a fixed
# time to let something happen. A helper that fails prints why on stderr
# and returns non-zero; e2e_fail ends the test with exit code 1.
#
# Needs: Xvfb, openbox, xdotool, xwininfo (x11-utils), ImageMagick
# (import, convert), python3; Wine for the Windows player.

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_PIDS=()     # what e2e_start and e2e_start_display started, ended at exit
E2E_TMP=""      # the test's scratch folder
E2E_SKIP=77     # the exit code CTest counts as skipped
E2E_PULSE_PID="" # the sound server e2e_start_pulse started

e2e_log() { echo "e2e: $*" >&2; }
e2e_fail() {
    e2e_log "FAIL: $*"
    exit 1
}
e2e_skip() {
    e2e_log "SKIP: $*"
    exit "$E2E_SKIP"
}

# Ends what the test started, by process id, newest first. The scratch
# folder goes too, unless the test failed or E2E_KEEP is set.
e2e_cleanup() {
    local status=$? i pid
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${E2E_PIDS[i]}
        kill "$pid" 2>/dev/null
        e2e_wait 5 e2e_gone "$pid" || kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [[ -n ${WINEPREFIX:-} && -d $WINEPREFIX && $WINEPREFIX == "$E2E_TMP"/* ]]; then
        WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
    fi
    if [[ -n $E2E_TMP && -z ${E2E_KEEP:-} && ($status == 0 || $status == "$E2E_SKIP") ]]; then
        rm -rf "$E2E_TMP"
    elif [[ -n $E2E_TMP ]]; then
        e2e_log "kept $E2E_TMP"
    fi
}

# A scratch folder in E2E_TMP, removed at exit (kept with E2E_KEEP=1).
e2e_init() {
    E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/kmov-e2e.XXXXXX")
    trap e2e_cleanup EXIT
}

# e2e_need TOOL...: skips the test when a tool is missing.
e2e_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || e2e_skip "$tool is not installed"
    done
}

# e2e_wait SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds;
# returns 1 when it has not within SECONDS. COMMAND's output is kept in
# E2E_OUT (stdout of the last run).
e2e_wait() {
    local limit_ns=$(($1 * 1000000000))
    shift
    local start_ns
    start_ns=$(date +%s%N)
    while :; do
        if E2E_OUT=$("$@" 2>/dev/null); then
            return 0
        fi
        if (($(date +%s%N) - start_ns > limit_ns)); then
            return 1
        fi
        sleep 0.05
    done
}

# e2e_start PID_VAR LOG -- COMMAND...: starts COMMAND in the background with
# stdout and stderr into LOG (stderr also into LOG.err); its pid goes into
# the variable named PID_VAR and is ended at exit if still running.
e2e_start() {
    local var=$1 log=$2
    shift 3
    "$@" >"$log" 2>"$log.err" &
    E2E_PIDS+=("$!")
    printf -v "$var" '%s' "$!"
}

# e2e_wait_exit PID SECONDS: waits for a started process to end and puts its
# exit code into E2E_CODE; returns 1 when it is still running. (Not in a
# subshell: only this shell can collect its children's exit codes.)
e2e_wait_exit() {
    local pid=$1 limit=$2
    E2E_CODE=""
    e2e_wait "$limit" e2e_gone "$pid" || return 1
    E2E_CODE=0
    wait "$pid" 2>/dev/null || E2E_CODE=$?
}
e2e_gone() { ! kill -0 "$1" 2>/dev/null; }

# ---- The display ---------------------------------------------------------------------

# e2e_start_display [--no-wm]: a virtual 24-bit screen on a display number
# that Xvfb picks itself (so tests running side by side never share one),
# and openbox on it (unless --no-wm). Exports DISPLAY.
e2e_start_display() {
    e2e_need Xvfb xdotool xwininfo xprop import convert python3
    local server wm
    : >"$E2E_TMP/display"
    "$E2E_DIR/xvfb_on_free_display.sh" "$E2E_TMP/display" \
        >"$E2E_TMP/xvfb.log" 2>"$E2E_TMP/xvfb.log.err" &
    server=$!
    E2E_PIDS+=("$server")
    e2e_wait 15 test -s "$E2E_TMP/display" ||
        e2e_fail "Xvfb did not start ($(cat "$E2E_TMP/xvfb.log.err"))"
    export DISPLAY=":$(head -n 1 "$E2E_TMP/display")"
    e2e_wait 15 xwininfo -root || e2e_fail "Xvfb did not answer on $DISPLAY"
    if [[ ${1:-} != --no-wm ]]; then
        e2e_need openbox
        e2e_start wm "$E2E_TMP/openbox.log" -- openbox --sm-disable
        e2e_wait 15 e2e_wm_running || e2e_fail "openbox did not start"
    fi
}
e2e_wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# ---- Windows --------------------------------------------------------------------------

# The first mapped top-level window of a process (found by _NET_WM_PID).
e2e_window_of_pid() {
    local id
    id=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1)
    [[ -n $id ]] && echo "$id"
}

# A mapped window whose name is exactly NAME, from the whole window tree
# (finds SDL's and Wine's message boxes, which xdotool search may not).
e2e_window_named() {
    local name=$1 id
    for id in $(xwininfo -root -tree | awk -v n="\"$name\":" '$2 == n { print $1 }'); do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            printf '%d\n' "$id"
            return 0
        fi
    done
    return 1
}

# e2e_geometry WINDOW: "X Y WIDTH HEIGHT" of the window's area on the
# screen. For the players' windows under a window manager that is exactly
# the client area: the manager draws the caption and the border outside.
e2e_geometry() {
    xwininfo -id "$1" | awk '
        /Absolute upper-left X/ { x = $NF }
        /Absolute upper-left Y/ { y = $NF }
        /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF }
        END { if (w == "") exit 1; print x, y, w, h }'
}

e2e_title() { xdotool getwindowname "$1"; }

# e2e_shot WINDOW OUT: the window's area as a PNG (OUT.png) and as raw 8-bit
# RGB (OUT.rgb), taken from the root window as a person would see it.
e2e_shot() {
    local window=$1 out=$2 x y w h
    read -r x y w h < <(e2e_geometry "$window") || return 1
    import -window root "$out.full.png" || return 1
    convert "$out.full.png" -crop "${w}x${h}+${x}+${y}" +repage "$out.png" || return 1
    convert "$out.png" -depth 8 "rgb:$out.rgb" || return 1
    rm -f "$out.full.png"
}

# e2e_same_picture A B: the two shots (raw RGB) are identical.
e2e_same_picture() { cmp -s "$1.rgb" "$2.rgb"; }

# e2e_click WINDOW X Y: a left click at (X, Y) of the window's area.
e2e_click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

# e2e_double_click WINDOW X Y: two presses in quick succession.
e2e_double_click() {
    xdotool mousemove --window "$1" "$2" "$3" click --repeat 2 --delay 40 1
}

# e2e_close WINDOW: what the close button does: WM_DELETE_WINDOW to the
# window (xdotool windowclose would destroy it without asking).
e2e_close() {
    python3 "$E2E_DIR/x_close.py" "$1"
}

# e2e_press_return WINDOW: Return with the pointer over the window (how a
# message box's default button is pressed).
e2e_press_return() {
    xdotool mousemove --window "$1" 10 10 && xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --clearmodifiers Return
}

# ---- Locale and Wine ---------------------------------------------------------------------

# Generates ja_JP.UTF-8 when it is missing (for the code page 932 texts).
e2e_need_japanese_locale() {
    if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
        localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null ||
            e2e_skip "the ja_JP.UTF-8 locale is missing and cannot be made (localedef needs root)"
    fi
}

# Quiet Wine without install prompts; the silent sound path (no driver).
e2e_wine_env() {
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv=d"
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    export WINEARCH=win64
}

# e2e_wine_prefix: a fresh prefix for this test in E2E_TMP, copied from a
# template made once (wineboot, about 11 s) in KMOV_E2E_CACHE. Exports
# WINEPREFIX.
e2e_wine_prefix() {
    e2e_need wine wineboot wineserver
    e2e_wine_env
    local cache=${KMOV_E2E_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kmov-e2e}
    local template="$cache/wineprefix-$(wine --version | tr -c 'A-Za-z0-9.\n' _)"
    if [[ ! -f $template/.kmov-ready ]]; then
        mkdir -p "$cache"
        local making="$template.making.$$"
        rm -rf "$making"
        (
            export WINEPREFIX=$making
            wineboot -i >/dev/null 2>&1
            wineserver -w
        ) || e2e_fail "wineboot failed"
        touch "$making/.kmov-ready"
        mv -T "$making" "$template" 2>/dev/null || rm -rf "$making" # another test made it first
    fi
    export WINEPREFIX="$E2E_TMP/wineprefix"
    cp -a "$template" "$WINEPREFIX"
}

# e2e_wine_unmanaged: Wine draws its windows' captions itself and the window
# manager leaves them alone (no 2 s stall in DestroyWindow without a
# manager). Then the X window includes the caption: use e2e_client_offset.
e2e_wine_unmanaged() {
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
}

# ---- Sound ---------------------------------------------------------------------------------

# e2e_sdl_disk_audio FILE: SDL writes what it plays to FILE (raw samples in
# the device's format: 16-bit mono at the movie's rate), paced as a device.
# SDL's disk driver waits a fixed time for each piece it writes and so runs
# a little slower than real time, more so on a busy machine; a player
# feeding it at real time would then find its buffers all taken now and
# then. Waiting 85 ms for each 2048-sample piece (93 ms at 22050 Hz) keeps
# the device a little ahead instead: it plays silence when it runs dry,
# which the comparison allows.
e2e_sdl_disk_audio() {
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$1 SDL_DISKAUDIODELAY=${E2E_DISK_DELAY_MS:-85}
}

# e2e_sound_reached RECORDED EXPECTED: the samples of EXPECTED (raw 16-bit,
# or a WAV file) were all played, in order, in RECORDED; the device may have
# played silence in between (pauses, late buffers).
e2e_sound_reached() {
    python3 "$E2E_DIR/sound_reached.py" "$1" "$2"
}

# e2e_start_pulse: a private PulseAudio server for this test (its runtime
# folder and home in E2E_TMP, so nothing of the user's or another test's is
# touched) with a null sink "rec" as the default output; its monitor is what
# e2e_record_pulse records. Exports XDG_RUNTIME_DIR, PULSE_RUNTIME_PATH and
# PULSE_SERVER; HOME is left alone (the server is given its own).
e2e_start_pulse() {
    e2e_need pulseaudio pactl parec
    local home="$E2E_TMP/pulse-home"
    export XDG_RUNTIME_DIR="$E2E_TMP/xdg" PULSE_RUNTIME_PATH="$E2E_TMP/xdg/pulse"
    mkdir -p "$XDG_RUNTIME_DIR" "$home"
    chmod 700 "$XDG_RUNTIME_DIR"
    export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
    HOME=$home e2e_start E2E_PULSE_PID "$E2E_TMP/pulse.log" -- pulseaudio --daemonize=no \
        --exit-idle-time=-1 -n --load="module-null-sink sink_name=rec" \
        --load="module-native-protocol-unix" --log-target=stderr
    export PULSE_COOKIE="$home/.config/pulse/cookie"
    e2e_wait 15 pactl info || e2e_fail "pulseaudio did not start ($(tail -3 "$E2E_TMP/pulse.log.err"))"
    pactl set-default-sink rec || e2e_fail "no null sink"
}

# e2e_pulse_realtime: whether the sound server's threads got real-time
# scheduling, as a desktop's sound server does (through rtkit). A container
# without CAP_SYS_NICE runs them at normal priority, among everything else.
e2e_pulse_realtime() {
    ps -L -o cls= -p "$E2E_PULSE_PID" | grep -q -E 'RR|FF'
}

# e2e_record_pulse PID_VAR FILE RATE: records the null sink's monitor as raw
# 16-bit mono at RATE into FILE until the test ends it.
e2e_record_pulse() {
    e2e_start "$1" "$2" -- parec -d rec.monitor --format=s16le --rate="$3" --channels=1 --raw \
        --latency-msec=10
}
