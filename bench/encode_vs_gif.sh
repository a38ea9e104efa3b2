#!/bin/bash
# Side by side: kmov's encoder against FFmpeg's GIF pipeline (and gifski
# when it is installed) on three sources the script makes, all 640x480,
# 15 fps, 97 frames:
#   pan    a slow pan and zoom over a photograph (Debian's
#          plasma-workspace-wallpapers, installed when missing)
#   synth  FFmpeg's testsrc2 animation
#   still  a photograph with a small moving square
# For each: bytes, SSIM against the true-colour source (FFmpeg's ssim
# filter, the same for every encoder), encode seconds, decode seconds of
# the 97 frames (kmov's by the player through bench_player when the bench
# preset is built, GIF's by FFmpeg on one thread), and the ratios kmov/GIF.
# kmov is run lossless and with --lossy.
#
# usage: bench/encode_vs_gif.sh [KMOV] [WORKDIR]
#   KMOV     the kmov program (default build/native/tools/kmov)
#   WORKDIR  where sources and outputs go (default a fresh temporary folder)
#   LOSSY    the --lossy level to compare as well (default 3)
#   BENCH_PLAYER  the bench_player program (default build/bench/bench/bench_player)
set -euo pipefail

KMOV=${1:-build/native/tools/kmov}
WORK=${2:-$(mktemp -d)}
LOSSY=${LOSSY:-3}
mkdir -p "$WORK"
[ -x "$KMOV" ] || { echo "no kmov program at $KMOV (build the native preset first)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed" >&2; exit 1; }

WALLPAPERS=/usr/share/wallpapers
if [ ! -e "$WALLPAPERS/Path/contents/images/1920x1080.jpg" ]; then
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y -qq --no-install-recommends plasma-workspace-wallpapers >/dev/null
    else
        echo "install plasma-workspace-wallpapers (photographs for the sources)" >&2
        exit 1
    fi
fi
PHOTO_PAN=$WALLPAPERS/Path/contents/images/1920x1080.jpg
PHOTO_STILL=$WALLPAPERS/BytheWater/contents/images/1920x1080.jpg

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l; }

make_sources() {
    local common=(-v error -y -frames:v 97 -pix_fmt rgb24 -c:v rawvideo)
    [ -e "$WORK/pan.nut" ] || ffmpeg -loop 1 -framerate 15 -i "$PHOTO_PAN" \
        -vf "scale=1920:1080,zoompan=z='1.15+0.0015*on':x='(iw-iw/zoom)*on/120':y='(ih-ih/zoom)/2':d=1:s=640x480:fps=15" \
        "${common[@]}" "$WORK/pan.nut"
    [ -e "$WORK/synth.nut" ] || ffmpeg -f lavfi -i testsrc2=size=640x480:rate=15 \
        "${common[@]}" "$WORK/synth.nut"
    [ -e "$WORK/still.nut" ] || ffmpeg -loop 1 -framerate 15 -i "$PHOTO_STILL" \
        -vf "scale=640:480,drawbox=x='100+t*40':y=300:w=40:h=40:color=red@1:t=fill" \
        "${common[@]}" "$WORK/still.nut"
}

# SSIM (all channels, FFmpeg's filter) of a decoded stream against a source.
ssim_of() { # INPUT_ARGS... -- SOURCE
    local args=() source
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    source=$2
    ffmpeg -hide_banner -nostats "${args[@]}" -i "$source" \
        -lavfi "[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]ssim" -f null - 2>&1 |
        sed -n 's/.* All:\([0-9.]*\).*/\1/p' | tail -1
}

# Seconds the player takes over a kmov movie's frames, from player_open to
# the last present, with nothing waiting (the bench preset's bench_player);
# "-" when that is not built.
BENCH_PLAYER=${BENCH_PLAYER:-build/bench/bench/bench_player}
kmov_decode_seconds() {
    [ -x "$BENCH_PLAYER" ] || { echo -; return; }
    KMOV_BENCH_MOVIE="$1" "$BENCH_PLAYER" --benchmark_filter=BM_play_movie \
        --benchmark_format=csv 2>/dev/null |
        awk -F, '/BM_play_movie/ { printf "%.3f", $4 / ($5 == "ms" ? 1e3 : $5 == "us" ? 1e6 : 1e9) }'
}

