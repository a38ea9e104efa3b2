#!/usr/bin/env bash
# The Windows player under Wine in any language, under any path, and signed.
#
# usage: wide_wine_e2e.sh KMOV PLAYER_TEMPLATE_EXE    (exit 77: skipped)
#
# With an English system code page (LANG=C.UTF-8) and a Japanese one
# (ja_JP.UTF-8): titles in Japanese, French and Korean read back from the X
# window exactly as typed. With the English one: a program named 夏休み.exe
# in a folder named Café plays and ends with 0 when closed; a copy with one
# word of its movie changed shows the box titled "Error" and ends with 1.
# Signing (osslsigncode, a self-signed certificate made here with openssl):
# the packed program's PE checksum is the one the signing tool calculates;
# the signed program passes `osslsigncode verify` and `kmov verify` and
# plays to its last frame; with one word of its movie changed after signing
# it shows "Error" and ends with 1; with its signature removed again it is
# byte for byte the packed program and still plays.
set -uo pipefail
. "$(dirname "$0")/lib.sh"

kmov=${1:?usage: $0 KMOV PLAYER_TEMPLATE_EXE} template=${2:?}
[[ -f $template ]] || e2e_skip "$template is not built"
e2e_need osslsigncode openssl

e2e_init
e2e_start_display
e2e_need_japanese_locale
e2e_wine_prefix
t=$E2E_TMP

# wine_locale LANG: later Wine processes run in that locale, so with its
# system code page (932 for ja_JP, 1252 for C); the server is restarted.
wine_locale() {
    wineserver -k 2>/dev/null
    wineserver -w
    export LANG=$1 LC_ALL=$1
}

