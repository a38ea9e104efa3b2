#!/usr/bin/env bash
# What the self-playing programs cost while they play the demo movie: the
# Linux player on a virtual display (Xvfb), the Windows one under Wine, both
# with their sound going to a private PulseAudio server's null sink.
#
# For each: the CPU the player used from its first present to its last (and
# under Wine that of wineserver, and of every process of the prefix), as a
# share of one core; the lateness of each present against its due time (the
# player's KMOV_PRESENT_LOG: 50th, 99th percentile and the worst); that
# every frame was shown once, in order; and how far the pictures were from
# the sound the device had played at the first and the last present.
#
# usage: bench/player_cpu.sh KMOV LINUX_TEMPLATE [WINDOWS_TEMPLATE]
#   e.g. bench/player_cpu.sh build/native/tools/kmov build/native/app/kmovsp \
#            build/windows/app/kmovsp.exe
# KMOV_BENCH_MOVIE=FILE plays that movie instead of the demo.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/e2e/lib.sh"

kmov=${1:?usage: $0 KMOV LINUX_TEMPLATE [WINDOWS_TEMPLATE]}
linux_template=${2:?}
windows_template=${3:-}
kmov=$(realpath "$kmov")

e2e_init
work=$E2E_TMP
movie=${KMOV_BENCH_MOVIE:-}
if [[ -z $movie ]]; then
    "$kmov" demo -o "$work/demo.kmov" >/dev/null || e2e_fail "kmov demo failed"
    movie=$work/demo.kmov
fi
read -r frames frame_rate < <("$kmov" info "$movie" --json |
    python3 -c 'import json,sys; h = json.load(sys.stdin); print(h["frame_count"], h["frame_rate"])')
hz=$(getconf CLK_TCK)

# CPU ticks (user + system) of the processes named.
ticks_of() {
    local pid sum=0 fields
    for pid in "$@"; do
        [[ -r /proc/$pid/stat ]] || continue
        fields=$(sed 's/.*) //' "/proc/$pid/stat")
        set -- $fields
        sum=$((sum + ${12} + ${13}))
    done
    echo "$sum"
}
lines_in() { [[ -f $1 ]] && (($(wc -l <"$1") >= $2)); }
now_ns() { date +%s%N; }

# report NAME LOG: the present log's figures.
report_presents() {
    python3 - "$1" "$2" "$frames" "$frame_rate" <<'EOF'
import sys
name, path, frames = sys.argv[1], sys.argv[2], int(sys.argv[3])
frame_ms = 1e6 / int(sys.argv[4])  # frame_rate is in frames per 1000 s
rows = []
begun = []
for line in open(path):
    f = line.split()
    rows.append((int(f[1]), int(f[5]), int(f[7]), int(f[9])))
    begun.append((int(f[3]) - int(f[1])) & 0xFFFFFFFF)
late = sorted(((shown - due) & 0xFFFFFFFF) for due, shown, _, _ in rows)
begun.sort()
def pct(p, values=late):
    return values[min(len(values) - 1, int(p / 100 * len(values)))]
ordered = all(((b[0] - a[0]) & 0xFFFFFFFF) < 0x80000000 for a, b in zip(rows, rows[1:]))
print(f"{name}: presents {len(rows)} of {frames}, in order: {'yes' if ordered else 'NO'}; "
      f"lateness ms p50 {pct(50)} p99 {pct(99)} max {late[-1]} "
      f"(of the present's start: p50 {pct(50, begun)} p99 {pct(99, begun)} max {begun[-1]})")
if any(rate and pos > 0 for _, _, pos, rate in rows):
    # Each picture's time in the movie (frame k at k frame times; the due
    # times move when the player waits for the sound) less the time of the
    # sound the device had played, both from the first present with sound
    # playing.
    base = None
    out = []
    for k, (due, shown, pos, rate) in enumerate(rows):
        if not rate or pos == 0:
            continue
        if base is None:
            base = (k * frame_ms, pos * 1000.0 / rate)
        out.append((k * frame_ms - base[0]) - (pos * 1000.0 / rate - base[1]))
    print(f"{name}: picture ahead of the sound played, ms: first {out[0]:.1f} "
          f"last {out[-1]:.1f} (min {min(out):.1f}, max {max(out):.1f})")
EOF
}

# measure NAME LOG PIDS_FUNCTION: CPU from the first present to the last.
measure() {
    local name=$1 log=$2 pids_of=$3
    e2e_wait 60 lines_in "$log" 1 || e2e_fail "$name: no present within 60 s"
    local t0 c0 t1 c1 pids
    pids=$($pids_of)
    t0=$(now_ns)
    c0=$(ticks_of $pids)
    e2e_wait 60 lines_in "$log" "$frames" || e2e_fail "$name: not every frame shown"
    t1=$(now_ns)
    c1=$(ticks_of $pids)
    python3 -c "print('$name: CPU %.1f %% of a core over %.2f s (pids: $pids)' % \
        (($c1 - $c0) / $hz / (($t1 - $t0) / 1e9) * 100, ($t1 - $t0) / 1e9))"
}

e2e_start_display
e2e_start_pulse

# ---- Linux ----------------------------------------------------------------------------
"$kmov" pack "$linux_template" "$movie" -o "$work/play" --title bench >/dev/null ||
    e2e_fail "kmov pack failed"
linux_pid=
linux_pids() { echo "$linux_pid"; }
KMOV_PRESENT_LOG=$work/linux.log SDL_AUDIODRIVER=pulseaudio \
    e2e_start linux_pid "$work/linux.out" -- "$work/play"
measure linux "$work/linux.log" linux_pids
report_presents linux "$work/linux.log"
e2e_wait 10 e2e_window_of_pid "$linux_pid" && e2e_close "$E2E_OUT"
e2e_wait_exit "$linux_pid" 10 || kill "$linux_pid"

# ---- Windows under Wine --------------------------------------------------------------------
if [[ -n $windows_template && -f $windows_template ]]; then
    e2e_wine_prefix
    export WINEDLLOVERRIDES="mscoree,mshtml=" # winepulse.drv on: the sound goes to the server
    "$kmov" pack "$windows_template" "$movie" -o "$work/play.exe" --title bench >/dev/null ||
        e2e_fail "kmov pack failed"
    wine_pid=
    # The player's process and the prefix's wineserver, found by the prefix in
    # their environment.
    wine_pids() {
        local pid found=()
        for pid in $(pgrep -u "$(id -u)" -f 'play\.exe|wineserver'); do
            tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
                found+=("$pid")
        done
        echo "${found[@]}"
    }
    KMOV_PRESENT_LOG="Z:$work/wine.log" e2e_start wine_pid "$work/wine.out" -- wine "$work/play.exe"
    measure wine "$work/wine.log" wine_pids
    report_presents wine "$work/wine.log"
    # wine_pids() named every process of the prefix for reference.
    e2e_wait 10 e2e_window_of_pid "$wine_pid" && e2e_close "$E2E_OUT"
    e2e_wait_exit "$wine_pid" 15 || kill "$wine_pid"
    wineserver -k 2>/dev/null
fi
