#!/usr/bin/env bash
# End-to-end test of the harness's Wine half with win_probe.exe: a fresh
# prefix, the window found by its process, its client area exactly
# 320 x 240 and painted, the Japanese error box found, shown and dismissed
# with Return, and the close button ending the program with 0.
#
# usage: win_probe_e2e.sh PATH/TO/win_probe.exe     (exit 77: skipped)
set -uo pipefail
. "$(dirname "$0")/lib.sh"

exe=${1:?usage: $0 PATH/TO/win_probe.exe}
[[ -f $exe ]] || e2e_skip "$exe is not built (cmake --preset windows)"
e2e_init
e2e_start_display
e2e_need_japanese_locale
e2e_wine_prefix
t=$E2E_TMP

e2e_start pid "$t/probe.log" -- wine "$exe"
e2e_wait 30 e2e_window_of_pid "$pid" || e2e_fail "no window within 30 s"
win=$E2E_OUT
read -r _ _ w h < <(e2e_geometry "$win")
[[ "$w x $h" == "320 x 240" ]] || e2e_fail "client area is $w x $h, not 320 x 240"
[[ $(e2e_title "$win") == "kmov probe" ]] || e2e_fail "title is '$(e2e_title "$win")'"
painted() {
    e2e_shot "$win" "$t/shot" && python3 - "$t/shot.rgb" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(0 if data == bytes([200, 30, 60]) * (len(data) // 3) else 1)
PY
}
e2e_wait 10 painted || e2e_fail "the client area is not all painted (see $t/shot.png)"

e2e_click "$win" 10 10
e2e_wait 20 e2e_window_named Error || e2e_fail "no box titled Error"
box=$E2E_OUT
e2e_shot "$box" "$t/box"
e2e_press_return "$box"
no_box() { ! e2e_window_named Error >/dev/null; }
e2e_wait 10 no_box || e2e_fail "the box did not go with Return"

e2e_close "$win"
e2e_wait_exit "$pid" 15 || e2e_fail "still running 15 s after the close button"
[[ $E2E_CODE == 0 ]] || e2e_fail "exit code $E2E_CODE after closing, not 0"
e2e_log "win_probe: all checks passed"
