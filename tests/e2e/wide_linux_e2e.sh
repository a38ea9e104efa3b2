#!/usr/bin/env bash
# The Linux player with titles stored both ways (code page 932, and UTF-8
# behind the mark) under a non-ASCII path: each title reads back from the X
# window exactly as typed, and the program ends with 0 when closed.
#
# usage: wide_linux_e2e.sh KMOV PLAYER_TEMPLATE    (exit 77: skipped)
set -uo pipefail
. "$(dirname "$0")/lib.sh"

kmov=${1:?usage: $0 KMOV PLAYER_TEMPLATE} template=${2:?}
e2e_init
e2e_start_display
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy LANG=C.UTF-8 LC_ALL=C.UTF-8
t=$E2E_TMP

"$kmov" demo -o "$t/demo.kmov" >/dev/null || e2e_fail "kmov demo failed"
mkdir "$t/Café"
for title in "夏休みの散歩" "Café ü" "안녕하세요"; do
    exe=$t/Café/夏休み
    "$kmov" pack "$template" "$t/demo.kmov" -o "$exe" --title "$title" ||
        e2e_fail "kmov pack --title '$title' failed"
    e2e_start pid "$t/player.log" -- "$exe"
    e2e_wait 30 e2e_window_of_pid "$pid" || e2e_fail "no window: $(cat "$t/player.log.err")"
    win=$E2E_OUT
    got=$(e2e_title "$win")
    [[ $got == "$title" ]] || e2e_fail "title '$got', not '$title'"
    e2e_close "$win"
    e2e_wait_exit "$pid" 15 || e2e_fail "still running 15 s after the close button"
    [[ $E2E_CODE == 0 ]] || e2e_fail "exit code $E2E_CODE after closing, not 0"
    e2e_log "title '$title' reads back"
done
e2e_log "all checks passed"
