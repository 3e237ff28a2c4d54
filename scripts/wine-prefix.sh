#!/usr/bin/env bash
# Creates the private Wine prefix (no dialogs, no Mono or Gecko) when it is missing and
# prints its path. WINEPREFIX defaults to build/wineprefix.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/scripts/windows-env.bash"
wine_env "${WINEPREFIX:-$here/build/wineprefix}"
echo "$WINEPREFIX"
