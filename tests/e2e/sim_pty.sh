#!/usr/bin/env bash
# The pty simulator from the outside: it answers on its pseudo-terminal, hears nothing
# from a host at another speed, changes speed and mode, takes a memory write and judges
# it against an .ldr module, re-creates its pty behind the link as a USB scanner does,
# and ends on SIGTERM with its link removed.
#
# Arguments: build folder, native build folder (holding trelvo-sim), platform. On win32
# the requests go through the Windows build's sim-line.exe under Wine, on a COM port
# whose dosdevices link points at the simulator's link.
set -euo pipefail
source "$(dirname "$0")/e2e_common.bash"

e2e_arguments "$@"
work=$(mktemp -d)
pids=()

cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
    if [ "$platform" = win32 ]; then
        rm -f "$WINEPREFIX/dosdevices/com21"
    fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ "$platform" = win32 ]; then
    use_wine_prefix "${WINEPREFIX:-$build/wineprefix}"
    ln -sfn "$work/link" "$WINEPREFIX/dosdevices/com21"
fi

# line BAUD OPCODE [PARAM...]: one request through the host side; prints the tool's line.
line() {
    if [ "$platform" = win32 ]; then
        wine "$build/sim-line.exe" COM21 "$1" 500 "${@:2}" | tr -d '\r'
    else
        "$build/sim-line" "$work/link" "$1" 500 "${@:2}"
    fi
}

expect_line() {
    local want=$1 got
    shift
    got=$(line "$@" || true)
    [ "$got" = "$want" ] || fail "line $*: got '$got', want '$want'"
}

# start NAME OPTIONS...: runs the simulator with its link and state in the work folder.
start() {
    local name=$1
    shift
    "$sim" --link "$work/link" --state "$work/$name.state" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    pids+=($!)
    wait_until 5 test -s "$work/$name.out" || fail "$name printed no pty path"
    [ "$(readlink "$work/link")" = "$(head -n 1 "$work/$name.out")" ] || fail "$name: link not at its pty"
}

state_has() {
    grep -qx "$2" "$work/$1.state"
}

# stop NAME: SIGTERM ends it with status 0 and removes the link.
stop() {
    local pid=${pids[-1]} status=0
    kill -TERM "$pid"
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$1 ended with status $status on SIGTERM"
    [ ! -e "$work/link" ] && [ ! -L "$work/link" ] || fail "$1 left its link behind"
    unset 'pids[-1]'
}

# --- Replies, speed mismatch, speed change and mode switch -----------------------------
start plain --model 201 --restart-ms 300
expect_line "reply 9E 00 00 00 00 00 C9" 9600 0x9E 0
expect_line "silent" 19200 0x9E 0
wait_until 2 state_has plain "commands 1" || fail "a garbled request was heard"
expect_line "reply A1 00" 9600 0xA1 5
expect_line "silent" 9600 0xA1
expect_line "reply A1 00 05" 57600 0xA1
expect_line "reply 9F 00" 57600 0x9F 2 2 0 0
wait_until 3 state_has plain "mode loader" || fail "no loader after the switch"
expect_line "reply 9F 00 02 02 00 80" 57600 0x9F
stop plain

# --- A reply sent at one speed and read at another arrives as garbage ------------------
start late --line-rate --turnaround-us 400000
got=$(line 9600/19200 0x9E 0 || true)
case "$got" in
    "garbage "*) ;;
    *) fail "a reply read at the wrong speed gave '$got'" ;;
esac
[ "$(wc -w <<<"$got")" -eq 11 ] || fail "garbled reply is not 10 bytes: '$got'"
stop late

# --- A module written in the loader and judged against the .ldr file -------------------
# "#LDR", version 0x0100, one computational module: version 2.3, one block of 4 bytes at
# 0x100.
printf '#LDR\x00\x01\x01\x00\x03\x02\x01\x00\x00\x00\x04\x00\x00\x00\x00\x01\x00\x00\xde\xad\xbe\xef' \
    >"$work/image.ldr"
start flash --mode 1 --expect-ldr "$work/image.ldr" --dump "$work/dump.bin" 0x100 4
expect_line "reply 9C 00" 9600 0x9C 0 1 0 0 0xDE 0xAD 0xBE
wait_until 2 state_has flash "image differs" || fail "a partial image was accepted"
expect_line "reply 9C 00" 9600 0x9C 3 1 0 0 0xEF
wait_until 2 state_has flash "image match" || fail "the module's image was not recognised"
expect_line "reply 9F 00 02 03 00 80" 9600 0x9F
printf '\xde\xad\xbe\xef' | cmp -s - "$work/dump.bin" || fail "dump differs from the module"
stop flash

# --- A USB scanner: the pty vanishes for the restart and comes back behind the link ----
start usb --usb --restart-ms 1000 --speed 6
expect_line "reply 9F 00" 9600 0x9F 2 2 0 0
wait_until 2 test ! -L "$work/link" || fail "the USB pty did not vanish"
wait_until 5 test -L "$work/link" || fail "the USB pty did not come back"
[ "$(wc -l <"$work/usb.out")" -eq 2 ] || fail "no second pty path printed"
[ "$(readlink "$work/link")" = "$(tail -n 1 "$work/usb.out")" ] || fail "link not at the new pty"
expect_line "reply 9F 00 02 02 00 80" 9600 0x9F
stop usb

echo "sim_pty: all checks passed"
