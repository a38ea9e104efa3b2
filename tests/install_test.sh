#!/usr/bin/env bash
# kmov installed and moved: `cmake --install` into a prefix, the prefix
# moved elsewhere, and the installed kmov makes a program from its own
# stripped template with no build tree to fall back on. Then the Debian
# package: what it holds and what it depends on.
#
# usage: install_test.sh BUILD_DIR    (exit 77: skipped)
set -uo pipefail

build=${1:?usage: $0 BUILD_DIR}
fail() {
    echo "install_test: FAIL: $*" >&2
    exit 1
}
for tool in ffmpeg readelf dpkg-deb cpack; do
    command -v "$tool" >/dev/null || { echo "install_test: SKIP: no $tool" >&2; exit 77; }
done
t=$(mktemp -d "${TMPDIR:-/tmp}/kmov-install.XXXXXX")
trap 'rm -rf "$t"' EXIT
unset KMOV_PLAYER KMOV_PLAYER_EXE

cmake --install "$build" --prefix "$t/prefix" >"$t/install.log" 2>&1 ||
    fail "cmake --install: $(tail -n 5 "$t/install.log")"
mv "$t/prefix" "$t/moved"
p=$t/moved
[[ -x $p/bin/kmov && -x $p/share/kmov/kmovsp && -f $p/share/doc/kmov/README.md ]] ||
    fail "the prefix holds: $(cd "$p" && find . -type f | sort | tr '\n' ' ')"
readelf -S "$p/share/kmov/kmovsp" | grep -qE '\.symtab|\.debug_' &&
    fail "the installed template is not stripped"
"$p/bin/kmov" --version | grep -qx "kmov [0-9]*\.[0-9]*\.[0-9]*" || fail "kmov --version"

ffmpeg -loglevel error -f lavfi -i testsrc2=size=64x48:rate=10 -t 1 "$t/in.mp4" ||
    fail "ffmpeg cannot make the input"
"$p/bin/kmov" make "$t/in.mp4" -o "$t/prog" >"$t/make.log" 2>&1 ||
    fail "the installed kmov make: $(cat "$t/make.log")"
"$p/bin/kmov" verify "$t/prog" || fail "the program does not verify"
# The stripped template (about 85 KB) and a one-second 64x48 movie.
size=$(stat -c %s "$t/prog")
((size < 300000)) || fail "the program takes $size bytes: not the stripped template"
if [[ -f $p/share/kmov/kmovsp.exe ]]; then
    "$p/bin/kmov" make "$t/in.mp4" -o "$t/prog.exe" >"$t/make.log" 2>&1 ||
        fail "the installed kmov make (.exe): $(cat "$t/make.log")"
    "$p/bin/kmov" verify "$t/prog.exe" || fail "the Windows program does not verify"
fi
# Without its template the installed kmov finds none: it used the one
# under share/, not a build tree.
rm "$p/share/kmov/kmovsp"
"$p/bin/kmov" make "$t/in.mp4" -o "$t/prog2" >"$t/make.log" 2>&1 &&
    fail "kmov make found a template after share/kmov/kmovsp was removed"
grep -q "no player template" "$t/make.log" || fail "kmov make without a template: $(cat "$t/make.log")"

# ---- The Debian package -----------------------------------------------------------------------

(cd "$build" && cpack -G DEB -B "$t/package") >"$t/cpack.log" 2>&1 ||
    fail "cpack: $(tail -n 5 "$t/cpack.log")"
deb=$(ls "$t"/package/*.deb 2>/dev/null | head -n 1)
[[ -n $deb ]] || fail "cpack made no .deb"
dpkg-deb -c "$deb" | awk '{print $NF}' >"$t/contents.txt"
echo "install_test: $(basename "$deb"): $(stat -c %s "$deb") bytes"
for file in ./usr/bin/kmov ./usr/share/kmov/kmovsp ./usr/share/doc/kmov/README.md; do
    grep -qxF "$file" "$t/contents.txt" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libavformat libavcodec libswscale libswresample libavutil libimagequant libsdl2; do
    [[ $depends == *"$library"* ]] || fail "the package does not depend on $library: $depends"
done
mkdir "$t/unpacked" && dpkg-deb -x "$deb" "$t/unpacked"
readelf -S "$t/unpacked/usr/share/kmov/kmovsp" | grep -qE '\.symtab|\.debug_' &&
    fail "the packaged template is not stripped"
echo "install_test: PASS"