# Decode seconds of FFmpeg's GIF decoder on one thread (user time).
gif_decode_seconds() {
    ffmpeg -hide_banner -nostats -threads 1 -benchmark -i "$1" -f null - 2>&1 |
        sed -n 's/.*utime=\([0-9.]*\)s.*/\1/p' | tail -1
}

make_sources
printf '\n%-6s %-16s %10s %8s %8s %9s\n' source encoder bytes SSIM seconds "dec s"
rows=()
for name in pan synth still; do
    src=$WORK/$name.nut
    # kmov, lossless and lossy; its decoded frames come from the encoder's
    # own check, which runs the player's decoder.
    for mode in lossless lossy; do
        extra=()
        [ $mode = lossy ] && extra=(--lossy "$LOSSY")
        t0=$(now)
        "$KMOV" encode "$src" -o "$WORK/$name.$mode.kmov" --quiet --write-frames "$WORK/$name.$mode.rgb" "${extra[@]}"
        t1=$(now)
        bytes=$(stat -c %s "$WORK/$name.$mode.kmov")
        ssim=$(ssim_of -f rawvideo -pix_fmt rgb24 -s 640x480 -r 15 -i "$WORK/$name.$mode.rgb" -- "$src")
        secs=$(elapsed "$t0" "$t1")
        printf '%-6s %-16s %10d %8.5f %8.2f %9s\n' "$name" "kmov $mode" "$bytes" "$ssim" "$secs" \
            "$(kmov_decode_seconds "$WORK/$name.$mode.kmov")"
        rows+=("$name kmov_$mode $bytes $ssim $secs")
        rm -f "$WORK/$name.$mode.rgb"
    done
    # FFmpeg: palettegen with 240 colours over every frame, paletteuse, and
    # the gif encoder with its default inter-frame optimisation.
    t0=$(now)
    ffmpeg -v error -y -i "$src" \
        -vf "split[a][b];[a]palettegen=max_colors=240:stats_mode=full[p];[b][p]paletteuse" \
        "$WORK/$name.gif"
    t1=$(now)
    bytes=$(stat -c %s "$WORK/$name.gif")
    ssim=$(ssim_of -i "$WORK/$name.gif" -- "$src")
    printf '%-6s %-16s %10d %8.5f %8.2f %9s\n' "$name" "ffmpeg gif" "$bytes" "$ssim" \
        "$(elapsed "$t0" "$t1")" "$(gif_decode_seconds "$WORK/$name.gif")"
    rows+=("$name gif $bytes $ssim $(elapsed "$t0" "$t1")")
    if command -v gifski >/dev/null; then
        mkdir -p "$WORK/$name.png"
        ffmpeg -v error -y -i "$src" "$WORK/$name.png/f%04d.png"
        t0=$(now)
        gifski --quiet --fps 15 -o "$WORK/$name.gifski.gif" "$WORK/$name.png"/f*.png
        t1=$(now)
        bytes=$(stat -c %s "$WORK/$name.gifski.gif")
        ssim=$(ssim_of -i "$WORK/$name.gifski.gif" -- "$src")
        printf '%-6s %-16s %10d %8.5f %8.2f %9s\n' "$name" gifski "$bytes" "$ssim" \
            "$(elapsed "$t0" "$t1")" "$(gif_decode_seconds "$WORK/$name.gifski.gif")"
    fi
done

printf '\nratios kmov/GIF (bytes, SSIM difference):\n'
for name in pan synth still; do
    gif_line=$(printf '%s\n' "${rows[@]}" | awk -v n="$name" '$1 == n && $2 == "gif"')
    for mode in lossless lossy; do
        k_line=$(printf '%s\n' "${rows[@]}" | awk -v n="$name" -v m="kmov_$mode" '$1 == n && $2 == m')
        awk -v k="$k_line" -v g="$gif_line" -v n="$name" -v m="$mode" 'BEGIN {
            split(k, a, " "); split(g, b, " ");
            printf "  %-6s %-9s bytes %.3f  SSIM %+.5f  time %.2f\n", n, m, a[3] / b[3], a[4] - b[4], a[5] / b[5] }'
    done
done
echo "outputs in $WORK"
