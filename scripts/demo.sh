#!/usr/bin/env bash
# The main job, end to end on Linux: install what is missing, build, make a demo firmware
# file, start the scanner simulator on a pseudo-terminal, find it, flash it with
# trelvo-cli and show that it holds exactly the module's image and runs its working
# program again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target trelvo-cli trelvo-sim ldr-make

bin=build/release
demo=$(pwd)/build/demo
rm -rf "$demo"
mkdir -p "$demo"

echo "== a firmware file: a peripheral module and a 256 KiB computational module"
head -c 262144 /dev/urandom >"$demo/application.bin"
head -c 8192 /dev/urandom >"$demo/peripheral.bin"
"$bin/ldr-make" "$demo/demo.ldr" \
  --module 0:1.4:0x0:1024:"$demo/peripheral.bin" \
  --module 1:2.5:0x100000:4096:"$demo/application.bin"
"$bin/trelvo-cli" modules "$demo/demo.ldr"

echo "== the simulated scanner (at 57600 baud, checking the image against the file)"
"$bin/trelvo-sim" --link "$demo/scanner" --speed 5 --serial 7340021 --model 152 \
  --expect-ldr "$demo/demo.ldr" --state "$demo/state.txt" \
  --dump "$demo/dump.bin" 0x100000 262144 >"$demo/sim.out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$demo/scanner" ] && break; sleep 0.05; done
echo "scanner on $(cat "$demo/sim.out")"

# The same settings file the Windows program keeps beside its executable.
cat >"$demo/trelvo.ini" <<INI
[Connect]
PortName=$demo/scanner
BaudRate=2
Timeout=1000
[Firmware]
FileName=$demo/demo.ldr
INI
cli=("$bin/trelvo-cli" --settings "$demo/trelvo.ini")

echo "== search for it"
"$bin/trelvo-cli" search "$demo/scanner"
echo "== link check (the settings say 9600; the run finds the scanner's speed itself)"
"${cli[@]}" --speed 5 check
echo "== device information"
"${cli[@]}" --speed 5 info
echo "== firmware update"
"${cli[@]}" update

kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
trap - EXIT

echo "== what the simulator holds"
cat "$demo/state.txt"
if cmp -s "$demo/dump.bin" "$demo/application.bin" && grep -q '^mode application' "$demo/state.txt" &&
  grep -q '^image match' "$demo/state.txt"; then
  echo "OK: the scanner holds exactly the module's image and runs its working program"
else
  echo "FAILED: the scanner does not hold the module's image or is not in its working program"
  exit 1
fi
