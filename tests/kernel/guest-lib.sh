# Sourced by the scenarios inside the guest (busybox sh): the USB gadget, the simulator on
# its terminal, the tool's runs and the checks. Everything a check says goes to the
# console, which the host keeps as the guest's log.
gadget=/sys/kernel/config/usb_gadget/scanner
udc=dummy_udc.0
cli_exe=/scenario/bin/trelvo-cli
export ASAN_OPTIONS=detect_leaks=1

fail() {
    echo "FAIL: $*"
    for f in /tmp/cli.out /tmp/cli.err; do
        [ -s "$f" ] && { echo "--- $f"; cat "$f"; }
    done
    [ -f /tmp/sim.err ] && { echo "--- simulator"; cat /tmp/sim.err; }
    # The port's events of the last traced run, without its frames.
    [ -f /tmp/trace ] && { echo "--- trace events"; grep "	\*	" /tmp/trace | grep -v "purge\|timeout" | tail -n 30; }
    # The host's summary leaves out the console's kernel lines, which start with "[".
    echo "--- kernel (USB and serial)"
    dmesg | grep -i "usb\|tty\|ftdi\|acm\|xhci" | tail -n 12 | sed 's/^/  /'
    exit 1
}

step() {
    echo "== $*"
}

# wait_for TENTHS COMMAND...: polls the command every 0.1 s.
wait_for() {
    local limit=$1 i=0
    shift
    until "$@"; do
        i=$((i + 1))
        [ "$i" -lt "$limit" ] || return 1
        sleep 0.1
    done
}

# gadget_up SERIAL: the scanner as a USB CDC ACM gadget (0647:3339 with that serial
# string) on the dummy controller; the program's side is /dev/ttyACM0 on cdc_acm.
gadget_up() {
    modprobe dummy_hcd && modprobe libcomposite && modprobe usb_f_acm && modprobe cdc_acm ||
        fail "USB modules did not load"
    mkdir -p "$gadget" || fail "no configfs"
    echo 0x0647 >"$gadget/idVendor"
    echo 0x3339 >"$gadget/idProduct"
    mkdir -p "$gadget/strings/0x409" "$gadget/configs/c.1" "$gadget/functions/acm.usb0"
    echo "$1" >"$gadget/strings/0x409/serialnumber"
    ln -s "$gadget/functions/acm.usb0" "$gadget/configs/c.1/"
    echo "$udc" >"$gadget/UDC"
    wait_for 50 test -c /dev/ttyACM0 || fail "no /dev/ttyACM0 after binding the gadget"
}

# usb_sim OPTIONS...: trelvo-sim on the gadget's side, restarting through unbind and bind
# (the gadget bound first if it is not: a simulator that ends takes its scanner off the bus).
usb_sim() {
    if [ -z "$(cat "$gadget/UDC")" ]; then
        echo "$udc" >"$gadget/UDC"
        wait_for 50 test -c /dev/ttyACM0 || fail "no /dev/ttyACM0 after binding the gadget"
    fi
    trelvo-sim --tty /dev/ttyGS0 --gadget "$gadget" --state /tmp/sim.state "$@" \
        >/tmp/sim.out 2>/tmp/sim.err &
    sim_pid=$!
    wait_for 50 test -s /tmp/sim.state || fail "the simulator wrote no state"
}

stop_sim() {
    kill "$sim_pid"
    wait "$sim_pid"
}

state_has() {
    grep -qx "$1" /tmp/sim.state
}

# cli ARGS...: the tool with its output in /tmp/cli.out and /tmp/cli.err, its exit code
# in $rc. cli_start runs it in the background (cli_pid), cli_wait waits for it.
cli() {
    cli_start "$@"
    cli_wait
}

cli_start() {
    # The last run's files go first. The shell truncates them only in the child it forks,
    # so a check on them could otherwise see the last run's progress before this one has
    # begun, and signal a program that has not yet installed its handlers: the shell
    # starts background programs with SIGINT ignored.
    rm -f /tmp/cli.out /tmp/cli.err /tmp/trace
    "$cli_exe" "$@" </dev/null >/tmp/cli.out 2>/tmp/cli.err &
    cli_pid=$!
}

cli_wait() {
    rc=0
    wait "$cli_pid" || rc=$?
}

expect_rc() {
    [ "$rc" -eq "$1" ] || fail "exit code $rc, want $1 ($2)"
}

# The number of times the kernel saw the scanner arrive on the bus.
usb_arrivals() {
    dmesg | grep -c 'idVendor=0647, idProduct=3339'
}
