#!/usr/bin/env bash
# Prints the path of a ready Wine prefix. The first call makes a template
# (wineboot, about 11 s) under build/wine/; every call copies it to a fresh
# prefix of its own (under a second), so no test sees another's leftovers.
# Usage: scripts/wine-prefix.sh [NAME]   (default: shared)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base="$root/build/wine"
template="$base/template"
name=${1:-shared}
mkdir -p "$base"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
(
    flock 9
    if [[ ! -f $template/.ready ]]; then
        rm -rf "$template"
        WINEPREFIX="$template" wineboot -i >/dev/null 2>&1 || true
        WINEPREFIX="$template" wineserver -w || true
        # No window manager in a virtual display: let Wine draw its own
        # frames, or DestroyWindow stalls.
        WINEPREFIX="$template" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
            >/dev/null 2>&1 || true
        WINEPREFIX="$template" wineserver -w || true
        touch "$template/.ready"
    fi
    if [[ ! -d $base/$name ]]; then
        cp -a "$template" "$base/$name"
    fi
) 9>"$base/.lock"
echo "$base/$name"
