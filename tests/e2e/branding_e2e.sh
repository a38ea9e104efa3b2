#!/usr/bin/env bash
# A program packed with its author's icon and version: the Windows one is a
# sound PE (objdump reads it, icoutils list the new images and the version,
# osslsigncode signs it and checks its checksum), shows the icon in its
# caption under Wine and still plays; the Linux one gives the icon to its
# window (_NET_WM_ICON).
#
# usage: branding_e2e.sh KMOV LINUX_TEMPLATE WINDOWS_TEMPLATE    (exit 77: skipped)
# SHOTS=DIR keeps the caption shots.
set -uo pipefail
. "$(dirname "$0")/lib.sh"

kmov=${1:?usage: $0 KMOV LINUX_TEMPLATE WINDOWS_TEMPLATE} linux=${2:?} windows=${3:?}
[[ -f $windows ]] || e2e_skip "$windows is not built"
e2e_need x86_64-w64-mingw32-objdump wrestool icotool osslsigncode openssl
e2e_init
t=$E2E_TMP

# A magenta disc on transparency: no colour of the players' own icon or of
# the window manager's caption.
convert -size 128x128 xc:none -fill '#ff00ff' -draw 'circle 64,64 64,4' "$t/icon.png" ||
    e2e_fail "cannot draw the icon"
"$kmov" demo -o "$t/demo.kmov" >/dev/null || e2e_fail "kmov demo failed"
"$kmov" pack "$windows" "$t/demo.kmov" -o "$t/plain.exe" --title "Plain" ||
    e2e_fail "kmov pack failed"
"$kmov" pack "$windows" "$t/demo.kmov" -o "$t/branded.exe" --title "Branded" \
    --icon "$t/icon.png" \
    --version-info "Company=Acme;Product=Demo;Version=2.3.4;Copyright=(c) Acme" ||
    e2e_fail "kmov pack --icon --version-info failed"
"$kmov" verify "$t/branded.exe" || e2e_fail "kmov verify refused the branded program"

# ---- The file ------------------------------------------------------------------------------

x86_64-w64-mingw32-objdump -p "$t/branded.exe" >"$t/objdump.txt" 2>&1 ||
    e2e_fail "objdump cannot read the branded program: $(tail -n 3 "$t/objdump.txt")"
grep -q 'Resource Directory \[.rsrc\]' "$t/objdump.txt" || e2e_fail "objdump finds no resources"
wrestool -x -t 14 -n 101 "$t/branded.exe" -o "$t/group.ico" || e2e_fail "no icon group 101"
sizes=$(icotool -l "$t/group.ico" | sed -n 's/.*--width=\([0-9]*\).*--bit-depth=32.*/\1/p' | tr '\n' ' ')
[[ $sizes == "16 24 32 48 64 256 " ]] || e2e_fail "icon group 101 holds: $sizes"
mkdir "$t/icons" && icotool -x -o "$t/icons" "$t/group.ico" || e2e_fail "icotool cannot extract"
centre=$(convert "$t/icons/group_6_256x256x32.png" -format '%[pixel:p{128,128}]' info:)
[[ $centre == *255,0,255* || $centre == magenta* ]] || e2e_fail "the 256 image's centre is $centre"
wrestool -x --raw -t 16 "$t/branded.exe" | iconv -f UTF-16LE -t UTF-8 2>/dev/null |
    tr -c '[:print:]' '\n' >"$t/version.txt"
for text in Acme Demo 2.3.4 "(c) Acme" Branded branded.exe; do
    grep -qxF "$text" "$t/version.txt" || e2e_fail "the version resource lacks '$text'"
done

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$t/key.pem" -out "$t/cert.pem" -days 2 \
    -subj "/CN=kmov test" -addext extendedKeyUsage=codeSigning 2>/dev/null ||
    e2e_fail "openssl cannot make a certificate"
osslsigncode sign -certs "$t/cert.pem" -key "$t/key.pem" -in "$t/branded.exe" \
    -out "$t/signed.exe" >"$t/sign.log" 2>&1 || e2e_fail "osslsigncode sign: $(cat "$t/sign.log")"
osslsigncode verify -CAfile "$t/cert.pem" -in "$t/signed.exe" >"$t/verify.log" 2>&1 ||
    e2e_fail "osslsigncode verify: $(tail -n 5 "$t/verify.log")"

# ---- The Windows player's caption ----------------------------------------------------------

e2e_start_display
e2e_need_japanese_locale
e2e_wine_prefix

