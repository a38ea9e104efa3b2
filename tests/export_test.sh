#!/usr/bin/env bash
# kmov export: the lossless export's frames are kmov frames' exactly, every
# format lasts as long as the movie, the sound exports are kmov audio's, and
# wrong requests leave no file.
#
# usage: export_test.sh KMOV    (exit 77: skipped)
set -uo pipefail

kmov=${1:?usage: $0 KMOV}
fail() {
    echo "export_test: FAIL: $*" >&2
    exit 1
}
for tool in ffmpeg ffprobe convert; do
    command -v "$tool" >/dev/null || { echo "export_test: SKIP: no $tool" >&2; exit 77; }
done
t=$(mktemp -d "${TMPDIR:-/tmp}/kmov-export.XXXXXX")
trap 'rm -rf "$t"' EXIT

# 3 s of an odd-sized picture with a tone: 4:2:0 needs padding.
ffmpeg -loglevel error -f lavfi -i testsrc2=size=95x61:rate=10 -f lavfi \
    -i sine=frequency=440:sample_rate=22050 -t 3 -shortest "$t/clip.mp4" ||
    fail "ffmpeg cannot make the clip"
"$kmov" encode "$t/clip.mp4" -o "$t/clip.kmov" >/dev/null 2>&1 || fail "kmov encode"
"$kmov" pack "$(dirname "$kmov")/../app/kmovsp" "$t/clip.kmov" -o "$t/clip" 2>/dev/null ||
    fail "kmov pack"
mkdir "$t/frames" && "$kmov" frames "$t/clip" --png "$t/frames" || fail "kmov frames"
for png in "$t"/frames/*.png; do convert "$png" -depth 8 rgb:-; done >"$t/frames.rgb"
"$kmov" audio "$t/clip" --wav "$t/audio.wav" || fail "kmov audio"
movie_s=$("$kmov" info "$t/clip.kmov" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["duration_ms"] / 1000)') ||
    fail "kmov info"

for ext in mkv mp4 webm gif apng wav flac; do
    "$kmov" export "$t/clip" -o "$t/out.$ext" --quiet 2>"$t/$ext.log" ||
        fail "export .$ext: $(cat "$t/$ext.log")"
    duration=$(ffprobe -v error -count_packets -show_entries format=duration -of csv=p=0 "$t/out.$ext")
    if [[ $duration == N/A ]]; then # an animated PNG: the sum of its frames' durations
        duration=$(ffprobe -v error -select_streams v -show_entries packet=duration_time \
            -of csv=p=0 "$t/out.$ext" | awk '{ s += $1 } END { print s }')
    fi
    python3 -c "import sys; sys.exit(abs($duration - $movie_s) > 0.12)" ||
        fail ".$ext lasts $duration s, the movie $movie_s s"
done
# Lossless: every frame the player presents, colour for colour, in order.
ffmpeg -loglevel error -i "$t/out.mkv" -f rawvideo -pix_fmt rgb24 -fps_mode passthrough - \
    >"$t/mkv.rgb" || fail "ffmpeg cannot read the .mkv"
cmp -s "$t/frames.rgb" "$t/mkv.rgb" || fail "the .mkv's frames differ from kmov frames'"
ffmpeg -loglevel error -i "$t/out.gif" -f rawvideo -pix_fmt rgb24 -fps_mode passthrough - \
    >"$t/gif.rgb" || fail "ffmpeg cannot read the .gif"
cmp -s "$t/frames.rgb" "$t/gif.rgb" || fail "the .gif's frames differ from kmov frames'"
# The sound exports hold kmov audio's samples.
for ext in wav flac; do
    ffmpeg -loglevel error -i "$t/out.$ext" -f s16le - >"$t/$ext.raw" || fail "ffmpeg .$ext"
    ffmpeg -loglevel error -i "$t/audio.wav" -f s16le - >"$t/audio.raw"
    cmp -s "$t/$ext.raw" "$t/audio.raw" || fail "the .$ext's samples differ from kmov audio's"
done

# Wrong requests: an exit code, a message, no file.
ffmpeg -loglevel error -f lavfi -i testsrc2=size=32x32:rate=5 -t 1 "$t/silent.mp4"
"$kmov" encode "$t/silent.mp4" -o "$t/silent.kmov" >/dev/null 2>&1 || fail "kmov encode (silent)"
head -c 2000 "$t/clip.kmov" >"$t/cut.kmov"
while read -r code input out message; do
    "$kmov" export "$t/$input" -o "$t/$out" --quiet 2>"$t/err.log"
    status=$?
    ((status == code)) || fail "export $input -o $out: exit $status, not $code"
    grep -q "$message" "$t/err.log" || fail "export $input -o $out: $(cat "$t/err.log")"
    [[ ! -e $t/$out ]] || fail "export $input -o $out left a file"
    [[ -z $(ls "$t" | grep part) ]] || fail "export $input -o $out left a partial file"
done <<'CASES'
2 clip.kmov out.avi no.format.kmov.exports
1 silent.kmov silent.wav has.no.sound
1 cut.kmov cut.mp4 damaged
1 missing.kmov m.mp4 [Nn]o.such.file
CASES
echo "export_test: PASS"
