#!/usr/bin/env bash
# trelvo-cli update against simulated scanners on pseudo-terminals: the computational
# module of an .ldr file made with ldr-make lands in the scanner byte for byte, on an
# ordinary line and on a USB scanner that re-creates its port at each restart; with
# replies hit by random faults every run ends either with the exact image and exit 0 or
# with a message and a non-zero exit, never with a wrong image reported as OK.
#
# Arguments: build folder, native build folder (holding trelvo-sim and ldr-make), platform.
source "$(dirname "$0")/cli_common.bash" "$@"

image_address=0x10000
block_size=256
image_size=8192

head -c "$image_size" /dev/urandom >"$work/image.bin"
head -c 1024 /dev/urandom >"$work/peripheral.bin"
"$ldr_make" "$work/fw.ldr" --module "0:1.1:0:$block_size:$work/peripheral.bin" \
    --module "1:3.6:$image_address:$block_size:$work/image.bin" >/dev/null ||
    fail "ldr-make failed"
# The settings file names fw.ldr; the command line names a copy with a Cyrillic name,
# which a Western ANSI code page cannot hold: the Windows build must take its arguments
# from the wide command line.
cp "$work/fw.ldr" "$work/прошивка.ldr"

if [ "$platform" = win32 ]; then
    firmware_arg=Z:$work/прошивка.ldr
    settings_firmware=Z:$work/fw.ldr
    log_arg=Z:$work/results.jsonl
else
    firmware_arg=$work/прошивка.ldr
    settings_firmware=$work/fw.ldr
    log_arg=$work/results.jsonl
fi
loader_note_9600='Сканер остался в режиме загрузчика на скорости 9600 бод: обновление нужно запустить ещё раз.'
loader_note_38400='Сканер остался в режиме загрузчика на скорости 38400 бод: обновление нужно запустить ещё раз.'

# flash_sim NAME COMNUMBER OPTIONS...: a scanner that judges the written image against
# the module and dumps the image range when it ends.
flash_sim() {
    local name=$1 number=$2
    shift 2
    start_sim "$name" "$number" --restart-ms 300 --expect-ldr "$work/fw.ldr" \
        --dump "$work/$name.dump" "$image_address" "$image_size" "$@"
}

# expect_flashed NAME: the simulator, ended, holds exactly the image and runs its
# application again.
expect_flashed() {
    stop_sim
    state_has "$1" "image match" || fail "$1: the image written is not the module"
    state_has "$1" "mode application" || fail "$1: not back in its application"
    cmp -s "$work/$1.dump" "$work/image.bin" || fail "$1: memory differs from the image"
}

expect_rows_ok() {
    grep -qx 'Обновление прошивки: OK' "$work/cli.out" || fail "$1: no OK for the update row"
    grep -qx 'Переход в рабочий режим: OK' "$work/cli.out" || fail "$1: no OK for the second row"
    [ "$(tail -n 1 "$work/cli.out")" = 'Переход в рабочий режим: OK' ] || fail "$1: last line"
}

# An ordinary line, the scanner at 38400 and the settings at 9600: the run finds it.
flash_sim plain 34 --speed 4
printf '[Connect]\nPortName=%s\nBaudRate=2\nTimeout=1000\n[Firmware]\nFileName=%s\n[Log]\nStation=Линия 2\nTag.Operator=Иванов\nTag.shift=1\n' \
    "$(port plain)" "$settings_firmware" >"$work/trelvo.ini"
if [ "$platform" = win32 ]; then
    # As the Windows program writes it: its profile calls read a file without the UTF-16
    # mark in the ANSI code page.
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$work/trelvo.ini"; } >"$work/trelvo.ini.16"
    mv "$work/trelvo.ini.16" "$work/trelvo.ini"
fi
cp "$work/trelvo.ini" "$work/trelvo.ini.before"
if [ "$platform" = win32 ]; then settings_arg=Z:$work/trelvo.ini; else settings_arg=$work/trelvo.ini; fi
cli update --settings "$settings_arg" --log "$log_arg" --tag order=WO-7 --tag operator=Петров
expect_rc 0 "update on an ordinary line"
expect_rows_ok plain
# The station and tags of the settings file, --tag laid over a tag of the same name.
jq -e '.station == "Линия 2" and .tags == {"operator": "Петров", "shift": "1", "order": "WO-7"}' \
    "$work/results.jsonl" >/dev/null || fail "plain: record $(cat "$work/results.jsonl")"
grep -q '^Обновление прошивки: Выполнено: 100% (' "$work/cli.out" || fail "no progress lines"
[ "$(grep -c '^Обновление прошивки: Выполнено:' "$work/cli.out")" -eq $((image_size / block_size)) ] ||
    fail "not one progress line per block"
cmp -s "$work/trelvo.ini" "$work/trelvo.ini.before" || fail "update wrote the settings file"
expect_flashed plain