# caption_shot EXE NAME: runs the program, waits for its window, shots the
# caption above the client area (the window manager draws it there with
# the window's icon) and the client area; leaves the program running.
caption_shot() {
    local x y w h
    e2e_start pid "$t/$2.log" -- wine "$1"
    e2e_wait 30 e2e_window_of_pid "$pid" || e2e_fail "$2: no window within 30 s"
    win=$E2E_OUT
    e2e_wait 10 test "$(e2e_title "$win")" = "$3" || e2e_fail "$2: title '$(e2e_title "$win")'"
    read -r x y w h < <(e2e_geometry "$win") || e2e_fail "$2: no geometry"
    ((y >= 16)) || e2e_fail "$2: no room for a caption above the window ($x $y)"
    # The caption above, including once the manager has put the icon in it.
    import -window root "$t/$2.full.png" || e2e_fail "cannot take a shot"
    convert "$t/$2.full.png" -crop "${w}x$((y < 40 ? y : 40))+${x}+$((y < 40 ? 0 : y - 40))" \
        +repage "$t/$2.caption.png" || e2e_fail "cannot crop the caption"
    e2e_shot "$win" "$t/$2.client" || e2e_fail "cannot shot the window"
}
# magenta_pixels PNG: how many pixels are near #ff00ff.
magenta_pixels() {
    convert "$1" -fuzz 20% -fill black +opaque '#ff00ff' -fill white -opaque '#ff00ff' \
        -format '%[fx:round(mean*w*h)]' info:
}
# Shows the icon, not before: the manager may set it a moment after mapping.
caption_has_icon() {
    import -window root "$t/again.png" &&
        convert "$t/again.png" -crop "${w}x40+${x}+$((y - 40))" +repage "$t/branded.caption.png" &&
        (($(magenta_pixels "$t/branded.caption.png") >= 20))
}

caption_shot "$t/plain.exe" plain Plain
plain_magenta=$(magenta_pixels "$t/plain.caption.png")
e2e_close "$win"
e2e_wait_exit "$pid" 20 || e2e_fail "plain: still running after closing"

caption_shot "$t/branded.exe" branded Branded
read -r x y w h < <(e2e_geometry "$win")
e2e_wait 10 caption_has_icon ||
    e2e_fail "the branded caption shows $(magenta_pixels "$t/branded.caption.png") magenta pixels"
((plain_magenta == 0)) || e2e_fail "the plain caption shows $plain_magenta magenta pixels"
# Still plays: the picture changes on its own.
cp "$t/branded.client.rgb" "$t/first.rgb"
changed() { e2e_shot "$win" "$t/now" && ! e2e_same_picture "$t/first" "$t/now"; }
e2e_wait 10 changed || e2e_fail "the branded program's picture does not change"
if [[ -n ${SHOTS:-} ]]; then
    mkdir -p "$SHOTS" && cp "$t"/plain.caption.png "$t"/branded.caption.png "$t/now.png" "$SHOTS/"
fi
e2e_close "$win"
e2e_wait_exit "$pid" 20 || e2e_fail "branded: still running after closing"
[[ $E2E_CODE == 0 ]] || e2e_fail "branded: exit code $E2E_CODE"

# ---- The Linux player's window icon --------------------------------------------------------

"$kmov" pack "$linux" "$t/demo.kmov" -o "$t/branded" --title "Branded" --icon "$t/icon.png" ||
    e2e_fail "kmov pack --icon (Linux) failed"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
e2e_start pid "$t/linux.log" -- "$t/branded"
e2e_wait 30 e2e_window_of_pid "$pid" || e2e_fail "Linux: no window within 30 s"
win=$E2E_OUT
# _NET_WM_ICON: width, height, then ARGB words; the centre pixel of 64x64.
icon_words() { xprop -id "$win" -notype 32c _NET_WM_ICON 2>/dev/null | tr -d ',' | cut -d= -f2; }
e2e_wait 10 test -n "$(icon_words)" || e2e_fail "Linux: the window has no icon"
read -ra words < <(icon_words)
((words[0] == 64 && words[1] == 64)) || e2e_fail "Linux: the icon is ${words[0]}x${words[1]}"
printf -v centre '%08x' "${words[2 + 32 * 64 + 32]}"
[[ $centre == ffff00ff ]] || e2e_fail "Linux: the icon's centre is $centre"
e2e_close "$win"
e2e_wait_exit "$pid" 20 || e2e_fail "Linux: still running after closing"
e2e_log "PASS"
