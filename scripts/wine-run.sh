#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest: quiet Wine, carriage returns
# stripped from what it prints, its exit status kept. The prefix comes from
# WINEPREFIX (scripts/wine-prefix.sh makes one); without it, a private one
# is made under build/.
set -o pipefail
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winealsa.drv,winepulse.drv=d}"
if [[ -z ${WINEPREFIX:-} ]]; then
    WINEPREFIX=$("$(dirname "$0")/wine-prefix.sh")
    export WINEPREFIX
fi
# stderr goes through a file: a wineserver started by this call keeps the
# descriptors it inherited open, so a pipe would never see its end.
errors=$(mktemp)
wine "$@" 2>"$errors" | tr -d '\r'
status=${PIPESTATUS[0]}
tr -d '\r' <"$errors" >&2
rm -f "$errors"
exit "$status"
