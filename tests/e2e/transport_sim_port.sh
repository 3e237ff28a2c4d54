#!/usr/bin/env bash
# The program's serial port against trelvo-sim on its pseudo-terminal: open at 9600 8N1,
# speed change, the read time-out on a silent line, a probe answered only at the
# scanner's speed, the missing-port message; under Wine also the SERIALCOMM listing.
#
# Arguments: build folder, native build folder (holding trelvo-sim), platform. On win32
# the port is COM25, a dosdevices link to the simulator's link, listed twice in
# HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (the list must show it once).
set -euo pipefail
source "$(dirname "$0")/e2e_common.bash"

e2e_arguments "$@"
model=201
work=$(mktemp -d)
sim_pid=
if [ "$platform" = win32 ]; then
    use_wine_prefix "${WINEPREFIX:-$build/wineprefix}"
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
cleanup() {
    if [ "$platform" = win32 ]; then
        rm -f "$WINEPREFIX/dosdevices/com25"
        wine cmd /c "reg delete $serialcomm /v Sim25 /f & reg delete $serialcomm /v Sim25b /f" \
            </dev/null >/dev/null 2>&1 || true
        # Wine's server may hold the pseudo-terminal as its controlling terminal; let it
        # go before the simulator closes the line, or the hang-up makes it dump its state.
        timeout 20 wineserver -w || true
    fi
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

[ -x "$sim" ] || fail "no trelvo-sim in $native"
"$sim" --link "$work/link" --model "$model" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
wait_until 5 test -L "$work/link" || fail "trelvo-sim made no link: $(cat "$work/sim.err")"

if [ "$platform" = win32 ]; then
    ln -sfn "$work/link" "$WINEPREFIX/dosdevices/com25"
    rm -f "$WINEPREFIX/dosdevices/com259"
    # The HARDWARE branch is volatile and lives only as long as the prefix's server: the
    # values are added in the same Wine session that runs the tests.
    tests=$(winepath -w "$build/trelvo_env_tests.exe")
    add="reg add $serialcomm /f /d COM25 /v"
    out=$(TRELVO_TEST_COM=COM25 TRELVO_TEST_SIM_MODEL=$model wine cmd /c \
          "$add Sim25 >nul && $add Sim25b >nul && $tests" \
          </dev/null 2>&1 | tr -d '\r') || fail "tests failed:"$'\n'"$out"
    want=5
else
    out=$(TRELVO_TEST_COM=$work/link TRELVO_TEST_SIM_MODEL=$model \
          "$build/trelvo_env_tests" 2>&1) || fail "tests failed:"$'\n'"$out"
    want=4
fi
echo "$out" | grep -q "SKIPPED" && fail "tests skipped:"$'\n'"$out"
echo "$out" | grep -q "\[  PASSED  \] $want tests" || fail "expected $want tests to pass:"$'\n'"$out"
echo "transport_sim_port: all checks passed ($platform)"
