#!/usr/bin/env bash
# Builds kmov, makes the demo movie and plays it in a window with the Linux
# player (on a machine without a display: writes its frames and sound).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
if [[ ! -x build/native/app/kmovsp ]]; then
    echo "kmov builds; the player program and the demo movie are not there yet."
    exit 0
fi
