#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix, quietly.
# WINEPREFIX defaults to build/wineprefix, made when missing.
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/scripts/windows-env.bash"
wine_env "${WINEPREFIX:-$here/build/wineprefix}"
exec wine "$@"
