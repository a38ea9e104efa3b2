#!/usr/bin/env bash
# Builds kmov, makes the demo movie and plays it in a window with the Linux
# player (on a machine without a display: writes its frames and sound).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
kmov=build/native/tools/kmov
out=build/demo
mkdir -p "$out"
"$kmov" demo -o "$out/demo.kmov"
"$kmov" pack build/native/app/kmovsp "$out/demo.kmov" -o "$out/kmov-demo" --title "kmov demo"
echo "made $out/kmov-demo (a self-playing program; the Windows one: scripts/demo-wine.sh)"
if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    echo "playing: click to pause, resume or replay; close the window to end"
    exec "$out/kmov-demo"
fi
echo "no display: writing the frames as PNG and the sound as WAV instead"
"$kmov" frames "$out/kmov-demo" --png "$out/frames"
"$kmov" audio "$out/kmov-demo" --wav "$out/demo.wav"
echo "frames in $out/frames/, sound in $out/demo.wav"
