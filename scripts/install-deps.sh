#!/usr/bin/env bash
# Installs the Debian 12 packages kmov needs, only those that are missing.
# Usage: scripts/install-deps.sh [build|test|all]   (default: all)
set -euo pipefail

build_packages=(
    cmake make g++ pkg-config
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    libsdl2-dev libx11-dev libpng-dev
    libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
    libimagequant-dev
)
test_packages=(
    clang-format clang libclang-rt-14-dev
    wine wine64
    xvfb xdotool x11-utils imagemagick openbox
    fonts-vlgothic xfonts-base xfonts-intl-japanese locales
    ffmpeg
    pulseaudio pulseaudio-utils espeak-ng python3-numpy
    icoutils osslsigncode openssl dpkg-dev
    emscripten chromium
)

case "${1:-all}" in
build) wanted=("${build_packages[@]}") ;;
test | all) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: $0 [build|test|all]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

# The browser tests install puppeteer-core with npm. Debian's nodejs comes
# without it; a node from elsewhere usually brings its own.
if [[ ${1:-all} != build ]] && ! command -v npm >/dev/null; then
    missing+=(npm)
fi

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
