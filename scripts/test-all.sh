#!/usr/bin/env bash
# Runs every test: the native build (with sanitizers) and the Windows build under Wine.
# Installs what is missing first, so it passes on a fresh Debian 12 machine.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/bootstrap.sh || exit 1

jobs=$(nproc)
status=0
passed=0
failed=0

# Counts CTest's summary line into the totals.
tally() {
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
  if [ -n "$line" ]; then
    local total bad
    bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    total=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  else
    failed=$((failed + 1))
  fi
}

echo "== native build"
cmake --preset native >/dev/null && cmake --build --preset native -j"$jobs" || exit 1
echo "== native tests"
ctest --preset native -j"$jobs" -LE kernel 2>&1 | tee build/native/ctest.log
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
tally build/native/ctest.log

# Its guests take both cores: alone, so that no timing of another test suffers.
echo "== real serial drivers (QEMU guests)"
ctest --preset native -L kernel 2>&1 | tee build/native/ctest-kernel.log
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
tally build/native/ctest-kernel.log

echo "== fuzzing (a short run of each target)"
scripts/fuzz.sh 20 || { status=1; failed=$((failed + 1)); }

echo "== windows build"
cmake --preset windows -DTRELVO_NATIVE_BUILD="$root/build/native" >/dev/null &&
  cmake --build --preset windows -j"$jobs" || exit 1

source scripts/windows-env.bash
wine_env "$root/build/wineprefix"

# Windows that are drawn need an X display.
xvfb_pid=""
# Ends what this script started here, also when it is interrupted.
stop_windows_helpers() {
  wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap stop_windows_helpers EXIT
start_xvfb || status=1

echo "== windows tests (Wine)"
ctest --preset windows 2>&1 | tee build/windows/ctest.log
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
tally build/windows/ctest.log

echo
echo "$passed passed, $failed failed"
exit $status
