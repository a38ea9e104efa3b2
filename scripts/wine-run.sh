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
wine "$@" 2> >(tr -d '\r' >&2) | tr -d '\r'
status=${PIPESTATUS[0]}
wait
exit "$status"
