#!/usr/bin/env bash
# trelvo-cli station on three ports: the second and third scanners turn up a few seconds
# after the station started, every image exact, one record each; a finished scanner left
# connected is not switched again for 10 s; another scanner on a finished port is a new
# job and the fourth ends the station; each is written at the transfer speed asked for. update --skip-current never asks a scanner already
# at the module's version for its loader.
#
# Arguments: build folder, native build folder (holding trelvo-sim and ldr-make), platform.
source "$(dirname "$0")/cli_common.bash" "$@"

image_address=0x10000 block_size=256 image_size=8192
head -c "$image_size" /dev/urandom >"$work/image.bin"
"$ldr_make" "$work/fw.ldr" --module "1:3.7:$image_address:$block_size:$work/image.bin" >/dev/null ||
    fail "ldr-make failed"
firmware_arg=$(tool_path "$work/fw.ldr")
log_arg=$(tool_path "$work/results.jsonl")
trace_arg=$(tool_path "$work/trace.txt")

# expect_flashed NAME PID: the simulator, ended, holds exactly the image and runs its
# application again.
expect_flashed() {
    kill "$2"
    wait "$2" 2>/dev/null || true
    state_has "$1" "image match" || fail "$1: the image written is not the module"
    state_has "$1" "mode application" || fail "$1: not back in its application"
    cmp -s "$work/$1.dump" "$work/image.bin" || fail "$1: memory differs from the image"
}

records() {
    if [ -f "$work/results.jsonl" ]; then wc -l <"$work/results.jsonl"; else echo 0; fi
}
has_records() {
    [ "$(records)" -ge "$1" ]
}

# The ports' names are known before their scanners are there.
expose a 61
expose b 62
expose c 63
flash_sim a 61 2001; pid_a=${sim_pids[-1]}
cli_start station --port "$(port a)" --port "$(port b)" --port "$(port c)" --count 4 \
    --firmware "$firmware_arg" --log "$log_arg" --transfer-speed 9
sleep 3
flash_sim b 62 2002 --speed 5; pid_b=${sim_pids[-1]}
flash_sim c 63 2003 --usb; pid_c=${sim_pids[-1]}
wait_until 60 has_records 1 || fail "a was not updated"
first_done=$SECONDS
restarts_a=$(grep '^restarts ' "$work/a.state")
wait_until 60 has_records 3 || fail "b and c were not updated: $(cat "$work/cli.raw")"
for serial in 2001 2002 2003; do
    jq -se --argjson s "$serial" 'any(.[]; .serial == $s and .ok and .rows[0].status == "OK")' \
        "$work/results.jsonl" >/dev/null || fail "no OK record of $serial: $(cat "$work/results.jsonl")"
done
jq -se 'all(.[]; .transfer_baud == 921600)' "$work/results.jsonl" >/dev/null ||
    fail "the station's transfer speed: $(cat "$work/results.jsonl")"
# a stays connected and answering: the station looks at it but never switches it again.
sleep $((10 - (SECONDS - first_done) > 0 ? 10 - (SECONDS - first_done) : 0))
[ "$(grep '^restarts ' "$work/a.state")" = "$restarts_a" ] || fail "a was switched again"
[ "$(records)" -eq 3 ] || fail "a finished scanner was taken again"
expect_flashed b "$pid_b"
expect_flashed c "$pid_c"

# Another scanner on a's port: a new job, the fourth, which ends the station.
expect_flashed a "$pid_a"
flash_sim a 61 2004; pid_a=${sim_pids[-1]}
cli_wait
expect_rc 0 "four scanners finished"
[ "$(records)" -eq 4 ] || fail "not four records"
jq -se 'any(.[]; .serial == 2004 and .ok)' "$work/results.jsonl" >/dev/null || fail "the new scanner's record"
expect_flashed a "$pid_a"
for serial in 2001 2002 2003 2004; do
    grep -q $'\t'"$serial"$'\tOK$' "$work/cli.out" || fail "no line for $serial"
done
grep -qx 'Итого: OK — 4, ошибок — 0, пропущено — 0, прервано — 0' "$work/cli.out" ||
    fail "totals: $(tail -1 "$work/cli.out")"

# A scanner already at 3.7: no mode-register write, every row skipped, exit 0.
start_sim current 64 --serial 2005 --app-version $((0x0307))
cli update --port "$(port current)" --firmware "$firmware_arg" --skip-current --trace "$trace_arg" \
    --log "$log_arg"
expect_rc 0 "a current scanner skipped"
grep -q '^Обновление прошивки: Пропущен' "$work/cli.out" || fail "the firmware row is not skipped"
# Reading the serial number selects the ATmega and back (bit 0.5): no write asks for the
# loader (bit 0.1).
awk -F '\t' '$3 == ">" && substr($4, 1, 6) == "02059f" && index("2367abef", substr($4, 8, 1)) { exit 1 }' \
    "$work/trace.txt" || fail "a current scanner was asked for its loader"
sha=$(sha256sum "$work/fw.ldr" | cut -d' ' -f1)
head -2 "$work/trace.txt" | grep -q "^# trace started .*; trelvo-cli .*, command line: update --port" ||
    fail "the trace's heading: $(head -1 "$work/trace.txt")"
grep -qx "# firmware .*, sha256 $sha" "$work/trace.txt" || fail "the trace names no firmware hash"
for event in 'program version before: 3.7' 'row 1 result: Пропущен'; do
    grep -q $'\t\*\t'"$event" "$work/trace.txt" || fail "no trace event '$event'"
done
state_has current "restarts 0" || fail "the current scanner was restarted"
tail -1 "$work/results.jsonl" | jq -e '.serial == 2005 and ([.rows[].status] == ["Пропущен", "Пропущен"])' \
    >/dev/null || fail "the skipped record: $(tail -1 "$work/results.jsonl")"
tail -1 "$work/results.jsonl" | jq -e '.skipped == true and .program_version_before != null' \
    >/dev/null || fail "the skipped record's fields: $(tail -1 "$work/results.jsonl")"
"$root/tests/e2e/validate_records.py" "$root/docs/result-record.schema.json" "$work/results.jsonl" ||
    fail "records against the schema"

echo "cli_station ($platform): ok"