# A USB scanner: its port goes away and comes back behind the same name at each restart.
flash_sim usb 35 --usb
cli update --port "$(port usb)" --firmware "$firmware_arg"
expect_rc 0 "update on a re-enumerating scanner"
expect_rows_ok usb
expect_flashed usb

# A scanner that refuses every write: the message, a non-zero exit, nothing reported OK.
flash_sim refusing 36 --write-error 147
cli update --port "$(port refusing)" --firmware "$firmware_arg" --retry 1
expect_rc 1 "update on a scanner refusing writes"
grep -q '(147)' "$work/cli.err" || fail "no write error message"
[ "$(grep -c '^Обновление прошивки: Ошибка$' "$work/cli.out")" -eq 2 ] || fail "not tried twice"
! grep -q ': OK$' "$work/cli.out" || fail "a row reported OK"
# The failed transfer left it at 115200; the run put it back, in its loader, and says so.
[ "$(tail -n 1 "$work/cli.out")" = "$loader_note_9600" ] || fail "refusing: last line"
wait_until 2 state_has refusing "speed 2" || fail "refusing: not back at 9600"
stop_sim

# A row that failed once and then went through: the scanner ends at the speed it was
# found at, not at the transfer's 115200.
flash_sim retried 36 --speed 4 --fault 156:status:1:147
cli update --port "$(port retried)" --firmware "$firmware_arg" --retry 1 --log "$log_arg"
expect_rc 0 "a retried row"
# Its record: the update begun twice and the return once, the scanner's own id and its
# computational processor's versions from its loader, left at 38400.
tail -n 1 "$work/results.jsonl" | jq -e '[.rows[].attempts] == [2, 1] and .ok == true and
    .unique_id == "515a54010203040506070809" + "0a0b0c0d" and .hardware_version == "2.0" and
    .loader_version == "1.4" and .left_baud == 38400 and .skipped == false and
    .start_time <= .end_time and .station == .host and .tags == {}' >/dev/null ||
    fail "retried: record $(tail -n 1 "$work/results.jsonl")"
expect_rows_ok retried
wait_until 2 state_has retried "speed 4" || fail "retried: not back at 38400"
expect_flashed retried

# A scanner moved to 921600: the search finds it after the other speeds, and the update
# flashes it there (at the speed the search found; a run's own search is the same).
flash_sim fastest 36 --speed 9
cli search "$(port fastest)"
expect_rc 0 "search at 921600"
grep -q "^$(port fastest)"$'\t921600\t' "$work/cli.out" || fail "search: $(cat "$work/cli.out")"
cli update --port "$(port fastest)" --firmware "$firmware_arg" --speed 9
expect_rc 0 "update at 921600"
expect_rows_ok fastest
wait_until 2 state_has fastest "speed 9" || fail "fastest: not back at 921600"
expect_flashed fastest

# The transfer at 921600 from a scanner found at 9600: the exact image, the scanner
# back at 9600, and the record names the speed the module went out at.
flash_sim fast 36
cli update --port "$(port fast)" --firmware "$firmware_arg" --transfer-speed 9 --log "$log_arg"
expect_rc 0 "update at transfer speed 921600"
expect_rows_ok fast
wait_until 2 state_has fast "speed 2" || fail "fast: not back at 9600"
tail -n 1 "$work/results.jsonl" | jq -e '.transfer_baud == 921600 and .ok' >/dev/null ||
    fail "fast: record $(tail -n 1 "$work/results.jsonl")"
expect_flashed fast

# A loader that refuses 921600 is written at 115200, and that is no failure.
flash_sim refuses9 36 --max-speed 8
cli update --port "$(port refuses9)" --firmware "$firmware_arg" --transfer-speed 9 --log "$log_arg"
expect_rc 0 "update of a scanner refusing 921600"
expect_rows_ok refuses9
tail -n 1 "$work/results.jsonl" | jq -e '.transfer_baud == 115200 and .ok' >/dev/null ||
    fail "refuses9: record $(tail -n 1 "$work/results.jsonl")"
expect_flashed refuses9

# An adapter that cannot carry 921600: the scanner takes the speed and is heard no more.
# The run ends within seconds with the message naming the speed, nothing written.
flash_sim narrow 36 --max-line-baud 460800
narrow_at=$SECONDS
cli update --port "$(port narrow)" --firmware "$firmware_arg" --transfer-speed 9 --log "$log_arg"
expect_rc 1 "update over a line limited to 460800"
[ $((SECONDS - narrow_at)) -le 15 ] || fail "narrow: told after $((SECONDS - narrow_at)) s"
grep -qF 'Сканер не отвечает после перехода на скорость записи 921600 бод' "$work/cli.err" ||
    fail "narrow: no message naming the speed"
