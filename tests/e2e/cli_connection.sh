#!/usr/bin/env bash
# trelvo-cli against simulated scanners on pseudo-terminals: the port list, the link
# check, device information, a speed change recorded in the settings file and found
# again, the search over a scanner, a silent port and a missing one, usage errors and
# Ctrl+C.
#
# Arguments: build folder, native build folder (holding trelvo-sim), platform.
source "$(dirname "$0")/cli_common.bash" "$@"

model='Ручной сканер "Pellar II"'

start_sim scanner 31 --speed 2 --restart-ms 300
# Hears everything and never answers.
start_sim silent 32 --fault any:noreply:4000000000
if [ "$platform" = win32 ]; then
    missing=COM33
    settings_arg=Z:$work/trelvo.ini
else
    missing=$work/missing
    settings_arg=$work/trelvo.ini
fi

cli ports
expect_rc 0 ports
if [ "$platform" = win32 ]; then
    grep -qx COM31 "$work/cli.out" || fail "ports does not list COM31"
    grep -qx COM32 "$work/cli.out" || fail "ports does not list COM32"
fi

printf '; written by hand\n[Connect]\nPortName=%s\nBaudRate=2\nTimeout=1000\n[Other]\nkey=kept\n' \
    "$(port scanner)" >"$work/trelvo.ini"

cli --settings "$settings_arg" check
expect_rc 0 "check at the settings file's speed"
expect_out "$model" check

# A settings file the Windows program wrote (its first save: UTF-16 with its byte-order
# mark) is read by the tool on Linux and written back in UTF-16, every key kept.
if [ "$platform" = win32 ]; then
    saved=$work/saved.ini
    TRELVO_SAVED_SETTINGS=$(winepath -w "$saved" 2>/dev/null) TRELVO_SAVED_PORT=$work/scanner \
        wine "$build/trelvo_tests.exe" --gtest_filter=PrivateProfileFile.TheProgramsFirstSaveIsUtf16WithItsMark \
        >"$work/saved.log" 2>&1 || fail "the Windows build did not save its settings: $(cat "$work/saved.log")"
    utf16_mark() { head -c 2 "$saved" | od -An -tx1 | tr -d ' \n'; }
    [ "$(utf16_mark)" = fffe ] || fail "the Windows build's settings file is not UTF-16"
    rc=0
    "$native/trelvo-cli" --settings "$saved" set-speed 3 >"$work/cli.out" 2>"$work/cli.err" || rc=$?
    expect_rc 0 "set-speed natively with the Windows build's settings file"
    [ "$(utf16_mark)" = fffe ] || fail "the settings file lost its UTF-16 on the way back"
    decoded=$(iconv -f UTF-16 -t UTF-8 "$saved" | tr -d '\r')
    grep -qx 'BaudRate=3' <<<"$decoded" || fail "BaudRate not recorded in UTF-16: $decoded"
    grep -qx 'FileName=C:\\Прошивки\\demo.ldr' <<<"$decoded" || fail "a key was lost: $decoded"
    rc=0
    "$native/trelvo-cli" --settings "$saved" set-speed 2 >"$work/cli.out" 2>"$work/cli.err" || rc=$?
    expect_rc 0 "the scanner back at 9600"
fi

cli info --settings "$settings_arg"
expect_rc 0 info
[ "$(wc -l <"$work/cli.out")" -eq 13 ] || fail "info: not 13 lines"
grep -q $'^Заводской номер\t\t\t: 1234567$' "$work/cli.out" || fail "info: no serial number line"
grep -q $'^\tBlackfin (расш.)\t\t: 0.17$' "$work/cli.out" || fail "info: no extended version line"
state_has scanner "mode application" || fail "info left the scanner out of its application"

cli --settings "$settings_arg" set-speed 5
expect_rc 0 "set-speed 5"
expect_out 57600 "set-speed 5"
wait_until 2 state_has scanner "speed 5" || fail "the simulator is not at speed 5"
tr -d '\r' <"$work/trelvo.ini" | grep -qx 'BaudRate=5' || fail "BaudRate not recorded"
tr -d '\r' <"$work/trelvo.ini" | grep -qx 'key=kept' || fail "a foreign key was lost"
tr -d '\r' <"$work/trelvo.ini" | grep -qx '; written by hand' || fail "a comment was lost"

