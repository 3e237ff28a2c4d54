#!/usr/bin/env bash
# The Windows program's windows under Wine, driven in-process by trelvo_gui_tests.exe,
# against simulated scanners on COM41-COM46 (pseudo-terminals mapped into a private
# prefix). Screenshots of the windows land in BUILD/gui-shots as PNG files.
#
# usage: gui_windows.sh BUILD NATIVE_BUILD PLATFORM
set -uo pipefail
source "$(dirname "$0")/e2e_common.bash"
build=$(cd "$1" && pwd)
native=${2:-}
platform=${3:-}
if [ "$platform" != win32 ]; then
    echo "gui_windows: the Windows build's test; nothing to do on $platform"
    exit 0
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
sim=$native/trelvo-sim
exe=$build/trelvo_gui_tests.exe
for need in "$sim" "$exe"; do
    [ -x "$need" ] || { echo "gui_windows: missing $need"; exit 1; }
done

work=$build/gui-work
shots=$build/gui-shots
rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"
use_wine_prefix "$build/gui-prefix"

pids=()
xvfb_pid=""
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wineserver -k >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -f "$WINEPREFIX"/dosdevices/com4[1-6]
}
trap cleanup EXIT
start_xvfb || { echo "gui_windows: no X display"; exit 1; }

"$root/scripts/make-demo-ldr.sh" "$native/ldr-make" "$work/demo.ldr" || exit 1
# COM41: the scanner to update (9600 baud, checks the image against the demo file);
# COM42: a scanner at 57600 for the search; COM43: one whose flash refuses every write;
# COM44: another scanner to update at 9600; COM45: a port where nothing answers; COM46:
# a scanner that never answers a memory write (0x9C), silent in the middle of an update.
common=(--restart-ms 300 --line-rate)
"$sim" --link "$work/com41" --speed 2 "${common[@]}" --expect-ldr "$work/demo.ldr" \
    --state "$work/state41" >"$work/sim41.log" 2>&1 &
pids+=($!)
"$sim" --link "$work/com42" --speed 5 "${common[@]}" --expect-ldr "$work/demo.ldr" \
    --state "$work/state42" >"$work/sim42.log" 2>&1 &
pids+=($!)
"$sim" --link "$work/com43" --speed 2 "${common[@]}" --write-error 147 >"$work/sim43.log" 2>&1 &
pids+=($!)
"$sim" --link "$work/com44" --speed 2 "${common[@]}" --expect-ldr "$work/demo.ldr" \
    --state "$work/state44" >"$work/sim44.log" 2>&1 &
pids+=($!)
"$sim" --link "$work/com45" --fault any:noreply:4000000000 >"$work/sim45.log" 2>&1 &
pids+=($!)
"$sim" --link "$work/com46" --speed 2 "${common[@]}" --fault 156:noreply:4000000000 \
    --state "$work/state46" >"$work/sim46.log" 2>&1 &
pids+=($!)
for n in 41 42 43 44 45 46; do
    wait_until 5 test -e "$work/com$n" || { echo "gui_windows: the simulator on com$n did not start"; exit 1; }
done

# The serial-port list lives in a volatile registry key: the server must stay up between
# filling it and the test.
wineserver -p >/dev/null 2>&1
for n in 41 42 43 44 45 46; do
    ln -sfn "$work/com$n" "$WINEPREFIX/dosdevices/com$n"
    wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "GuiSim$n" /d "COM$n" /f >/dev/null 2>&1
done
# Wine draws the title bars itself, as there is no window manager.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

winpath() { winepath -w "$1" 2>/dev/null; }
# The run is ended here, inside the test's own time limit, so that the clean-up still runs.
TRELVO_GUI_PORT=COM41 TRELVO_GUI_SEARCH_PORT=COM42 TRELVO_GUI_FAILING_PORT=COM43 \
TRELVO_GUI_SECOND_PORT=COM44 TRELVO_GUI_SILENT_PORT=COM45 TRELVO_GUI_MUTE_WRITES_PORT=COM46 \
TRELVO_GUI_MUTE_WRITES_STATE=$(winpath "$work/state46") \
TRELVO_GUI_SEARCH_STATE=$(winpath "$work/state42") TRELVO_GUI_SECOND_STATE=$(winpath "$work/state44") \
TRELVO_GUI_WORK=$(winpath "$work") TRELVO_GUI_FIRMWARE=$(winpath "$work/demo.ldr") \
TRELVO_GUI_SIM_STATE=$(winpath "$work/state41") TRELVO_GUI_SHOTS=$(winpath "$shots") \
    timeout "${GUI_TEST_TIMEOUT:-540}" wine "$exe" ${GUI_TEST_FILTER:+--gtest_filter="$GUI_TEST_FILTER"} 2>&1 | tee "$work/gui-tests.log"
status=${PIPESTATUS[0]}

for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
grep -q '\[  PASSED  \]' "$work/gui-tests.log" || status=1
exit "$status"
