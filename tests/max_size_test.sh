#!/usr/bin/env bash
# kmov encode --max-size on three sources: the movie never exceeds the
# limit, its quality (SSIM against the source) falls as the limit shrinks,
# and a limit that cannot be met is an error naming the smallest size.
# Prints the table of limits, sizes and SSIM.
#
# usage: max_size_test.sh KMOV    (exit 77: skipped)
set -uo pipefail

kmov=${1:?usage: $0 KMOV}
fail() {
    echo "max_size_test: FAIL: $*" >&2
    exit 1
}
command -v ffmpeg >/dev/null || { echo "max_size_test: SKIP: no ffmpeg" >&2; exit 77; }
t=$(mktemp -d "${TMPDIR:-/tmp}/kmov-max-size.XXXXXX")
trap 'rm -rf "$t"' EXIT

# encode SOURCE LIMIT: "BYTES SSIM" of the movie made with --max-size LIMIT
# (no limit when LIMIT is 0).
encode() {
    local limit=()
    (($2 > 0)) && limit=(--max-size "$2")
    "$kmov" encode "$1" -o "$t/out.kmov" --quiet --json "${limit[@]}" >"$t/summary.json" \
        2>"$t/err.log" || return 1
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(sys.argv[2], d["ssim"])' \
        "$t/summary.json" "$(stat -c %s "$t/out.kmov")"
}

# gradients draws random colours unless given a seed; a fixed one makes the
# source, and whether its smallest limit can be met, the same in every run.
sources=(testsrc2 mandelbrot "gradients=speed=0.05:seed=1")
printf '%-20s %9s %9s %7s\n' source limit bytes ssim
for source in "${sources[@]}"; do
    name=${source%%=*}
    separator="="
    [[ $source == *=* ]] && separator=":"
    ffmpeg -loglevel error -f lavfi -i "$source${separator}size=96x72:rate=10" -t 2 -pix_fmt yuv420p \
        "$t/$name.mp4" || fail "ffmpeg cannot make $name"
    read -r full full_ssim < <(encode "$t/$name.mp4" 0) || fail "$name: $(cat "$t/err.log")"
    printf '%-20s %9s %9d %7.4f\n' "$name" none "$full" "$full_ssim"
    previous=$full_ssim
    for percent in 60 30 12; do
        limit=$((full * percent / 100))
        read -r bytes ssim < <(encode "$t/$name.mp4" "$limit") ||
            fail "$name at $limit: $(cat "$t/err.log")"
        printf '%-20s %9d %9d %7.4f\n' "$name" "$limit" "$bytes" "$ssim"
        ((bytes <= limit)) || fail "$name: $bytes bytes over the limit of $limit"
        python3 -c "import sys; sys.exit(not ($ssim <= $previous + 0.002))" ||
            fail "$name: SSIM $ssim at $limit is above $previous at a larger limit"
        previous=$ssim
    done
    python3 -c "import sys; sys.exit(not ($previous < $full_ssim))" ||
        fail "$name: the smallest limit kept SSIM $previous of $full_ssim"
done

"$kmov" encode "$t/testsrc2.mp4" -o "$t/tiny.kmov" --max-size 500 --quiet 2>"$t/err.log" &&
    fail "a 500-byte limit was met"
grep -q "cannot be met: the smallest movie reached takes [0-9]* bytes" "$t/err.log" ||
    fail "the unmet limit says: $(cat "$t/err.log")"
[[ ! -e $t/tiny.kmov ]] || fail "an unmet limit left a movie"
"$kmov" encode "$t/testsrc2.mp4" -o "$t/bad.kmov" --max-size 12Q --quiet 2>"$t/err.log"
(($? == 2)) || fail "--max-size 12Q was taken"
echo "max_size_test: PASS"
