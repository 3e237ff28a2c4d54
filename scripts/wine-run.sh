#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix, quietly.
# WINEPREFIX defaults to build/wineprefix; scripts/wine-prefix.sh creates it.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
[ -d "$WINEPREFIX" ] || "$here/scripts/wine-prefix.sh" >/dev/null
exec wine "$@"
