#!/usr/bin/env bash
# Runs every test of kmov: installs what is missing, builds the presets the
# tests use (warnings are errors), checks the formatting, runs the unit tests
# natively and under the sanitizers, fuzzes each fuzz target for a short
# while, and ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh all || {
    echo "summary: 0 passed, 1 failed (could not install the dependencies)"
    exit 1
}

jobs=$(nproc)
passed=0
failed=0
log_dir="$root/build/test-logs"
mkdir -p "$log_dir"

# step NAME COMMAND...: runs a step that is not a test run; a failure counts once.
step() {
    local name=$1
    shift
    echo "== $name"
    if "$@" >"$log_dir/$name.log" 2>&1; then
        return 0
    fi
    tail -n 60 "$log_dir/$name.log"
    echo "!! $name failed (log: $log_dir/$name.log)"
    failed=$((failed + 1))
    return 1
}

# count LOG: adds a CTest run's counts from its closing line.
count() {
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
    if [[ -z $line ]]; then
        failed=$((failed + 1))
        return
    fi
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

# ctest_run PRESET: runs a preset's tests and counts them.
ctest_run() {
    local preset=$1
    echo "== ctest $preset"
    ctest --preset "$preset" -j "$jobs" --timeout 300 --output-on-failure \
        >"$log_dir/ctest-$preset.log" 2>&1
    # The counts, each failing test, and why an end-to-end test failed.
    grep -E '(\*\*\*|Failed|Timeout|tests passed|FAILED  \]|^e2e: FAIL|^narration )' \
        "$log_dir/ctest-$preset.log" | tail -n 60
    count "$log_dir/ctest-$preset.log"
}

format_check() {
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}

build() {
    local preset=$1
    cmake --preset "$preset" -DKMOV_WERROR=ON && cmake --build --preset "$preset" -j "$jobs"
}

step format format_check
for preset in native asan windows web; do
    step "build-$preset" build "$preset"
done
ctest_run native
# Under the sanitizers every finding ends the test at once, with an exit code
# of its own (86), so that it cannot pass for the player's exit code 1.
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:exitcode=86 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=86 ctest_run asan

# The web player in a real browser: the web preset's page, packed with the
# native kmov, in Debian's chromium (headless) driven over the DevTools
# protocol by puppeteer-core from npm, installed into build/browser. Nothing
# downloads a browser. Each check counts as one test.
browser_modules() {
    mkdir -p build/browser
    cp tests/web/package.json build/browser/package.json
    (cd build/browser && PUPPETEER_SKIP_DOWNLOAD=1 npm install --no-audit --no-fund --no-save)
}
web_run() {
    echo "== web"
    if ! step browser-modules browser_modules; then
        return
    fi
    node tests/web/player_web.test.cjs --kmov build/native/tools/kmov \
        --template build/web/app/kmovsp.html --modules build/browser/node_modules \
        --work build/web-test >"$log_dir/web.log" 2>&1
    cat "$log_dir/web.log"
    local line
    line=$(grep -E '^web: [0-9]+ passed, [0-9]+ failed' "$log_dir/web.log" | tail -n 1)
    if [[ -z $line ]]; then
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + $(sed -E 's/web: ([0-9]+) passed.*/\1/' <<<"$line")))
    failed=$((failed + $(sed -E 's/.* ([0-9]+) failed/\1/' <<<"$line")))
}
web_run

# The fuzz targets, each for a short while (scripts/fuzz.sh SECONDS runs them
# longer); each target counts as one test, a finding as a failure.
fuzz_run() {
    echo "== fuzz"
    scripts/fuzz.sh "${KMOV_FUZZ_SECONDS:-45}" >"$log_dir/fuzz.log" 2>&1
    cat "$log_dir/fuzz.log"
    local ok bad
    ok=$(grep -c ': ok, ' "$log_dir/fuzz.log")
    bad=$(grep -cE ': (FINDING|no such target)' "$log_dir/fuzz.log")
    if ((ok + bad == 0)); then
        bad=1 # it did not get as far as running a target
    fi
    passed=$((passed + ok))
    failed=$((failed + bad))
}
fuzz_run

# The Windows tests under Wine, in a fresh copy of a prepared prefix.
rm -rf build/wine/unit
WINEPREFIX=$(scripts/wine-prefix.sh unit)
export WINEPREFIX
WINEDEBUG=-all wineserver -p 60 || true
ctest_run windows
WINEDEBUG=-all wineserver -k || true
unset WINEPREFIX

echo "summary: $passed passed, $failed failed"
((failed == 0))
