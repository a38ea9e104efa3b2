#!/usr/bin/env bash
# Builds the Windows player, packs the demo movie into it and runs it under
# Wine (needs a display; sound is left out, Wine's wave-out being silent
# without a sound server).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
cmake --preset native >/dev/null && cmake --build --preset native -j "$(nproc)"
cmake --preset windows >/dev/null && cmake --build --preset windows -j "$(nproc)"
out=build/demo
mkdir -p "$out"
build/native/tools/kmov demo -o "$out/demo.kmov"
build/native/tools/kmov pack build/windows/app/kmovsp.exe "$out/demo.kmov" -o "$out/kmov-demo.exe" \
    --title "kmov demo"
exec scripts/wine-run.sh "$out/kmov-demo.exe"
