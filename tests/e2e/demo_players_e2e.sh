#!/usr/bin/env bash
# Makes the demo movie, packs it into a player template and runs the
# player end-to-end test on it (player_e2e.sh): the Linux player with its
# sound recorded by SDL's disk driver, or the Windows player under Wine
# (sound off: the silent path).
#
# usage: demo_players_e2e.sh linux|wine KMOV PLAYER_TEMPLATE    (exit 77: skipped)
set -uo pipefail
. "$(dirname "$0")/lib.sh"

run=${1:?usage: $0 linux|wine KMOV PLAYER_TEMPLATE}
kmov=${2:?} template=${3:?}
[[ -f $template ]] || e2e_skip "$template is not built"
work=$(mktemp -d "${TMPDIR:-/tmp}/kmov-demo-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

exe=$work/demo
[[ $run == wine ]] && exe=$work/demo.exe
"$kmov" demo -o "$work/demo.kmov" >/dev/null || e2e_fail "kmov demo failed"
"$kmov" pack "$template" "$work/demo.kmov" -o "$exe" --title "kmov デモ" ||
    e2e_fail "kmov pack failed"
mkdir "$work/frames"
"$kmov" frames "$exe" --png "$work/frames" || e2e_fail "kmov frames failed"
sound=()
if [[ $run == linux ]]; then
    "$kmov" audio "$exe" --wav "$work/demo.wav" || e2e_fail "kmov audio failed"
    sound=(--sound "$work/demo.wav")
fi
bash "$E2E_DIR/player_e2e.sh" --run "$run" --exe "$exe" --frames "$work/frames" \
    --title "kmov デモ" --size 640x480 "${sound[@]}"