"$kmov" demo -o "$t/demo.kmov" >/dev/null || e2e_fail "kmov demo failed"
mkdir "$t/frames"
"$kmov" frames "$t/demo.kmov" --png "$t/frames" || e2e_fail "kmov frames failed"
last_png=$(ls "$t/frames"/*.png | tail -n 1)
convert "$last_png" -depth 8 "rgb:$t/last.rgb" || e2e_fail "cannot read $last_png"
image_size=$(stat -c %s "$template")

# play EXE LOG: starts EXE under Wine and waits for its window (in `win`)
# and for a picture in it; its pid in `pid`.
play() {
    e2e_start pid "$2" -- wine "$1"
    e2e_wait 40 e2e_window_of_pid "$pid" || e2e_fail "$1: no window within 40 s: $(cat "$2.err")"
    win=$E2E_OUT
}
# close_ok: the close button ends the program with 0.
close_ok() {
    e2e_close "$win"
    e2e_wait_exit "$pid" 15 || e2e_fail "still running 15 s after the close button"
    [[ $E2E_CODE == 0 ]] || e2e_fail "exit code $E2E_CODE after closing, not 0"
}
# change_word FILE OFFSET: flips bits of the byte at OFFSET, inside one word.
change_word() {
    local byte
    byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
    printf "\\x$(printf %02x $((byte ^ 0x5a)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# error_box EXE LOG: EXE shows the box titled "Error" and ends with 1 once
# it is dismissed.
error_box() {
    e2e_start pid "$2" -- wine "$1"
    e2e_wait 40 e2e_window_named Error || e2e_fail "$1: no box titled Error: $(cat "$2.err")"
    local box=$E2E_OUT
    e2e_shot "$box" "$2-box"
    e2e_press_return "$box"
    e2e_wait_exit "$pid" 15 || e2e_fail "the box did not go with Return"
    [[ $E2E_CODE == 1 ]] || e2e_fail "exit code $E2E_CODE after the box, not 1"
}
at_last_frame() { e2e_shot "$win" "$t/now" && cmp -s "$t/now.rgb" "$t/last.rgb"; }

# ---- Titles in three languages, under two system code pages ------------------------------

titles=("夏休みの散歩" "Café ü" "안녕하세요")
for locale in C.UTF-8 ja_JP.UTF-8; do
    wine_locale "$locale"
    for i in "${!titles[@]}"; do
        title=${titles[i]}
        "$kmov" pack "$template" "$t/demo.kmov" -o "$t/title$i.exe" --title "$title" ||
            e2e_fail "kmov pack --title '$title' failed"
        play "$t/title$i.exe" "$t/title$i-$locale.log"
        got=$(e2e_title "$win")
        [[ $got == "$title" ]] || e2e_fail "$locale: title '$got', not '$title'"
        close_ok
        e2e_log "$locale: title '$title' reads back"
    done
done

# ---- A Japanese name in a French folder, an English system -------------------------------------

wine_locale C.UTF-8
mkdir "$t/Café"
exe=$t/Café/夏休み.exe
"$kmov" pack "$template" "$t/demo.kmov" -o "$exe" --title "夏休み" || e2e_fail "kmov pack failed"
play "$exe" "$t/named.log"
e2e_wait 20 e2e_shot "$win" "$t/named-shot" || e2e_fail "no picture"
close_ok
e2e_log "C.UTF-8: Café/夏休み.exe plays and ends with 0"

cp "$exe" "$t/Café/壊れた.exe"
change_word "$t/Café/壊れた.exe" $((image_size + 4096))
error_box "$t/Café/壊れた.exe" "$t/changed.log"
e2e_log "C.UTF-8: a changed word shows Error and ends with 1"

# ---- Signed ------------------------------------------------------------------------------

(cd "$t" && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30 \
    -subj "/CN=kmov test" -addext extendedKeyUsage=codeSigning) >/dev/null 2>&1 ||
    e2e_fail "openssl could not make a certificate"
"$kmov" pack "$template" "$t/demo.kmov" -o "$t/plain.exe" --title "kmov signed" ||
    e2e_fail "kmov pack failed"
checksum=$(osslsigncode verify -in "$t/plain.exe" 2>&1)
[[ $checksum == *"PE checksum"* && $checksum != *"invalid PE checksum"* ]] ||
    e2e_fail "the packed program's PE checksum is not the calculated one: $checksum"
osslsigncode sign -certs "$t/cert.pem" -key "$t/key.pem" -in "$t/plain.exe" -out "$t/signed.exe" \
    >"$t/sign.log" 2>&1 || e2e_fail "osslsigncode sign failed: $(cat "$t/sign.log")"
osslsigncode verify -CAfile "$t/cert.pem" -in "$t/signed.exe" >"$t/verify.log" 2>&1 ||
    e2e_fail "osslsigncode verify failed: $(cat "$t/verify.log")"
"$kmov" verify "$t/signed.exe" || e2e_fail "kmov verify refuses the signed program"
"$kmov" pack "$t/signed.exe" "$t/demo.kmov" -o "$t/again.exe" 2>"$t/again.err" &&
    e2e_fail "kmov pack took a signed template"
grep -q "pack first, then sign" "$t/again.err" || e2e_fail "packing a signed template: $(cat "$t/again.err")"

play "$t/signed.exe" "$t/signed.log"
e2e_wait 40 at_last_frame || e2e_fail "the signed program did not reach its last frame"
close_ok
e2e_log "signed: verified by both and played to its last frame"

cp "$t/signed.exe" "$t/signed-changed.exe"
change_word "$t/signed-changed.exe" $((image_size + 4096))
error_box "$t/signed-changed.exe" "$t/signed-changed.log"
e2e_log "signed: a changed word shows Error and ends with 1"

osslsigncode remove-signature -in "$t/signed.exe" -out "$t/unsigned.exe" >/dev/null 2>&1 ||
    e2e_fail "osslsigncode remove-signature failed"
cmp -s "$t/unsigned.exe" "$t/plain.exe" || e2e_fail "without its signature it is not the packed program"
play "$t/unsigned.exe" "$t/unsigned.log"
e2e_wait 40 at_last_frame || e2e_fail "the unsigned-again program did not reach its last frame"
close_ok
e2e_log "signature removed: plays"
e2e_log "all checks passed"
