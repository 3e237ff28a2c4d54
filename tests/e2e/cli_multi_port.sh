#!/usr/bin/env bash
# trelvo-cli update on three simulated scanners at once: every image exact, one refusing
# its writes while the other two still finish, --all finding a scanner at 57600 and a
# USB one that re-creates its port at each restart, Ctrl+C stopping all three, and the
# result log with one valid line per scanner naming the firmware file by its hash.
#
# Arguments: build folder, native build folder (holding trelvo-sim and ldr-make), platform.
source "$(dirname "$0")/cli_common.bash" "$@"

image_address=0x10000
block_size=256
image_size=16384

head -c "$image_size" /dev/urandom >"$work/image.bin"
"$ldr_make" "$work/fw.ldr" --module "1:3.6:$image_address:$block_size:$work/image.bin" >/dev/null ||
    fail "ldr-make failed"
if [ "$platform" = win32 ]; then
    firmware_arg=Z:$work/fw.ldr
    log_arg=Z:$work/results.jsonl
    trace_arg=Z:$work/trace.txt
else
    firmware_arg=$work/fw.ldr
    log_arg=$work/results.jsonl
    trace_arg=$work/trace.txt
fi
sha=$(sha256sum "$work/fw.ldr" | cut -d' ' -f1)

# expect_flashed NAME...: the simulators, ended, hold exactly the image and run their
# application again.
expect_flashed() {
    local name
    for name in "$@"; do
        kill "${sim_pid[$name]}"
        wait "${sim_pid[$name]}" 2>/dev/null || true
        state_has "$name" "image match" || fail "$name: the image written is not the module"
        state_has "$name" "mode application" || fail "$name: not back in its application"
        cmp -s "$work/$name.dump" "$work/image.bin" || fail "$name: memory differs from the image"
    done
}
declare -A sim_pid=()
remember() {
    sim_pid[$1]=${sim_pids[-1]}
}

# table_row PORT: the final table's line of a port.
table_row() {
    grep "^$1 " "$work/cli.out" || true
}

# Three scanners at once, one of them USB; the log gets one line each, and the three
# ports' frames share one trace.
flash_sim a 51 1001; remember a
flash_sim b 52 1002 --speed 5; remember b
flash_sim c 53 1003 --usb; remember c

# Before any port is touched: a firmware file without the module the update writes, and
# a log that takes no records (/dev/full is no file), end the run with no request
# reaching a scanner.
"$ldr_make" "$work/peripheral.ldr" --random 0:1.1:0:256:1024:5 >/dev/null || fail "ldr-make failed"
cli update --port "$(port a)" --port "$(port b)" --firmware "${firmware_arg%fw.ldr}peripheral.ldr"
expect_rc 1 "a firmware file without the computational module"
grep -q 'нет модуля "Вычислительный модуль"' "$work/cli.err" || fail "the missing module is not named"
if [ "$platform" = posix ]; then
    cli update --port "$(port a)" --port "$(port b)" --firmware "$firmware_arg" --log /dev/full
    expect_rc 2 "a log on /dev/full"
    grep -q '^trelvo-cli: Журнал "/dev/full" не удаётся открыть для записи: ' "$work/cli.err" ||
        fail "the log's refusal: $(cat "$work/cli.err")"
fi
for n in a b; do
    state_has "$n" "commands 0" || fail "$n was touched before the files were checked"
done
cli update --port "$(port a)" --port "$(port b)" --port "$(port c)" --firmware "$firmware_arg" \
    --log "$log_arg" --trace "$trace_arg"
expect_rc 0 "three scanners at once"
for n in a b c; do
    row=$(table_row "$(port $n)")
    [[ "$row" == *"OK / OK"* ]] || fail "$n: table row '$row'"
    grep -q "^$(port $n): Обновление прошивки: Выполнено: 100% (" "$work/cli.out" ||
        fail "$n: no progress lines prefixed with the port"
done
grep -q '^порт ' "$work/cli.out" || fail "no table header"
expect_flashed a b c
[ "$(wc -l <"$work/results.jsonl")" -eq 3 ] || fail "not one log line per scanner"
for n in 1 2 3; do
    line=$(sed -n "${n}p" "$work/results.jsonl")
    echo "$line" | jq -e --arg sha "$sha" \
        '.firmware.sha256 == $sha and .firmware.name == "fw.ldr" and .ok == true and
         (.serial | IN(1001, 1002, 1003)) and (.rows | length) == 2 and .rows[0].status == "OK"' \
        >/dev/null || fail "log line $n: $line"
