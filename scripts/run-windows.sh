#!/usr/bin/env bash
# Runs the Windows program under Wine with a simulated scanner on COM5.
#
# Builds trelvo.exe (preset windows) and trelvo-sim (preset release), starts the simulator
# on a pseudo-terminal mapped to COM5 in a private Wine prefix, writes trelvo.ini beside
# trelvo.exe (port COM5 at 9600 baud, a demo firmware file), and starts the program.
# Press "Старт": the scanner is switched to its loader, the firmware is written, and the
# scanner goes back to its working program. When the program closes, the simulator's
# state is shown (mode, checksum verdict, whether its memory holds the demo firmware).
#
# Needs a display: a desktop session, or `xvfb-run -a scripts/run-windows.sh`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ -z "${DISPLAY:-}" ]; then
    echo "run-windows: no display; run it in a desktop session or under xvfb-run -a" >&2
    exit 1
fi

scripts/bootstrap.sh >/dev/null
echo "run-windows: building"
cmake --preset windows >/dev/null
cmake --build --preset windows --target trelvo >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release --target trelvo-sim ldr-make >/dev/null

demo=$root/build/run-windows
mkdir -p "$demo"
source scripts/windows-env.bash
wine_env "${WINEPREFIX:-$demo/prefix}"

scripts/make-demo-ldr.sh build/release/ldr-make "$demo/demo.ldr" 64
rm -f "$demo/com5" "$demo/state"
build/release/trelvo-sim --link "$demo/com5" --speed 2 --line-rate --expect-ldr "$demo/demo.ldr" \
    --state "$demo/state" >"$demo/sim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; wineserver -k >/dev/null 2>&1 || true; rm -f "$WINEPREFIX/dosdevices/com5"' EXIT
for _ in $(seq 50); do [ -e "$demo/com5" ] && break; sleep 0.1; done
[ -e "$demo/com5" ] || { echo "run-windows: the simulator did not start (see $demo/sim.log)" >&2; exit 1; }

# The serial-port list is a volatile registry key: keep the server up while it is used.
wineserver -p >/dev/null 2>&1 || true   # already up: it stays up while it has clients
ln -sfn "$demo/com5" "$WINEPREFIX/dosdevices/com5"
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v TrelvoSim /d COM5 /f >/dev/null 2>&1

exe=$root/build/windows/trelvo.exe
firmware=$(winepath -w "$demo/demo.ldr" 2>/dev/null)
printf '[Connect]\r\nPortName=COM5\r\nBaudRate=2\r\nTimeout=3000\r\n[Firmware]\r\nFileName=%s\r\n' \
    "$firmware" >"${exe%.exe}.ini"

echo "run-windows: trelvo.exe with the simulated scanner on COM5; press Старт"
wine "$exe" 2>>"$demo/wine.log"

echo "run-windows: the simulated scanner now:"
grep -E '^(mode|baud|verdict|image) ' "$demo/state" | sed 's/^/  /'