tail -n 1 "$work/results.jsonl" | jq -e '.transfer_baud == null and (.failure | test("921600"))' \
    >/dev/null || fail "narrow: record $(tail -n 1 "$work/results.jsonl")"
stop_sim
state_has narrow "session_bytes 0" || fail "narrow: something was written"

# Stopped in the middle of the transfer (Ctrl+C; SIGTERM, as supervisors and time-outs
# stop a program; Ctrl+C at 921600): the row is interrupted, the scanner stays in its
# loader (the safe state) but back at the speed it was found at, the last line says so,
# and the record is written.
stop_mid_transfer() {
    local name=$1 signal=$2 code=$3 transfer=${4:-6}
    # At 921600 the module would be through before the stop: each reply waits 30 ms.
    local slow=()
    [ "$transfer" = 6 ] || slow=(--turnaround-us 30000)
    flash_sim "$name" 36 --speed 4 --line-rate "${slow[@]}"
    cli_start update --port "$(port "$name")" --firmware "$firmware_arg" --log "$log_arg" \
        --transfer-speed "$transfer"
    wait_until 30 state_has "$name" "speed $transfer" || fail "$name: the transfer never began"
    kill -"$signal" "$cli_pid"
    cli_wait
    expect_rc "$code" "$signal during the transfer"
    grep -qx 'Обновление прошивки: Прервано' "$work/cli.out" || fail "$name: the row was not interrupted"
    [ "$(tail -n 1 "$work/cli.out")" = "$loader_note_38400" ] || fail "$name: last line"
    wait_until 2 state_has "$name" "speed 4" || fail "$name: not back at 38400"
    state_has "$name" "mode loader" || fail "$name: not in its loader"
    tail -n 1 "$work/results.jsonl" | jq -e --arg note "$loader_note_38400" \
        '.rows[0].status == "Прервано" and .failure == $note and .ok == false' >/dev/null ||
        fail "$name: record $(tail -n 1 "$work/results.jsonl")"
    stop_sim
}
stop_mid_transfer interrupted INT 130
stop_mid_transfer interrupted921600 INT 130 9
if [ "$platform" = posix ]; then
    stop_mid_transfer terminated TERM 143
fi

# A scanner pulled mid-transfer: its line stops halfway through a reply and its port is
# gone. The tool names the port within seconds and exits 1, not 3 (no scanner answered).
flash_sim pulled 36 --fault 0x9C:cut
pulled_at=$SECONDS
cli update --port "$(port pulled)" --firmware "$firmware_arg"
expect_rc 1 "update on a pulled scanner"
grep -qF "Сканер или адаптер отключён от порта $(port pulled). Проверьте подключение и повторите." \
    "$work/cli.err" || fail "no disconnected message"
[ $((SECONDS - pulled_at)) -le 10 ] || fail "the pull was told after $((SECONDS - pulled_at)) s"
stop_sim

# Ctrl+C while the scanner restarts into its loader: the row is interrupted at the next
# pump of the wait, and the tool ends with 130.
flash_sim slow 36 --restart-ms 60000
cli_start update --port "$(port slow)" --firmware "$firmware_arg"
wait_until 30 state_has slow "mode restarting" || fail "the scanner was never switched"
kill -INT "$cli_pid"
cli_wait
expect_rc 130 "Ctrl+C during the mode switch"
grep -qx 'Обновление прошивки: Прервано' "$work/cli.out" || fail "the row was not interrupted"
! grep -q ': OK$' "$work/cli.out" || fail "a row reported OK after Ctrl+C"
stop_sim

# Random faults on a few per cent of the replies, fixed seeds.
if [ "$platform" = win32 ]; then seeds="3 5 8"; else seeds="1 2 3 4 5 6 7 8"; fi
number=37
ok_runs=0
for seed in $seeds; do
    name=faulty$seed
    flash_sim "$name" "$number" --speed 5 --fault-rate 0.04 --seed "$seed"
    cli update --port "$(port "$name")" --firmware "$firmware_arg" --speed 5 --retry 2
    if [ "$rc" -eq 0 ]; then
        expect_rows_ok "$name"
        expect_flashed "$name"
        ok_runs=$((ok_runs + 1))
    else
        [ -s "$work/cli.err" ] || fail "$name: exit $rc without a message"
        stop_sim
        ! grep -q '^Переход в рабочий режим: OK$' "$work/cli.out" ||
            fail "$name: failed run with both rows OK"
    fi
    number=$((number == 39 ? 37 : number + 1))
done
[ "$ok_runs" -gt 0 ] || fail "no run under faults succeeded"

"$root/tests/e2e/validate_records.py" "$root/docs/result-record.schema.json" "$work/results.jsonl" ||
    fail "records against the schema"
echo "cli_update ($platform): ok, $ok_runs of $(echo $seeds | wc -w) faulty runs flashed"
