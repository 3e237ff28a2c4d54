#!/usr/bin/env bash
# The main job, end to end on Linux: install what is missing, build, make a demo firmware
# file, start the scanner simulator on a pseudo-terminal (every byte taking its time on
# the wire, as on a real line), find it, flash it with trelvo-cli, show that it holds
# exactly the module's image and runs its working program again, and how long the
# transfer took against what the wire allows.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target trelvo-cli trelvo-sim ldr-make

bin=build/release
demo=$(pwd)/build/demo
rm -rf "$demo"
mkdir -p "$demo"

# Small enough that the whole demo takes about a minute at 115200 baud.
image_size=262144
echo "== a firmware file: a peripheral module and a $((image_size / 1024)) KiB computational module"
head -c "$image_size" /dev/urandom >"$demo/application.bin"
head -c 8192 /dev/urandom >"$demo/peripheral.bin"
"$bin/ldr-make" "$demo/demo.ldr" \
  --module 0:1.4:0x0:1024:"$demo/peripheral.bin" \
  --module 1:2.5:0x100000:4096:"$demo/application.bin"
"$bin/trelvo-cli" modules "$demo/demo.ldr"

echo "== the simulated scanner (at 57600 baud, bytes at the line's rate, checking the image)"
"$bin/trelvo-sim" --link "$demo/scanner" --speed 5 --serial 7340021 --model 152 --line-rate \
  --expect-ldr "$demo/demo.ldr" --state "$demo/state.txt" \
  --dump "$demo/dump.bin" 0x100000 "$image_size" >"$demo/sim.out" &
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
"${cli[@]}" update --trace "$demo/trace.txt"

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

# The transfer from the trace: from the first write request sent to the last reply. On
# the wire each 128-byte chunk is a 136-byte request and a 5-byte reply, 10 bits a byte
# at 115200 baud; nothing can be faster than that.
awk -F '\t' -v size="$image_size" '
    $5 == "write-memory" && $3 == ">" && !first { first = $1 }
    $5 == "write-memory" && $3 == "<" { last = $1 }
    END {
        seconds = (last - first) / 1e6
        chunks = size / 128
        limit = chunks * (136 + 5) * 10 / 115200
        printf "transfer: %d bytes in %.1f s (%d bytes/s)\n", size, seconds, size / seconds
        printf "the wire at 115200 baud allows it in %.1f s at best (%d write commands of 141 bytes): %.0f %% of the limit\n",
               limit, chunks, 100 * limit / seconds
    }' "$demo/trace.txt"