cli --settings "$settings_arg" check
expect_rc 0 "check at the new speed from the settings file"
expect_out "$model" "check at 57600"
cli --settings "$settings_arg" check --speed 2
expect_rc 3 "check at the old speed"
expect_out "Не обнаружено" "check at 9600"

cli search "$(port silent)" "$(port scanner)" "$missing"
expect_rc 0 search
[ "$(sed -n 1p "$work/cli.out")" = "$(port silent)"$'\t-\tНе обнаружено' ] || fail "search: silent port"
[ "$(sed -n 2p "$work/cli.out")" = "$(port scanner)"$'\t57600\t'"$model" ] || fail "search: scanner"
case "$(sed -n 3p "$work/cli.out")" in
    "$missing"$'\t-\t'?*) ;;
    *) fail "search: missing port" ;;
esac
[ "$(wc -l <"$work/cli.out")" -eq 3 ] || fail "search: not 3 lines"

cli search "$(port silent)"
expect_rc 3 "search without a scanner"

# --json: one document per command, numbers as numbers, texts as the lines have them.
expect_json() {
    jq -e --arg model "$model" "$1" "$work/cli.out" >/dev/null || fail "$2: $(cat "$work/cli.out")"
    [ "$(wc -l <"$work/cli.out")" -eq 1 ] || fail "$2: not one line"
}
cli ports --json
expect_rc 0 "ports --json"
if [ "$platform" = win32 ]; then
    expect_json '[.ports[].name] | index("COM31") != null' "ports --json"
else
    expect_json '.ports | type == "array"' "ports --json"
fi
cli --settings "$settings_arg" check --json
expect_rc 0 "check --json"
expect_json '.found == true and .model == $model and .model_code == 150 and .text == $model' "check --json"
cli --settings "$settings_arg" check --json --speed 2
expect_rc 3 "check --json without an answer"
expect_json '.found == false and .model == null and .text == "Не обнаружено"' "check --json, no answer"
cli --settings "$settings_arg" info --json
expect_rc 0 "info --json"
expect_json '.serial == 1234567 and .model == $model and .production_date == "15.03.2024" and
    .hardware_version.blackfin == "2.0" and .loader_version.atmega == "1.1" and
    .program_version.blackfin_ext == "0.17"' "info --json"
cli search --json "$(port silent)" "$(port scanner)"
expect_rc 0 "search --json"
expect_json '.ports[0].baud == null and .ports[0].state == "Не обнаружено" and
    .ports[1].baud == 57600 and .ports[1].state == $model' "search --json"
"$ldr_make" "$work/fw.ldr" --random 1:3.6:0x10000:256:1024:1 >/dev/null || fail "ldr-make failed"
if [ "$platform" = win32 ]; then fw_arg=Z:$work/fw.ldr; else fw_arg=$work/fw.ldr; fi
cli modules --json "$fw_arg"
expect_rc 0 "modules --json"
expect_json '.modules == [{"kind": "Вычислительный модуль", "kind_code": 1, "version": "3.6", "size": 1024}]' \
    "modules --json"

cli check --port "$missing"
expect_rc 1 "check on a missing port"
[ -s "$work/cli.err" ] || fail "no message for a missing port"
[ ! -s "$work/cli.out" ] || fail "output for a missing port"

cli check --settings "$settings_arg" --speed 10
expect_rc 2 "speed code 10"
cli flash
expect_rc 2 "unknown command"
cli check --settings "Z:$work/none.ini"
expect_rc 2 "missing settings file"
cli --help
expect_rc 0 help
grep -q -- '--retry' "$work/cli.out" || fail "help does not name --retry"

# Ctrl+C during a search stops it at its next pump.
if [ "$platform" = posix ]; then
    cli_start search "$(port silent)"
    sleep 0.5
    kill -INT "$cli_pid"
    cli_wait
    expect_rc 130 "Ctrl+C during a search"
    expect_out "$(port silent)"$'\t-\tПоиск остановлен' "Ctrl+C during a search"
fi

echo "cli_connection ($platform): ok"
