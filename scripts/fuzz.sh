#!/usr/bin/env bash
# Fuzzes kmov: builds the fuzz preset (clang, libFuzzer, ASan, UBSan),
# writes the seed corpora, and runs each target for SECONDS (default 45).
# The corpus each target grows is kept in build/fuzz/corpus/TARGET/ and
# starts the next run. Prints one line per target:
#   fuzz_movie: ok, 15234 executions in 45 s, corpus 312 inputs
# and exits non-zero on any finding (a crash, a sanitizer report, a failed
# check of the target, a timeout or running out of memory); the input that
# caused it is written to build/fuzz/findings/ and the log to
# build/fuzz/logs/TARGET.log. Replay a finding with the target and the file:
#   build/fuzz/fuzz/fuzz_movie build/fuzz/findings/fuzz_movie-crash-...
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (targets: movie video_decoder
#        audio_decoder reader startup; default all)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-45}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
    targets=(movie video_decoder audio_decoder reader startup)
fi

out=build/fuzz
mkdir -p "$out/logs" "$out/findings"
if ! { cmake --preset fuzz -DKMOV_WERROR=ON && cmake --build --preset fuzz -j "$(nproc)"; } \
    >"$out/logs/build.log" 2>&1; then
    tail -n 40 "$out/logs/build.log"
    echo "fuzz: the fuzz preset does not build (log: $out/logs/build.log)"
    exit 1
fi

# The seeds: the generator's, and some made from the demo movie when the
# native build's kmov is there to make it.
rm -rf "$out/seeds"
extra=()
if [[ -x build/native/tools/kmov ]] && build/native/tools/kmov demo -o "$out/demo.kmov" \
    >"$out/logs/demo.log" 2>&1; then
    extra=("$out/demo.kmov")
fi
"$out/fuzz/fuzz_seeds" "$out/seeds" "${extra[@]}" >/dev/null || {
    echo "fuzz: fuzz_seeds failed"
    exit 1
}

# Per target: inputs up to this many bytes.
declare -A max_len=([movie]=65536 [video_decoder]=24576 [audio_decoder]=4096 [reader]=65536
    [startup]=16384)

findings=0
for target in "${targets[@]}"; do
    program="$out/fuzz/fuzz_$target"
    if [[ ! -x $program ]]; then
        echo "fuzz_$target: no such target"
        findings=$((findings + 1))
        continue
    fi
    corpus="$out/corpus/$target"
    mkdir -p "$corpus"
    flags=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -max_len="${max_len[$target]:-8192}" -artifact_prefix="$out/findings/fuzz_$target-")
    # A failure inside the player leaves a playback by a jump, abandoning
    # what the player holds at that moment (as the process would end), so
    # the whole-movie target checks the release of the player's resources
    # itself instead of looking for leaks after each input.
    [[ $target == movie ]] && flags+=(-detect_leaks=0)
    log="$out/logs/$target.log"
    ASAN_OPTIONS=halt_on_error=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$program" "${flags[@]}" "$corpus" "$out/seeds/$target" >"$log" 2>&1
    status=$?
    runs=$(sed -nE 's/^stat::number_of_executed_units: ([0-9]+)/\1/p' "$log" | tail -n 1)
    time=$(sed -nE 's/^Done [0-9]+ runs in ([0-9]+) second.*/\1/p' "$log" | tail -n 1)
    size=$(find "$corpus" -type f | wc -l)
    if ((status == 0)); then
        echo "fuzz_$target: ok, ${runs:-?} executions in ${time:-?} s, corpus $size inputs"
    else
        echo "fuzz_$target: FINDING (exit $status) after ${runs:-?} executions (log: $log)"
        grep -E 'ERROR|runtime error|finding:|SUMMARY|Test unit written' "$log" | head -n 12
        findings=$((findings + 1))
    fi
done
((findings == 0))