done
cp "$work/results.jsonl" "$work/flashed.jsonl"
traced=$(check_trace "$work/trace.txt") || fail "trace: $traced"
for n in a b c; do
    # At least one write per block of the image, each answered; the port's open, speed,
    # purges and close as events.
    read -r frames events <<<"$(grep "^$(port $n) " <<<"$traced" | cut -d' ' -f2-)" || true
    [ "${frames:-0}" -gt $((2 * image_size / 128)) ] && [ "${events:-0}" -gt 4 ] ||
        fail "$n: trace has ${frames:-0} frames and ${events:-0} events"
done

# One scanner refuses every write: it ends in error, the other two still finish.
flash_sim a 51 1001; remember a
flash_sim b 52 1002 --write-error 147; remember b
flash_sim c 53 1003 --speed 6; remember c
cli update --port "$(port a)" --port "$(port b)" --port "$(port c)" --firmware "$firmware_arg" \
    --speed 6 --jobs 2
expect_rc 1 "one scanner refusing its writes"
grep -q "^$(port b): (147)" "$work/cli.err" || fail "the failed port is not named with its message"
[[ "$(table_row "$(port b)")" == *"Ошибка / -"* ]] || fail "refusing scanner's table row"
expect_flashed a c
kill "${sim_pid[b]}"

# --all: every port on which a scanner answers, at 57600 and USB among them.
flash_sim d 54 1004 --speed 5; remember d
flash_sim e 55 1005 --usb; remember e
start_sim silent 56 --fault any:noreply:4000000000
if [ "$platform" = win32 ]; then
    cli update --all --firmware "$firmware_arg"
else
    # A pseudo-terminal is never listed by the system: name them for the search (d twice:
    # it runs once).
    cli update --all --port "$(port d)" --port "$(port e)" --port "$(port silent)" \
        --port "$(port d)" --firmware "$firmware_arg"
    [ "$(grep -c "^$(port d) " "$work/cli.out")" -eq 1 ] || fail "--all: d not run once"
fi
expect_rc 0 "--all"
[[ "$(table_row "$(port d)")" == *"OK / OK"* ]] || fail "--all: the 57600 scanner"
[[ "$(table_row "$(port e)")" == *"OK / OK"* ]] || fail "--all: the USB scanner"
[ -z "$(table_row "$(port silent)")" ] || fail "--all: a silent port was updated"
expect_flashed d e
# --all with no scanner anywhere says which ports it searched, and what each said.
if [ "$platform" = posix ]; then
    cli update --all --port "$(port silent)" --firmware "$firmware_arg"
    expect_rc 3 "--all without a scanner"
    grep -qx "$(port silent)"$'\tНе обнаружено' "$work/cli.err" || fail "--all: $(cat "$work/cli.err")"
fi

# Ctrl+C while all three restart into their loaders: every port stops, exit 130, and
# each record says it was stopped, not failed.
for n in 1 2 3; do
    start_sim "slow$n" $((56 + n)) --restart-ms 60000; remember "slow$n"
done
: >"$work/results.jsonl"
cli_start update --port "$(port slow1)" --port "$(port slow2)" --port "$(port slow3)" \
    --firmware "$firmware_arg" --log "$log_arg"
for n in 1 2 3; do
    wait_until 30 state_has "slow$n" "mode restarting" || fail "slow$n was never switched"
done
kill -INT "$cli_pid"
cli_wait
expect_rc 130 "Ctrl+C on three ports"
for n in 1 2 3; do
    [[ "$(table_row "$(port slow$n)")" == *"Прервано / -"* ]] || fail "slow$n was not interrupted"
done
[ "$(grep -c '"ok":false,"stopped":true,"failure":""' "$work/results.jsonl")" -eq 3 ] ||
    fail "the stopped ports' records: $(cat "$work/results.jsonl")"

"$root/tests/e2e/validate_records.py" "$root/docs/result-record.schema.json" \
    "$work/flashed.jsonl" "$work/results.jsonl" || fail "records against the schema"
echo "cli_multi_port ($platform): ok"
